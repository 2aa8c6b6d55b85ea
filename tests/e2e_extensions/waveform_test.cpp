// Min/max waveforms against the real binary, their buckets checked against
// the raw samples byte for byte: times from stamps, peaks kept, a binary
// file read only over its window, and numbers that are not finite.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "comtrade_gen/generator.h"
#include "extensions_fixture.h"
#include "support/hostile_support.h"

namespace {

using namespace extensions_e2e;

// Sampled at rate 0: the data file's time stamps times the time multiplier
// give the time, in either file type.
TEST_F(ExtensionsTest, TakesTheTimeOfARecordAtRateZeroFromItsStamps) {
  Samples samples;
  samples.a = {1};
  samples.b = {0};
  samples.analog = {5, -5, 7, 1, 2};
  samples.digital_count = 0;
  const std::vector<int> stamps = {0, 10, 25, 40, 100};
  for (const std::string type : {"ASCII", "BINARY"}) {
    SCOPED_TRACE(type);
    write("S/z.cfg", cfg_of(samples, type, "0\r\n0,5\r\n"));
    write("S/z.dat", dat_of(samples, type, stamps));
    EXPECT_EQ(200.0, parse(ask("/getRecordInfo", R"({"groupName":"S","fileName":"z"})").body)["record"]["durationUs"].asDouble());
    EXPECT_EQ(waveform_text({channel_entry(samples, "U1", true, 0, 0, 5, 2)}, 0, 5, 2, {0, 50, 200}),
              waveform("z", R"("channelList":["U1"],"points":3)"));
  }
}

// A one-sample spike in 100,000 samples survives 1000 buckets, in both file
// types; min and max come from the raw samples here. A negative factor turns
// a channel's lowest sample into its highest value. U10 lies too far from U1
// to be read with it.
TEST_F(ExtensionsTest, KeepsEveryPeakOfAHundredThousandSamplesInAThousandBuckets) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 10;
  spec.digital_count = 2;
  spec.samples = 100000;
  Samples samples = from_generator(comtrade_gen::generate(spec), 2);
  samples.a[0] = -samples.a[0];
  samples.analog[50123 * 10 + 1] = 32767;
  samples.analog[70001 * 10 + 0] = -32768;
  samples.analog[90001 * 10 + 9] = -32768;
  std::vector<double> times;
  for (int b = 0; b < 1000; ++b) times.push_back(b * 100 * 100.0);
  const std::string expected =
      waveform_text({channel_entry(samples, "U2", true, 1, 0, 100000, 100),
                     channel_entry(samples, "D1", false, 0, 0, 100000, 100),
                     channel_entry(samples, "U1", true, 0, 0, 100000, 100),
                     channel_entry(samples, "D2", false, 1, 0, 100000, 100),
                     channel_entry(samples, "U10", true, 9, 0, 100000, 100)},
                    0, 100000, 100, times);
  ASSERT_NE(std::string::npos, expected.find(fixed4(32767 * samples.a[1] + samples.b[1])));
  ASSERT_NE(std::string::npos, expected.find(fixed4(-32768 * samples.a[0] + samples.b[0])));
  for (const std::string type : {"BINARY", "ASCII"}) {
    write("S/long.cfg", cfg_of(samples, type, "1\r\n10000,100000\r\n"));
    write("S/long.dat", dat_of(samples, type));
    EXPECT_TRUE(expected == waveform("long", R"("channelList":["U2","nope","D1","U1","D2","U10"],"points":1000)"))
        << type;
  }
}

// Only the window's records of this BINARY32 file are real; the rest is
// noise. The answer is right only if the reader seeks to the window, and
// the bytes it reads show it reads nothing else.
TEST_F(ExtensionsTest, ReadsOnlyTheWindowOfABinaryFile) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 2;
  spec.digital_count = 1;
  spec.samples = 400000;
  const Samples samples = from_generator(comtrade_gen::generate(spec), 1);
  const std::size_t from = 250000, to = 250600, record = 8 + 4 * 2 + 2;
  std::string dat = dat_of(samples, "BINARY32");
  std::mt19937 noise(7);
  for (std::size_t i = 0; i < dat.size(); ++i) {
    if (i < from * record || i >= to * record) dat[i] = static_cast<char>(noise());
  }
  write("S/w.cfg", cfg_of(samples, "BINARY32", "1\r\n10000,400000\r\n"));
  write("S/w.dat", dat);
  const std::optional<pid_t> pid = hostile::pid_with_cwd(m_service.work_dir());
  ASSERT_TRUE(pid);
  const long long before = bytes_read(*pid);
  std::vector<double> times;
  for (std::size_t s = from; s < to; s += 2) times.push_back(s * 100.0);
  EXPECT_EQ(waveform_text({channel_entry(samples, "U1", true, 0, from, to, 2),
                           channel_entry(samples, "D1", false, 0, from, to, 2)},
                          from, to, 2, times),
            waveform("w", R"("channelList":["U1","D1"],"from":250000,"to":250600,"points":300)"));
  // The window is 12 KB of a 7.2 MB file; the settings and the .cfg add a few KB.
  EXPECT_LT(bytes_read(*pid) - before, 64 * 1024);
}

// A time or value past the range of a double, or one that is no number at
// all, is null: a rate of 1e-308 (a time of 1e314 us), a time multiplier of
// inf at rate 0 (0 x inf is NaN), and a factor of 1e308 times 10.
TEST_F(ExtensionsTest, WritesNullForEveryNumberThatIsNotFinite) {
  const std::string head = "S,R,1999\n1,1A,0D\n1,Ia,,,A,";
  const std::string tail = ",0,0,-9,9,1,1,S\n50\n";
  const std::string times = "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n";
  struct Case {
    std::string cfg;
    std::string dat;
    std::string time;  // the "time" member of the waveform
    std::string max;   // the "max" member of the one channel
    bool null_duration;
    bool null_multiplier;
  };
  const Case cases[] = {
      {head + "1" + tail + "2\n1e308,2\n1e-308,4\n" + times + "1\n", "1,0,1\n2,0,2\n3,0,3\n4,0,4\n",
       "[0.0000,0.0000,0.0000,null]", "[1.0000,2.0000,3.0000,4.0000]", true, false},
      {head + "1" + tail + "1\n0,3\n" + times + "inf\n", "1,0,1\n2,10,2\n3,20,3\n", "[null,null,null]",
       "[1.0000,2.0000,3.0000]", true, true},
      {head + "1e308" + tail + "1\n1000,2\n" + times + "1e9999\n", "1,0,0\n2,0,10\n", "[0.0000,1000.0000]",
       "[0.0000,null]", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cfg);
    write("S/f.cfg", c.cfg);
    write("S/f.dat", c.dat);
    const std::string answer = waveform("f", R"("channelList":["Ia"],"points":10)");
    EXPECT_NE(std::string::npos, answer.find("\"time\":" + c.time)) << answer.substr(0, 300);
    EXPECT_NE(std::string::npos, answer.find("\"max\":" + c.max)) << answer.substr(0, 300);
    const Json::Value info = parse(ask("/getRecordInfo", R"({"groupName":"S","fileName":"f"})").body)["record"];
    EXPECT_EQ(c.null_duration, info["durationUs"].isNull()) << info.toStyledString();
    EXPECT_EQ(c.null_multiplier, info["timeMultiplier"].isNull()) << info.toStyledString();
  }
}

}  // namespace
