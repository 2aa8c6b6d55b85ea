// Station and record names that try to leave the record root, in every
// spelling a client could send: none of them is ever served, even where a
// record is waiting at the place the name points to.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service_fixture.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;

struct Spelling {
  std::string group;  // as JSON string content, escapes included
  std::string file;
};

// A record that would answer if a name reached it: its digital channel
// "Outside" never occurs inside the station directories.
const std::string kOutsideCfg =
    "OUT,REC,1999\n2,1A,1D\n1,Ia,,,A,1,0,0,-10,10,1,1,S\n1,Outside,,,0\n50\n1\n1000,2\n"
    "01/01/2020,00:00:00.000000\n01/01/2020,00:00:00.001000\nASCII\n";
const std::string kOutsideDat = "1,0,7,1\n2,1000,8,1\n";
const std::string kInsideCfg =
    "IN,REC,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-10,10,1,1,S\n50\n1\n1000,2\n"
    "01/01/2020,00:00:00.000000\n01/01/2020,00:00:00.001000\nASCII\n";
const std::string kInsideDat = "1,0,3\n2,1000,4\n";

class PathEscapeTest : public ServiceTest {
 protected:
  void SetUp() override {
    // The record root is a folder inside a folder of the test, so that
    // there is something outside it to reach for.
    m_root = m_base.path() / "records";
    e2e::write_record_files(m_root / "S1", "r", kInsideCfg, kInsideDat);
    fs::create_directories(m_root / "x");
    e2e::write_record_files(m_root, "r", kOutsideCfg, kOutsideDat);  // the root itself is no station
    e2e::write_record_files(m_base.path(), "r", kOutsideCfg, kOutsideDat);
    e2e::write_record_files(m_base.path() / "outside", "r", kOutsideCfg, kOutsideDat);
    e2e::Settings settings;
    settings.file_dir = m_root.string();
    start(settings);
  }
  std::string outside() const { return (m_base.path() / "outside").string(); }

  e2e::TempDir m_base;
  fs::path m_root;
};

std::vector<Spelling> escape_spellings(const std::string& outside_dir) {
  return {
      {"..", "r"},
      {"../outside", "r"},
      {"x/../..", "r"},
      {"S1/../..", "r"},
      {"S1", "../../r"},
      {"S1", "../../outside/r"},
      {"S1", "../r"},
      {".", "r"},
      {"", "r"},
      {"./S1/../..", "r"},
      {outside_dir, "r"},
      {"S1", outside_dir + "/r"},
      {"/", "r"},
      {"\\u002e\\u002e", "r"},
      {"S1", "\\u002e\\u002e\\u002f\\u002e\\u002e\\u002fr"},
      {"..\\\\outside", "r"},
      {"S1", "..\\\\..\\\\r"},
      {"\\\\\\\\?\\\\C:\\\\", "r"},
      {"C:", "r"},
      {"C:..", "r"},
      {"C:\\\\", "r"},
      {"S1", "C:r"},
      {"S1", "C:..\\\\..\\\\r"},
      {"..\\u0000", "r"},
      {"S1\\u0000", "r"},
      {"S1", "r\\u0000"},
      {"S1", "r.cfg\\u0000"},
      {"S1", "r\\u0000/../../../r"},
      {"%2e%2e", "r"},
      {"S1", "..%2f..%2fr"},
      {"...", "r"},
      {".. ", "r"},
      {"S1", "... "},
      // A "\" after a whole two-byte character is one, and so is a
      // separator after a lead byte.
      {"S1\x81" "\\\\" "\\\\" ".." "\\\\" "..", "r"},
      {"S1", "\x95" "\\\\" "\\\\" ".." "\\\\" ".." "\\\\" "r"},
      {"\x81/..", "r"},
      {"S1", "\x81/../../r"},
  };
}

TEST_F(PathEscapeTest, ServesTheRecordInsideTheRoot) {
  // Without this the checks below could pass on a service that serves nothing.
  EXPECT_NE(std::string::npos, ask("/getFileName_list", file_list_body("S1")).find("[\"r\"]"));
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("S1", "r")).find("\"result\":200"));
  EXPECT_EQ("{\"comDataList\":[[\"3.0000,4.0000\"]], \"errorinfo\":\"\", \"interval\" : 100, "
            "\"result\" : 200}",
            ask("/getFileInfo", channel_data_body("S1", "r", R"(["Ia","Outside"])")));
}

// 乗 is bytes 81 5C and 昞 is 95 5C: their trail byte is the byte of "\",
// yet each is one character, and such names are served like any other. In
// the JSON of requests and answers that byte is escaped, as "\\".
TEST_F(PathEscapeTest, ServesNamesWhoseCharactersEndInTheByteOfABackslash) {
  e2e::write_record_files(m_root / "T\x81\x5C", "r\x95\x5C", kInsideCfg, kInsideDat);
  const std::string station = "T\x81\\\\";
  const std::string record = "r\x95\\\\";
  EXPECT_NE(std::string::npos, ask("/getStationList", "{}").find("\"" + station + "\""));
  EXPECT_NE(std::string::npos,
            ask("/getFileName_list", file_list_body(station)).find("[\"" + record + "\"],\"result\":200"));
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body(station, record)).find("\"result\":200"));
  EXPECT_EQ("{\"comDataList\":[[\"3.0000,4.0000\"]], \"errorinfo\":\"\", \"interval\" : 100, "
            "\"result\" : 200}",
            ask("/getFileInfo", channel_data_body(station, record, R"(["Ia"])")));
  EXPECT_NE(std::string::npos,
            ask("/getRecordInfo", channel_info_body(station, record)).find("\"station\":\"IN\""));
  EXPECT_NE(std::string::npos,
            ask("/getWaveform", channel_data_body(station, record, R"(["Ia"])")).find("\"max\":[3.0000,4.0000]"));
}

TEST_F(PathEscapeTest, NeverServesARecordOutsideTheStationDirectories) {
  for (const Spelling& s : escape_spellings(outside())) {
    const std::string label = s.group + " | " + s.file;
    if (s.group != "S1") {
      const std::string list = ask("/getFileName_list", file_list_body(s.group));
      EXPECT_NE(std::string::npos, list.find("\"fileName_list\":0,\"result\":404")) << label << list;
    }
    const std::string info = ask("/getChannelInfo", channel_info_body(s.group, s.file));
    EXPECT_NE(std::string::npos, info.find("\"result\":2,")) << label << info;
    EXPECT_EQ(std::string::npos, info.find("Outside")) << label;
    EXPECT_EQ(kNoChannelData,
              ask("/getFileInfo", channel_data_body(s.group, s.file, R"(["Ia","Outside"])")))
        << label;
  }
}

TEST_F(PathEscapeTest, AnswersVeryLongNamesAsRecordsThatDoNotExist) {
  std::string climb;
  for (int i = 0; i < 30000; ++i) climb += "../";
  const std::vector<Spelling> spellings = {
      {std::string(100 * 1024, 'a'), "r"},
      {"S1", std::string(100 * 1024, 'r')},
      {std::string(256, 'a'), std::string(256, 'r')},
      {climb, "r"},
      {"S1", climb + "r"},
  };
  for (const Spelling& s : spellings) {
    const std::string label = s.group.substr(0, 20) + " | " + s.file.substr(0, 20);
    if (s.group != "S1") {
      EXPECT_NE(std::string::npos,
                ask("/getFileName_list", file_list_body(s.group)).find("\"result\":404"))
          << label;
    }
    EXPECT_NE(std::string::npos,
              ask("/getChannelInfo", channel_info_body(s.group, s.file)).find("\"result\":2,"))
        << label;
    EXPECT_EQ(kNoChannelData,
              ask("/getFileInfo", channel_data_body(s.group, s.file, R"(["Ia","Outside"])")))
        << label;
  }
  EXPECT_TRUE(answers());
}

}  // namespace
}  // namespace hostile
