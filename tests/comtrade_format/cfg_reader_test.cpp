// Reading a .cfg into the record model and the channel name lists.
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "record_fixture.h"

namespace {

using CfgReaderTest = RecordTest;

const std::string kWorkedExample =
    "North,REC01,1999\r\n"
    "4,1A,3D\r\n"
    "1,Ua,A,,kV,0.01,0.5,0,-32767,32767,10,0.1,S\r\n"
    "3,Trip,,,1\r\n"
    "4,Close,,,0\r\n"
    "5,Alarm,\r\n"
    "50\r\n"
    "1\r\n"
    "1200,2400\r\n"
    "01/01/2020,00:00:00.000000\r\n"
    "01/01/2020,00:00:00.100000\r\n"
    "ASCII\r\n"
    "1\r\n";

TEST_F(CfgReaderTest, ReadsTheWorkedExampleFields) {
  ComTrade_format rec(write_cfg("r1", kWorkedExample));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  const cmtr_cfg_info& cfg = rec.cfg();
  EXPECT_STREQ("North", cfg.station_name);
  EXPECT_EQ(1, cfg.ai_num);
  EXPECT_EQ(3, cfg.di_num);
  EXPECT_EQ(1, cfg.analogs[0].index);
  EXPECT_STREQ("Ua", cfg.analogs[0].name);
  EXPECT_DOUBLE_EQ(0.01, cfg.analogs[0].factor_a);
  EXPECT_DOUBLE_EQ(0.5, cfg.analogs[0].factor_b);
  EXPECT_DOUBLE_EQ(-327.17, cfg.analogs[0].smp_min);
  EXPECT_DOUBLE_EQ(328.17, cfg.analogs[0].smp_max);
  EXPECT_EQ(3, cfg.digitals[0].index);
  EXPECT_STREQ("Trip", cfg.digitals[0].name);
  EXPECT_EQ('1', cfg.digitals[0].state);
  EXPECT_EQ('0', cfg.digitals[1].state);
  // Nothing after the name's comma: no character to take.
  EXPECT_EQ(0, cfg.digitals[2].state);
  EXPECT_EQ(2400, cfg.samp_count);
  EXPECT_STREQ("01/01/2020,00:00:00.000000", cfg.start_time);
  EXPECT_STREQ("01/01/2020,00:00:00.100000", cfg.end_time);
  EXPECT_STREQ("ASCII", cfg.file_type);
  EXPECT_EQ(std::vector<std::string>{"Ua"}, AI_VEC);
  EXPECT_EQ((std::vector<std::string>{"Trip", "Close", "Alarm"}), DI_VEC);
}

TEST_F(CfgReaderTest, PrintsTheDiagnosticsLineByLine) {
  const std::string path = write_cfg("r1", kWorkedExample);
  ComTrade_format rec(path);
  const std::string out = captured_stdout([&] { rec.Get_cmtr_cfg_info(); });
  const std::string expected =
      "check file success: " + path + ".cfg\n"
      "station_name: Northai_num: 1\xA3\xAC" "di_num: 3\n"
      "1 ana_desc: Ua ,m_cfg_info.analogs[i].name :Ua ,factor_a: 0.01, factor_b:0.5,"
      " smp_min:-32767, smp_max:32767\n"
      "AI_VEC.size(): 1\n"
      "3,dig_desc: Trip,state: 1\n"
      "4,dig_desc: Close,state: 0\n"
      "5,dig_desc: Alarm,state: \n"
      "DI_VEC.size(): 3\n"
      "samp_count:2400\n"
      "start_time:01/01/2020,00:00:00.000000\n"
      "end_time: 01/01/2020,00:00:00.100000\n"
      "file_type: ASCII\n";
  EXPECT_EQ(expected, out);
}

TEST_F(CfgReaderTest, TakesCountsBetweenCommaAndLetters) {
  ComTrade_format rec(write_cfg("r1", "S,D,1999\n12,8A,4D\n"));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(8, rec.cfg().ai_num);
  EXPECT_EQ(4, rec.cfg().di_num);
  EXPECT_TRUE(AI_VEC.empty());
}

TEST_F(CfgReaderTest, TakesSampleCountAfterTheFirstCommaOrTheWholeLine) {
  struct Case {
    const char* rate_line;
    int samp_count;
  } cases[] = {{"1200,2400", 2400}, {"2400", 2400}, {"1000.5, 77", 77}};
  for (const Case& c : cases) {
    ComTrade_format rec(write_cfg("r", std::string("S\n0,0A,0D\n50\n1\n") + c.rate_line + "\n"));
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info()) << c.rate_line;
    EXPECT_EQ(c.samp_count, rec.cfg().samp_count) << c.rate_line;
  }
}

TEST_F(CfgReaderTest, ReadsEveryRateLineOfSeveralSamplingRates) {
  for (int rates = 2; rates <= 3; ++rates) {
    std::string text = "S\n1,0A,1D\n1,Trip,,,0\n50\n" + std::to_string(rates) + "\n";
    for (int r = 1; r <= rates; ++r) text += std::to_string(1000 * r) + "," + std::to_string(100 * r) + "\n";
    text += "01/01/2020,00:00:00.0\n01/01/2020,00:00:01.0\nBINARY\n1\n";
    ComTrade_format rec(write_cfg("r", text));
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
    EXPECT_EQ(100 * rates, rec.cfg().samp_count) << rates;
    EXPECT_STREQ("01/01/2020,00:00:00.0", rec.cfg().start_time) << rates;
    EXPECT_STREQ("01/01/2020,00:00:01.0", rec.cfg().end_time) << rates;
    EXPECT_EQ(kFileTypeBinary, rec.Get_file_type()) << rates;
  }
}

TEST_F(CfgReaderTest, ReadsHeaderNumbersAsStrtodDoes) {
  // The plain reading: strtod up to the first NUL, then blanks only.
  const auto strtod_number = [](const std::string& text) -> std::optional<double> {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return std::nullopt;
    return value;
  };
  const std::vector<std::string> texts = {
      "50",  " 60.0 ", "+50", "0x10", "1e3", "12abc", "-0", "1e-400", "1e400", "inf", "\t7\t",
      "1.5.", "",      "49.99999999999999999", "5 0", "-", "0.1e", "-.5", ".5", std::string("7\0" "8", 3)};
  for (const std::string& frequency : texts) {
    ComTrade_format rec(
        write_cfg("r", "S\n0,0A,0D\n" + frequency + "\n1\n1000,5\n01/01/2020,0\n01/01/2020,1\nASCII\n"));
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info()) << frequency;
    const std::optional<double> expected = strtod_number(frequency);
    const std::optional<double> read = rec.header().frequency;
    ASSERT_EQ(expected.has_value(), read.has_value()) << frequency;
    if (expected) {
      EXPECT_EQ(*expected, *read) << frequency;
      EXPECT_EQ(std::signbit(*expected), std::signbit(*read)) << frequency;
    }
  }
}

TEST_F(CfgReaderTest, CountsAnUnreadableRateNumberAsOneRate) {
  for (const char* rates : {"0", "x", "", "-2", "1.0"}) {
    ComTrade_format rec(write_cfg("r", std::string("S\n0,0A,0D\n50\n") + rates +
                                           "\n1000,5\n01/01/2020,0\n01/01/2020,1\nASCII\n"));
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info()) << rates;
    EXPECT_EQ(5, rec.cfg().samp_count) << rates;
    EXPECT_EQ(kFileTypeAscii, rec.Get_file_type()) << rates;
  }
}

TEST_F(CfgReaderTest, StopsQuietlyWhereTheFileEnds) {
  ComTrade_format rec(write_cfg("r", "S,D,1999\n"));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_STREQ("S", rec.cfg().station_name);
  EXPECT_EQ(0, rec.cfg().ai_num);
  EXPECT_EQ(0, rec.cfg().di_num);
  EXPECT_EQ(0, rec.cfg().samp_count);
  EXPECT_TRUE(AI_VEC.empty());
  EXPECT_TRUE(DI_VEC.empty());

  // Channel lines announced but absent: the records stay empty at the end.
  ComTrade_format cut(write_cfg("c", "S\n3,2A,1D\n1,Ia,,,A,1,0,0,-1,1\n"));
  ASSERT_EQ(kCfgReadOk, cut.Get_cmtr_cfg_info());
  EXPECT_EQ(std::vector<std::string>{"Ia"}, AI_VEC);
  EXPECT_TRUE(DI_VEC.empty());
  EXPECT_EQ(1u, cut.cfg().analogs.size());
  EXPECT_TRUE(cut.cfg().digitals.empty());
  EXPECT_STREQ("", cut.cfg().file_type);
}

TEST_F(CfgReaderTest, ShortAnalogLineTakesItsLastFieldAgain) {
  ComTrade_format rec(write_cfg("r", "S\n1,1A,0D\n7,Ub,A,,kV,0.5\n"));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  const analog_info& analog = rec.cfg().analogs[0];
  EXPECT_EQ(7, analog.index);
  EXPECT_STREQ("Ub", analog.name);
  EXPECT_DOUBLE_EQ(0.5, analog.factor_a);
  EXPECT_DOUBLE_EQ(0.5, analog.factor_b);
  // Both limits take the 0.5 again: 0.5 * 0.5 + 0.5.
  EXPECT_DOUBLE_EQ(0.75, analog.smp_min);
  EXPECT_DOUBLE_EQ(0.75, analog.smp_max);
}

// The limits are decimals: 2013 records write reals, 32-bit ones reach 2^31.
TEST_F(CfgReaderTest, ConvertsTheLimitsAsDecimalNumbers) {
  struct Case {
    const char* limits;
    double min;
    double max;
  } cases[] = {{"-289.065002,289.065002", -289.065002 * 2 + 1, 289.065002 * 2 + 1},
               {"-2147483648,2147483648", -2147483648.0 * 2 + 1, 2147483648.0 * 2 + 1},
               {" -3.40282347E+38,1e3x", -3.40282347E+38 * 2 + 1, 2001},
               {"-32767,32767", -65533, 65535},
               {"+5,0x10", 11, 33},
               {"1.,\t2e0", 3, 5},
               {"0,-.5", 1, 0},
               {"0,inf", 1, HUGE_VAL}};
  for (const Case& c : cases) {
    ComTrade_format rec(write_cfg("r", std::string("S\n1,1A,0D\n1,Ia,,,A,2,1,0,") + c.limits + ",1,1,S\n"));
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info()) << c.limits;
    EXPECT_DOUBLE_EQ(c.min, rec.cfg().analogs[0].smp_min) << c.limits;
    EXPECT_DOUBLE_EQ(c.max, rec.cfg().analogs[0].smp_max) << c.limits;
  }
}

TEST_F(CfgReaderTest, ReadsMoreThan127ChannelsOfAKind) {
  ComTrade_format rec(write_cfg("r", make_cfg(3, 200, 10, "BINARY")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(200, rec.cfg().di_num);
  ASSERT_EQ(200u, DI_VEC.size());
  EXPECT_EQ("D200", DI_VEC[199]);
  EXPECT_STREQ("D200", rec.cfg().digitals[199].name);
  EXPECT_EQ(10, rec.cfg().samp_count);
}

TEST_F(CfgReaderTest, HoldsAsManyChannelsAsTheFileHasLines) {
  ComTrade_format rec(write_cfg("r", make_cfg(600, 600, 10, "ASCII")));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(600u, rec.cfg().analogs.size());
  EXPECT_EQ(600u, rec.cfg().digitals.size());
  EXPECT_EQ("A600", AI_VEC.back());
  EXPECT_STREQ("D600", rec.cfg().digitals[599].name);
  EXPECT_EQ(10, rec.cfg().samp_count);

  // A count the file cannot hold costs the lines that are there, nothing more.
  ComTrade_format huge(write_cfg("h", "S\n2000000003,2000000000A,2000000000D\n"
                                      "1,Ia,,,A,1,0,0,-1,1\n2,Ib,,,A,1,0,0,-1,1\n3,Ic,,,A,1,0,0,-1,1\n"));
  ASSERT_EQ(kCfgReadOk, huge.Get_cmtr_cfg_info());
  EXPECT_EQ(2000000000, huge.cfg().ai_num);
  EXPECT_EQ(3u, huge.cfg().analogs.size());
  EXPECT_LE(huge.cfg().analogs.capacity(), 4u);
  EXPECT_EQ((std::vector<std::string>{"Ia", "Ib", "Ic"}), AI_VEC);
}

TEST_F(CfgReaderTest, NegativeCountsReadNoChannelLines) {
  ComTrade_format rec(write_cfg("r", "S\n-3,-2A,-1D\n50\n1\n1000,9\n"));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(-2, rec.cfg().ai_num);
  EXPECT_EQ(-1, rec.cfg().di_num);
  EXPECT_TRUE(AI_VEC.empty());
  EXPECT_EQ(9, rec.cfg().samp_count);
}

TEST_F(CfgReaderTest, CutsLongTextsTheSameWayEverywhere) {
  const std::string long_name(200, 'n');
  const std::string long_station(100, 's');
  ComTrade_format rec(write_cfg("r", long_station + ",D\n2,1A,1D\n1," + long_name +
                                         ",,,V,1,0,0,-1,1\n1," + long_name + ",,,1\n"));
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(std::string(63, 's'), rec.cfg().station_name);
  const std::string cut(kNameField - 1, 'n');
  EXPECT_EQ(cut, rec.cfg().analogs[0].name);
  EXPECT_EQ(cut, rec.cfg().digitals[0].name);
  EXPECT_EQ(std::vector<std::string>{cut}, AI_VEC);
  EXPECT_EQ(std::vector<std::string>{cut}, DI_VEC);
}

TEST_F(CfgReaderTest, OpensTheCfgWhateverTheCaseOfItsName) {
  write_file("B_02.CFG", make_cfg(1, 0, 1, "ASCII"));
  ComTrade_format rec((m_dir / "B_02").string());
  EXPECT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  EXPECT_EQ(std::vector<std::string>{"A1"}, AI_VEC);
}

TEST_F(CfgReaderTest, KnowsTheFileTypesWhateverTheirCaseAndBlanks) {
  struct Case {
    const char* type;
    int expected;
  } cases[] = {{"ASCII", kFileTypeAscii},        {"Ascii", kFileTypeAscii},
               {"BINARY", kFileTypeBinary},      {" binary\t", kFileTypeBinary},
               {"BINARY32 ", kFileTypeBinary32}, {"Binary32", kFileTypeBinary32},
               {"float32", kFileTypeFloat32},    {"FLOAT32\r", kFileTypeFloat32},
               {"", kFileTypeUnknown},           {"BINARY 32", kFileTypeUnknown},
               {"FLOAT64", kFileTypeUnknown},    {"ASCII,", kFileTypeUnknown}};
  for (const Case& c : cases) {
    ComTrade_format rec(write_cfg("r", make_cfg(1, 1, 1, c.type)));
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
    EXPECT_EQ(c.expected, rec.Get_file_type()) << '"' << c.type << '"';
  }
}

// Error paths

TEST_F(CfgReaderTest, MissingFileEmptiesTheNameListsOfAnEarlierRead) {
  ComTrade_format first(write_cfg("r", make_cfg(2, 2, 1, "ASCII")));
  ASSERT_EQ(kCfgReadOk, first.Get_cmtr_cfg_info());
  ASSERT_EQ(2u, AI_VEC.size());

  const std::string missing = (m_dir / "nothing").string();
  ComTrade_format rec(missing);
  std::string out = captured_stdout([&] { EXPECT_EQ(kCfgReadFailed, rec.Get_cmtr_cfg_info()); });
  EXPECT_EQ("check no such file: " + missing + ".cfg\n", out);
  EXPECT_TRUE(AI_VEC.empty());
  EXPECT_TRUE(DI_VEC.empty());
}

TEST_F(CfgReaderTest, EmptyFileHasNoFirstLine) {
  const std::string path = write_cfg("r", "");
  ComTrade_format rec(path);
  std::string out = captured_stdout([&] { EXPECT_EQ(kCfgReadFailed, rec.Get_cmtr_cfg_info()); });
  EXPECT_NE(std::string::npos, out.find("read file line failure:" + path + ".cfg\n"));
}

TEST_F(CfgReaderTest, BadNumbersThrowAndKeepTheNamesAlreadyRead) {
  ComTrade_format bad_factor(write_cfg(
      "r", "S\n2,2A,0D\n1,Ia,,,A,1,0,0,-1,1\n2,Ib,,,A,x,0,0,-1,1\n"));
  EXPECT_THROW(bad_factor.Get_cmtr_cfg_info(), std::invalid_argument);
  EXPECT_EQ((std::vector<std::string>{"Ia", "Ib"}), AI_VEC);

  ComTrade_format bad_count(write_cfg("c", "S\n2,xA,0D\n"));
  EXPECT_THROW(bad_count.Get_cmtr_cfg_info(), std::invalid_argument);

  ComTrade_format huge_max(write_cfg("h", "S\n1,1A,0D\n1,Ia,,,A,1,0,0,-1,1e999\n"));
  EXPECT_THROW(huge_max.Get_cmtr_cfg_info(), std::out_of_range);
  EXPECT_EQ(std::vector<std::string>{"Ia"}, AI_VEC);

  // stod's range: a subnormal limit is out of it.
  ComTrade_format tiny(write_cfg("t", "S\n1,1A,0D\n1,Ia,,,A,1,0,0,1e-310,1\n"));
  EXPECT_THROW(tiny.Get_cmtr_cfg_info(), std::out_of_range);

  ComTrade_format no_digits(write_cfg("n", "S\n1,1A,0D\n1,Ia,,,A,1,0,0,-1,max\n"));
  EXPECT_THROW(no_digits.Get_cmtr_cfg_info(), std::invalid_argument);

  ComTrade_format bad_samples(write_cfg("s", "S\n0,0A,0D\n50\n1\n1000,many\n"));
  EXPECT_THROW(bad_samples.Get_cmtr_cfg_info(), std::invalid_argument);
}

}  // namespace
