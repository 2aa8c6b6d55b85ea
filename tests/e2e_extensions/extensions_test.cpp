// The extension queries against the real binary: the station list, the
// operations URIs, the full record header with its time axis, channels by
// position, and the failures, byte for byte.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "extensions_fixture.h"
#include "support/e2e_support.h"

namespace {

using namespace extensions_e2e;
namespace fs = std::filesystem;

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
  ask("/getRecordInfo", "[]");
  const std::string metrics = get("/metrics");
  EXPECT_EQ(0u, metrics.find("HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4")) << metrics;
  for (const char* line : {"comtrade_requests_total{result=\"200\",uri=\"/getStationList\"} 2\n",
                           "comtrade_requests_total{result=\"1\",uri=\"/getRecordInfo\"} 1\n",
                           "comtrade_requests_total{result=\"0\",uri=\"/getRecordInfo\"} 1\n",
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

TEST_F(ExtensionsTest, AnswersFailuresByteForByte) {
  write("S/r.cfg", "S,R,1999\n2,1A,1D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\n1,Trip,,,0\n50\n1\n1000,2\n"
                   "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
  write("S/r.dat", "1,0,3,1\n2,0,4,0\n");
  write("S/nof.cfg", "S,R,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\nx\n1\n1000,2\n"
                     "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
  write("S/nof.dat", "1,0,3\n2,0,4\n");
  // A record whose data file is gone: no samples to give, nor a file to download.
  write("S/nodat.cfg", "S,R,1999\n2,1A,1D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\n1,Trip,,,0\n50\n1\n1000,2\n"
                       "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
  write("S/nodat_nostatus.cfg", "S,R,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\n50\n1\n1000,2\n"
                                "01/01/2020,00:00:00\n01/01/2020,00:00:00\nBINARY\n1\n");
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
      {"/exportRecord", R"({"groupName":"S","fileName":"nodat","channelList":["Ia"],"format":"cff"})", envelope(2, kNoChannels, "exportRecord")},
      {"/exportRecord", R"({"groupName":"S","fileName":"nodat","channelList":["Ia"],"format":"csv"})", envelope(2, kNoChannels, "exportRecord")},
      {"/getWaveform", R"({"groupName":"S","fileName":"nodat","channelList":["Ia"]})", envelope(2, kNoChannels, "getWaveform")},
      {"/getPhasors", R"({"groupName":"S","fileName":"nodat","channelList":["Ia"]})", envelope(2, kNoChannels, "getPhasors")},
      {"/getHarmonics", R"({"groupName":"S","fileName":"nodat","channelList":["Ia"]})", envelope(2, kNoChannels, "getHarmonics")},
      {"/getEvents", R"({"groupName":"S","fileName":"nodat"})", envelope(2, kNoChannels, "getEvents")},
      {"/getEvents", R"({"groupName":"S","fileName":"nodat_nostatus"})", envelope(2, kNoChannels, "getEvents")},
      // Every status channel of a record that has none.
      {"/getEvents", R"({"groupName":"S","fileName":"nof"})",
       "{\"errorinfo\":\"\",\"events\":[],\"initial\":[],\"result\":200,\"truncated\":false,\"triggerUs\":0,"
       "\"typeurl\":\"getEvents\"}\n"},
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
