// The extension queries against the real binary: the station list, the full
// record header with its time axis, and min/max waveforms whose buckets are
// checked against the raw samples, byte for byte where the text is fixed.
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "comtrade_gen/generator.h"
#include "support/e2e_support.h"
#include "support/record_root_test.h"
#include "support/hostile_support.h"
#include "support/json_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kNoStation = "\xC7\xEB\xC7\xF3\xD5\xBE\xC3\xFB\xCE\xAA\xBF\xD5\xA3\xA1";
const std::string kBadFileName = "\xC7\xEB\xC7\xF3\xCA\xFD\xBE\xDD" "fileName is error\xA3\xA1";
const std::string kNoChannels =
    "\xCD\xA8\xB5\xC0\xCE\xAA\xBF\xD5\xA3\xAC\xBF\xC9\xC4\xDC\xD5\xBE\xC3\xFB\xB2\xBB\xB4\xE6"
    "\xD4\xDA\xA3\xAC\xBB\xF2\xC3\xFB\xD7\xD6\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3i";
const std::string kBadRequest = "\xC7\xEB\xC7\xF3\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3\xA3\xA1";
const std::string kNotFound =
    "channel \xD4\xDA" "cfg\xCE\xC4\xBC\xFE\xD6\xD0\xCE\xB4\xD5\xD2\xB5\xBD\xA3\xA1\xA3\xA1\xA3\xA1";
const std::string kBadList =
    "channel error\xC7\xEB\xC7\xF3\xCD\xA8\xB5\xC0\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3\xA3\xA1";
const std::string kEmptyList =
    "channel empty\xC7\xEB\xC7\xF3\xCD\xA8\xB5\xC0\xCA\xFD\xBE\xDD\xCE\xAA\xBF\xD5\xA3\xA1";

std::string envelope(int result, const std::string& errorinfo, const std::string& typeurl) {
  return "{\"errorinfo\":\"" + errorinfo + "\",\"result\":" + std::to_string(result) +
         ",\"typeurl\":\"" + typeurl + "\"}\n";
}

std::string fixed4(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Samples of a made-up record, row by row, and its files in either format.
struct Samples {
  std::vector<double> a, b;            // factors per analog channel
  std::vector<std::int32_t> analog;    // count x a.size()
  std::vector<int> digital;            // count x digital_count
  int digital_count = 0;
  std::size_t count() const { return a.empty() ? 0 : analog.size() / a.size(); }
  double value(std::size_t s, std::size_t c) const { return analog[s * a.size() + c] * a[c] + b[c]; }
};

Samples from_generator(const comtrade_gen::GeneratedRecord& record, int digital_count) {
  Samples samples;
  samples.a = record.factor_a;
  samples.b = record.factor_b;
  samples.analog.assign(record.analog.begin(), record.analog.end());
  samples.digital.assign(record.digital.begin(), record.digital.end());
  samples.digital_count = digital_count;
  return samples;
}

std::string cfg_of(const Samples& samples, const std::string& type, const std::string& rates) {
  std::string cfg = "S,DEV,2013\r\n" + std::to_string(samples.a.size() + samples.digital_count) + "," +
                    std::to_string(samples.a.size()) + "A," + std::to_string(samples.digital_count) + "D\r\n";
  char line[256];
  for (std::size_t c = 0; c < samples.a.size(); ++c) {
    std::snprintf(line, sizeof line, "%zu,U%zu,,,V,%.17g,%.17g,0,-32768,32767,1,1,S\r\n", c + 1, c + 1,
                  samples.a[c], samples.b[c]);
    cfg += line;
  }
  for (int j = 1; j <= samples.digital_count; ++j) cfg += std::to_string(j) + ",D" + std::to_string(j) + ",,,0\r\n";
  return cfg + "50\r\n" + rates + "01/01/2020,00:00:00.000000\r\n01/01/2020,00:00:00.100000\r\n" + type + "\r\n2\r\n";
}

void put_le(std::string& bytes, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The data file of `samples` in `type`, sample n stamped `stamps[n]` (or n).
std::string dat_of(const Samples& samples, const std::string& type, const std::vector<int>& stamps = {}) {
  std::string dat;
  for (std::size_t s = 0; s < samples.count(); ++s) {
    const int stamp = s < stamps.size() ? stamps[s] : static_cast<int>(s);
    if (type == "ASCII") {
      dat += std::to_string(s + 1) + "," + std::to_string(stamp);
      for (std::size_t c = 0; c < samples.a.size(); ++c) dat += "," + std::to_string(samples.analog[s * samples.a.size() + c]);
      for (int j = 0; j < samples.digital_count; ++j) dat += samples.digital[s * samples.digital_count + j] ? ",1" : ",0";
      dat += "\r\n";
      continue;
    }
    const int width = type == "BINARY" ? 2 : 4;
    put_le(dat, static_cast<std::uint32_t>(s + 1), 4);
    put_le(dat, static_cast<std::uint32_t>(stamp), 4);
    for (std::size_t c = 0; c < samples.a.size(); ++c) {
      put_le(dat, static_cast<std::uint32_t>(samples.analog[s * samples.a.size() + c]), width);
    }
    std::vector<std::uint8_t> status(2 * ((samples.digital_count + 15) / 16), 0);
    for (int j = 0; j < samples.digital_count; ++j) {
      if (samples.digital[s * samples.digital_count + j]) status[j / 8] |= static_cast<std::uint8_t>(1 << (j % 8));
    }
    dat.append(status.begin(), status.end());
  }
  return dat;
}

// The expected "channels" member entry of channel `name` (analog `c`, or
// digital `c` when `analog` is false, 0-based) over [from, to) in buckets of `step`.
std::string channel_entry(const Samples& samples, const std::string& name, bool analog, std::size_t c,
                          std::size_t from, std::size_t to, std::size_t step) {
  std::string mins, maxs;
  for (std::size_t first = from; first < to; first += step) {
    double low = 1e300, high = -1e300;
    for (std::size_t s = first; s < std::min(first + step, to); ++s) {
      const double v = analog ? samples.value(s, c) : samples.digital[s * samples.digital_count + c];
      low = std::min(low, v);
      high = std::max(high, v);
    }
    mins += (first > from ? "," : "") + (analog ? fixed4(low) : std::to_string(static_cast<int>(low)));
    maxs += (first > from ? "," : "") + (analog ? fixed4(high) : std::to_string(static_cast<int>(high)));
  }
  return "{\"index\":" + std::to_string(c + 1) + ",\"kind\":\"" + (analog ? "analog" : "status") +
         "\",\"max\":[" + maxs + "],\"min\":[" + mins + "],\"name\":\"" + name + "\"}";
}

std::string waveform_text(const std::vector<std::string>& channels, std::size_t from, std::size_t to,
                          std::size_t step, const std::vector<double>& times) {
  std::string text = "{\"channels\":[";
  for (std::size_t i = 0; i < channels.size(); ++i) text += (i ? "," : "") + channels[i];
  text += "],\"errorinfo\":\"\",\"from\":" + std::to_string(from) + ",\"result\":200,\"step\":" +
          std::to_string(step) + ",\"time\":[";
  for (std::size_t i = 0; i < times.size(); ++i) text += (i ? "," : "") + fixed4(times[i]);
  return text + "],\"to\":" + std::to_string(to) + ",\"typeurl\":\"getWaveform\"}\n";
}

Json::Value parse(const std::string& text) { return e2e::parse_json(text); }

// Whether `a` and `b` hold the same members and values, numbers compared as
// numbers (the writer gives 50 as 50.0).
bool same_json(const Json::Value& a, const Json::Value& b) {
  if (a.isNumeric() && b.isNumeric()) return a.asDouble() == b.asDouble();
  if (a.type() != b.type()) return false;
  if (a.isArray()) {
    if (a.size() != b.size()) return false;
    for (Json::ArrayIndex i = 0; i < a.size(); ++i) {
      if (!same_json(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.isObject()) {
    if (a.getMemberNames() != b.getMemberNames()) return false;
    for (const std::string& name : a.getMemberNames()) {
      if (!same_json(a[name], b[name])) return false;
    }
    return true;
  }
  return a == b;
}

// Bytes process `pid` has read through system calls (rchar of /proc/<pid>/io).
long long bytes_read(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  for (std::string line; std::getline(io, line);) {
    if (line.compare(0, 6, "rchar:") == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

class ExtensionsTest : public e2e::RecordRootTest {
 protected:
  // Every answer of an extension is checked as a strict JSON parser reads it.
  e2e::HttpClient::ChunkedReply ask(const std::string& uri, const std::string& body) {
    e2e::HttpClient::ChunkedReply reply = e2e::RecordRootTest::ask(uri, body);
    e2e::parse_strict_json(reply.body);
    return reply;
  }
  void write(const std::string& relative, const std::string& bytes) {
    e2e::write_file(m_records.path() / relative, bytes);
  }
  std::string waveform(const std::string& file, const std::string& members) {
    return ask("/getWaveform", "{\"groupName\":\"S\",\"fileName\":\"" + file + "\"," + members + "}").body;
  }
};

TEST_F(ExtensionsTest, ListsTheStationsOfTheRecordRoot) {
  for (const char* station : {"North", "a_b", "\xB1\xB1\xBE\xA9"}) fs::create_directories(m_records.path() / station);
  write("notes.txt", "not a station");
  fs::create_directory_symlink(m_records.path() / "North", m_records.path() / "link");
  const std::string listed =
      "{\"errorinfo\":\"\",\"result\":200,\"stationList\":[\"a_b\",\"North\",\"\xB1\xB1\xBE\xA9\"],"
      "\"typeurl\":\"getStationList\"}\n";
  EXPECT_EQ(e2e::chunked_reply_bytes(listed), ask("/getStationList", "{}").raw);
  EXPECT_EQ(envelope(0, kBadRequest, "getStationList"), ask("/getStationList", "[]").body);

  e2e::TempDir empty;
  std::string settings = e2e::read_file(m_service.settings_path()).value();
  settings.replace(settings.find(m_records.path().string()), m_records.path().string().size(), empty.path().string());
  e2e::write_file(m_service.settings_path(), settings);
  EXPECT_EQ("{\"errorinfo\":\"\",\"result\":200,\"stationList\":0,\"typeurl\":\"getStationList\"}\n",
            ask("/getStationList", "{}").body);
}

// The operations URIs answer with ordinary headers; the counters follow the
// requests, and the health check follows the record root.
TEST_F(ExtensionsTest, CountsRequestsAndTellsWhetherTheRootCanBeListed) {
  const auto get = [&](const std::string& uri) {
    e2e::HttpClient client(m_service.port());
    EXPECT_TRUE(client.send("GET " + uri + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    return client.read_for(std::chrono::seconds(5));
  };
  ask("/getStationList", "{}");
  ask("/getStationList", "{}");
  ask("/getRecordInfo", "{}");
  const std::string metrics = get("/metrics");
  EXPECT_EQ(0u, metrics.find("HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4")) << metrics;
  for (const char* line : {"comtrade_requests_total{result=\"200\",uri=\"/getStationList\"} 2\n",
                           "comtrade_requests_total{result=\"1\",uri=\"/getRecordInfo\"} 1\n",
                           "comtrade_request_duration_seconds_count{uri=\"/getStationList\"} 2\n",
                           "\ncomtrade_open_connections ", "comtrade_waiting_requests 0\n"}) {
    EXPECT_NE(std::string::npos, metrics.find(line)) << line << metrics;
  }
  EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 3\r\n\r\nok\n",
            get("/healthz"));
  std::string settings = e2e::read_file(m_service.settings_path()).value();
  settings.replace(settings.find(m_records.path().string()), m_records.path().string().size(),
                   (m_records.path() / "gone").string());
  e2e::write_file(m_service.settings_path(), settings);
  const std::string unhealthy = get("/healthz");
  EXPECT_EQ(0u, unhealthy.find("HTTP/1.1 503 Service Unavailable\r\n")) << unhealthy;
  EXPECT_NE(std::string::npos, unhealthy.find("cannot be listed")) << unhealthy;
}

// Two rates: samples 1..10 at 1000 Hz, 11..20 at 500 Hz. Every header field
// is in the answer, missing trailing ones as "" or null.
TEST_F(ExtensionsTest, AnswersTheWholeHeaderWithTheTimeOfItsLastSample) {
  write("S/two.cfg",
        "North,REC9,2013\r\n3,2A,1D\r\n1,Ia,A,bay1,A,0.5,1,2.5,-289.065002,289.065002,100,1,S\r\n"
        "2,Ub,B,,kV,2,0,0,-32767,32767,\r\n1,Trip,C,bay1,1\r\n50\r\n2\r\n1000,10\r\n500,20\r\n"
        "01/01/2020,00:00:00.000000\r\n01/01/2020,00:00:00.005000\r\nascii \r\n2\r\n");
  std::string dat;
  for (int s = 1; s <= 20; ++s) dat += std::to_string(s) + ",0," + std::to_string(s) + "," + std::to_string(-s) + "," + std::to_string(s % 2) + "\r\n";
  write("S/two.dat", dat);
  const Json::Value expected = parse(R"({"errorinfo":"","result":200,"typeurl":"getRecordInfo","record":{
    "station":"North","device":"REC9","revision":"2013","frequency":50,
    "rates":[{"rate":1000,"last":10},{"rate":500,"last":20}],"samples":20,
    "startTime":"01/01/2020,00:00:00.000000","triggerTime":"01/01/2020,00:00:00.005000",
    "fileType":"ascii","timeMultiplier":2,"durationUs":28000,
    "analogs":[{"index":1,"kind":"analog","name":"Ia","phase":"A","circuit":"bay1","unit":"A","a":0.5,"b":1,"skew":2.5,
                "min":-289.065002,"max":289.065002,"primary":100,"secondary":1,"ps":"S"},
               {"index":2,"kind":"analog","name":"Ub","phase":"B","circuit":"","unit":"kV","a":2,"b":0,"skew":0,
                "min":-32767,"max":32767,"primary":null,"secondary":null,"ps":""}],
    "digitals":[{"index":1,"kind":"status","name":"Trip","phase":"C","circuit":"bay1","normal":"1"}]}})");
  const std::string answer = ask("/getRecordInfo", R"({"groupName":"S","fileName":"two"})").body;
  EXPECT_TRUE(same_json(expected, parse(answer))) << answer;

  // Bucket times follow the segments: 1000 us apart, then 2000.
  EXPECT_EQ(waveform_text({"{\"index\":1,\"kind\":\"status\",\"max\":[1,1,1,1,1,1,1],\"min\":[0,0,0,0,0,0,0],"
                           "\"name\":\"Trip\"}"}, 0, 20, 3,
                          {0, 3000, 6000, 9000, 14000, 20000, 26000}),
            waveform("two", R"("channelList":["Trip"],"points":7)"));
}

// Names repeated within and across kinds, status channels numbered on from
// the analogs, and a data file one sample short of its .cfg: positions reach
// every channel, names the first of theirs (analogs first), and "to" says
// how far the data went.
TEST_F(ExtensionsTest, ReachesEveryChannelByItsPosition) {
  write("S/dup.cfg", "S,R,1999\n6,3A,3D\n1,Ia,,,A,1,0,0,-99,99,1,1,S\n2,X,,,A,1,0,0,-99,99,1,1,S\n"
        "3,Ia,,,A,1,0,0,-99,99,1,1,S\n4,*,,,0\n5,*,,,0\n6,X,,,0\n50\n1\n1000,4\n"
        "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
  write("S/dup.dat", "1,0,10,20,30,0,1,1\n2,1000,20,40,60,0,1,0\n3,2000,30,60,90,0,1,1\n");
  const Json::Value answer = parse(waveform(
      "dup", R"("channelList":[{"status":2},"X","*",{"analog":3},"Ia",{"status":3},{"analog":4},)"
             R"({"status":0},{"status":2}],"points":10)"));
  std::vector<std::string> got;
  for (const Json::Value& c : answer["channels"]) {
    got.push_back(c["kind"].asString() + c["index"].asString() + " " + c["name"].asString() + " " +
                  c["max"][0].asString() + "," + c["max"][2].asString());
  }
  EXPECT_EQ((std::vector<std::string>{"status2 * 1,1", "analog2 X 20.0,60.0", "status1 * 0,0",
                                      "analog3 Ia 30.0,90.0", "analog1 Ia 10.0,30.0",
                                      "status3 X 1,1", "status2 * 1,1"}),
            got);
  EXPECT_EQ(3, answer["to"].asInt());
  const Json::Value record = parse(ask("/getRecordInfo", R"({"groupName":"S","fileName":"dup"})").body)["record"];
  EXPECT_EQ(4, record["samples"].asInt());
  EXPECT_EQ(3, record["digitals"][2]["index"].asInt());
  EXPECT_EQ("status", record["digitals"][2]["kind"].asString());
}

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

TEST_F(ExtensionsTest, AnswersFailuresByteForByte) {
  write("S/r.cfg", "S,R,1999\n2,1A,1D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\n1,Trip,,,0\n50\n1\n1000,2\n"
                   "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
  write("S/r.dat", "1,0,3,1\n2,0,4,0\n");
  write("S/nof.cfg", "S,R,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\nx\n1\n1000,2\n"
                     "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
  write("S/nof.dat", "1,0,3\n2,0,4\n");
  struct Case {
    const char* uri;
    std::string body;
    std::string answer;
  };
  const std::string waveform_ok = R"({"groupName":"S","fileName":"r","channelList":["Ia"])";
  const Case cases[] = {
      {"/getRecordInfo", R"({"groupName":"S"})", envelope(1, kBadFileName, "getRecordInfo")},
      {"/getRecordInfo", R"({"fileName":"r"})", envelope(2, kNoStation, "getRecordInfo")},
      {"/getRecordInfo", R"({"groupName":"S","fileName":"gone"})", envelope(2, kNoChannels, "getRecordInfo")},
      {"/getRecordInfo", R"({"groupName":"..","fileName":"r"})", envelope(2, kNoChannels, "getRecordInfo")},
      {"/getRecordInfo", "nope", envelope(0, kBadRequest, "getRecordInfo")},
      {"/getWaveform", R"({"fileName":"r","channelList":["Ia"]})", envelope(2, kNoStation, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","channelList":["Ia"]})", envelope(1, kBadFileName, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":"Ia"})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r"})", envelope(0, kEmptyList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[]})", envelope(0, kEmptyList, "getWaveform")},
      // Selectors of any shape but a name or one whole position.
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":["Ia",1]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[{"analog":1.5}]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[{"analog":"1"}]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[{"analog":1,"status":1}]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[{"digital":1}]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[{}]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[null]})", envelope(0, kBadList, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":[{"analog":0},{"status":9}]})", envelope(0, kNotFound, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"r","channelList":["x"]})", envelope(0, kNotFound, "getWaveform")},
      {"/getWaveform", R"({"groupName":"S","fileName":"gone","channelList":["Ia"]})", envelope(2, kNoChannels, "getWaveform")},
      {"/getWaveform", waveform_ok + R"(,"points":0})", envelope(0, "points out of range", "getWaveform")},
      {"/getWaveform", waveform_ok + R"(,"points":100001})", envelope(0, "points out of range", "getWaveform")},
      {"/getWaveform", waveform_ok + R"(,"points":1.5})", envelope(0, "points out of range", "getWaveform")},
      {"/getWaveform", waveform_ok + R"(,"points":"9"})", envelope(0, "points out of range", "getWaveform")},
      {"/getWaveform", waveform_ok + R"(,"from":-1})", envelope(0, "window out of range", "getWaveform")},
      {"/getWaveform", waveform_ok + R"(,"from":5,"to":4})", envelope(0, "window out of range", "getWaveform")},
      // The analysis queries: their own members, then the record's frequency.
      {"/getPhasors", waveform_ok + R"(,"sequence":["Ia","Ia"]})", envelope(0, kBadList, "getPhasors")},
      {"/getPhasors", waveform_ok + R"(,"sequence":["Ia","Ia","Trip"]})", envelope(0, kNotFound, "getPhasors")},
      {"/getPhasors", R"({"groupName":"S","fileName":"r","channelList":["Trip"]})", envelope(0, kNotFound, "getPhasors")},
      {"/getPhasors", R"({"groupName":"S","fileName":"nof","channelList":["Ia"]})", envelope(0, "no line frequency", "getPhasors")},
      {"/getPhasors", waveform_ok + R"(,"points":0})", envelope(0, "points out of range", "getPhasors")},
      {"/getHarmonics", waveform_ok + R"(,"at":2})", envelope(0, "at out of range", "getHarmonics")},
      {"/getHarmonics", waveform_ok + R"(,"orders":-1})", envelope(0, "orders out of range", "getHarmonics")},
      {"/getHarmonics", R"({"groupName":"S","fileName":"nof","channelList":["Ia"]})", envelope(0, "no line frequency", "getHarmonics")},
      {"/getEvents", R"({"groupName":"S","fileName":"r","channelList":["Ia"]})", envelope(0, kNotFound, "getEvents")},
      {"/getEvents", R"({"groupName":"S","fileName":"r","channelList":[]})", envelope(0, kEmptyList, "getEvents")},
      {"/getEvents", R"({"groupName":"..","fileName":"r"})", envelope(2, kNoChannels, "getEvents")},
      {"/exportRecord", waveform_ok + "}", envelope(0, "format out of range", "exportRecord")},
      {"/exportRecord", waveform_ok + R"(,"format":"xls"})", envelope(0, "format out of range", "exportRecord")},
      {"/exportRecord", waveform_ok + R"(,"format":"csv","from":3,"to":1})", envelope(0, "window out of range", "exportRecord")},
      {"/getWaveform", waveform_ok + R"(,"from":9,"to":12})",
       "{\"channels\":[{\"index\":1,\"kind\":\"analog\",\"max\":[],\"min\":[],\"name\":\"Ia\"}],\"errorinfo\":\"\",\"from\":2,\"result\":200,"
       "\"step\":1,\"time\":[],\"to\":2,\"typeurl\":\"getWaveform\"}\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(e2e::chunked_reply_bytes(c.answer), ask(c.uri, c.body).raw) << c.uri << " " << c.body;
  }
  // One log line of its own per request, besides the configuration reader's.
  const std::string log = e2e::read_file(m_service.log_path()).value_or("");
  EXPECT_NE(std::string::npos, log.find("ext getWaveform groupName:S, fileName:r ->line("));
  EXPECT_NE(std::string::npos, log.find("ext getRecordInfo groupName:, fileName:r ->line("));
}

}  // namespace
