// The three record queries against the real binary on 127.0.0.1: the bytes on
// the wire, the log lines, and what a failing request leaves behind.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comtrade_gen/generator.h"
#include "expected_answers.h"
#include "log_lines.h"
#include "support/e2e_support.h"
#include "support/record_files.h"
#include "support/record_root_test.h"

namespace {

using e2e::HttpClient;
using namespace std::chrono_literals;

const std::string kSmallCfg =
    "S1,REC,1999\r\n"
    "3,2A,1D\r\n"
    "1,Ia,,,A,0.5,0,0,-100,100,1,1,S\r\n"
    "2,Ub,,,kV,0.25,1,0,-200,200,1,1,S\r\n"
    "1,Trip,,,0\r\n"
    "50\r\n1\r\n1000,2\r\n"
    "01/01/2020,00:00:00.000000\r\n01/01/2020,00:00:00.001000\r\nASCII\r\n1\r\n";
const std::string kSmallDat = "1,0,100,-20,0\r\n2,1000,102,-22,1\r\n";
const std::string kBadNumberCfg = "S1,R,1999\n1,1A,0D\n1,Ia,,,A,0.5,0,0,-1x,oops,1,1,S\n";
const std::string kFileInfoNoData =
    "{\"comDataList\":[], \"errorinfo\":\"\", \"interval\" : 100, \"result\" : 200}";

// A service whose record root is a folder of the test.
class QueriesE2eTest : public e2e::RecordRootTest {
 protected:
  void write_record(const std::string& group, const std::string& name, const std::string& cfg,
                    const std::string& dat) {
    e2e::write_record_files(m_records.path() / group, name, cfg, dat);
  }
  comtrade_gen::GeneratedRecord write_generated(const std::string& name,
                                                const comtrade_gen::RecordSpec& spec) {
    return e2e::write_generated_record(m_records.path() / "S1", name, spec);
  }
  // The log messages written since the last call.
  std::vector<std::string> new_log_messages() {
    const std::string log = e2e::read_file(m_service.log_path()).value_or("");
    const std::vector<std::string> all = log_lines::messages(log.substr(m_log_seen));
    m_log_seen = log.size();
    return all;
  }

  std::size_t m_log_seen = 0;
};

// File list

TEST_F(QueriesE2eTest, ListsAStationAndLogsEachStep) {
  write_record("S1", "A_01", kSmallCfg, kSmallDat);
  e2e::write_file(m_records.path() / "S1" / "B_02.cfg", kSmallCfg);
  const std::string answer =
      "{\"errorinfo\":\"\",\"fileName_list\":[\"A_01\",\"B_02\"],\"result\":200,"
      "\"typeurl\":\"getFileName_list\"}\n";
  new_log_messages();

  EXPECT_EQ(e2e::chunked_reply_bytes(answer),
            ask("/getFileName_list", R"({"groupName":"S1"})").raw);
  EXPECT_EQ((std::vector<std::string>{"1 recive station_name:S1,vol_str:all",
                                      "g_station_vec.size(): 2", "i: 1, fileName: A_01",
                                      "i: 2, fileName: B_02", "write outStr:" + answer}),
            new_log_messages());

  EXPECT_EQ(answer, ask("/getFileName_list", R"({"type":"110kV","groupName":"S1"})").body);
  EXPECT_EQ("1 recive station_name:S1,vol_str:110kV", new_log_messages().at(0));
}

TEST_F(QueriesE2eTest, AnswersFileListFailuresWithTheirCodes) {
  const std::string not_found =
      "{\"errorinfo\":\"station_vec\xC1\xD0\xB1\xED\xCE\xAA\xBF\xD5\",\"fileName_list\":0,"
      "\"result\":404,\"typeurl\":\"getFileName_list\"}\n";
  const std::string no_station =
      "{\"errorinfo\":\"\xC7\xEB\xC7\xF3\xD5\xBE\xC3\xFB\xCE\xAA\xBF\xD5\xA3\xA1\",\"result\":2,"
      "\"typeurl\":\"getFileName_list\"}\n";
  e2e::write_file(m_records.path() / "Empty" / "notes.txt", "x");
  EXPECT_EQ(e2e::chunked_reply_bytes(not_found),
            ask("/getFileName_list", R"({"groupName":"Empty"})").raw);
  EXPECT_EQ(not_found, ask("/getFileName_list", R"({"groupName":"Nowhere"})").body);
  EXPECT_EQ(not_found, ask("/getFileName_list", R"({"groupName":".."})").body);
  EXPECT_EQ(e2e::chunked_reply_bytes(no_station), ask("/getFileName_list", R"({"groupName":12})").raw);
  EXPECT_EQ(no_station, ask("/getFileName_list", "{}").body);
  EXPECT_EQ(0, ask("/getFileName_list", "12").body.find("{\"errorinfo\":\"\xC7\xEB\xC7\xF3\xCA\xFD"));
}

// Channel info

TEST_F(QueriesE2eTest, AnswersTheRecordHeaderAndLogsIt) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  const std::string answer =
      "{\"aiList\":[{\"max\":50.0,\"min\":-50.0,\"name\":\"Ia\"},"
      "{\"max\":51.0,\"min\":-49.0,\"name\":\"Ub\"}],\"diList\":[\"Trip\"],\"errorinfo\":\"\","
      "\"result\":200,\"samp_count\":2,\"startTime\":\"01/01/2020,00:00:00.000000\","
      "\"typeurl\":\"getChannelInfo\"}\n";
  new_log_messages();
  EXPECT_EQ(e2e::chunked_reply_bytes(answer),
            ask("/getChannelInfo", R"({"fileName":"r","groupName":"S1"})").raw);
  const std::vector<std::string> logged = new_log_messages();
  ASSERT_EQ(3u, logged.size());
  EXPECT_EQ("2 receive fileName:r,groupNmae:S1, vol_type:all", logged[0]);
  EXPECT_EQ("write rootResponse outStr:" + answer, logged[2]);
}

TEST_F(QueriesE2eTest, AnswersAMissingRecordAsEmpty) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  ASSERT_EQ(0, ask("/getChannelInfo", R"({"fileName":"r","groupName":"S1"})").body.find("{\"aiList\":["));
  const std::string empty =
      "{\"aiList\":0,\"diList\":0,\"errorinfo\":\"\xCD\xA8\xB5\xC0\xCE\xAA\xBF\xD5\xA3\xAC\xBF\xC9"
      "\xC4\xDC\xD5\xBE\xC3\xFB\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xAC\xBB\xF2\xC3\xFB\xD7\xD6\xB8\xF1"
      "\xCA\xBD\xB4\xED\xCE\xF3i\",\"result\":2,\"samp_count\":0,\"startTime\":\"\","
      "\"typeurl\":\"getChannelInfo\"}\n";
  EXPECT_EQ(e2e::chunked_reply_bytes(empty),
            ask("/getChannelInfo", R"({"fileName":"gone","groupName":"S1"})").raw);
  EXPECT_EQ(empty, ask("/getChannelInfo", R"({"fileName":"r","groupName":"a/b"})").body);
  EXPECT_EQ("{\"errorinfo\":\"\xC7\xEB\xC7\xF3\xCA\xFD\xBE\xDD" "fileName is error\xA3\xA1\","
            "\"result\":1,\"typeurl\":\"getChannelInfo\"}\n",
            ask("/getChannelInfo", R"({"fileName":1,"groupName":"S1"})").body);
}

// A number that does not convert ends the request without a reply and closes
// its connection, so the client knows at once; other connections go on.
TEST_F(QueriesE2eTest, ClosesTheConnectionAfterABadNumberWhileASecondOneIsAnswered) {
  write_record("S1", "bad", kBadNumberCfg, "");
  write_record("S1", "r", kSmallCfg, kSmallDat);
  const std::string good = e2e::post("/getChannelInfo", R"({"fileName":"r","groupName":"S1"})");
  const char* const requests[][2] = {
      {"/getChannelInfo", R"({"fileName":"bad","groupName":"S1"})"},
      {"/getFileInfo", R"({"fileName":"bad","groupName":"S1","channelList":["Ia"]})"},
  };
  HttpClient second(m_service.port());
  for (const auto& request : requests) {
    HttpClient client(m_service.port());
    ASSERT_TRUE(client.send(e2e::post(request[0], request[1])));
    EXPECT_TRUE(client.wait_closed()) << request[0];
    ASSERT_TRUE(second.send(good));
    EXPECT_NE(std::string::npos, second.read_chunked_reply().body.find("\"result\":200"));
  }
  const std::string out = m_service.process().stdout_text();
  const std::size_t first = out.find("unknow  exception\n");
  EXPECT_NE(std::string::npos, out.find("unknow  exception\n", first + 1)) << out;
  EXPECT_EQ(expected::channel_data({"50.0000,51.0000"}),
            ask("/getFileInfo", R"({"fileName":"r","groupName":"S1","channelList":["Ia"]})").body);
}

// Channel data

// The same samples written as ASCII and as BINARY give the same bytes, and
// those are the ones computed here from what was written.
TEST_F(QueriesE2eTest, AnswersAsciiAndBinaryRecordsByteForByte) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 4;
  spec.digital_count = 20;
  spec.samples = 3000;
  spec.seed = 7;
  const comtrade_gen::GeneratedRecord ascii = write_generated("ra", spec);
  spec.format = comtrade_gen::DataFormat::kBinary;
  write_generated("rb", spec);
  const std::string expected_reply = e2e::chunked_reply_bytes(expected::channel_data(
      {expected::analog_text(ascii, 4, 1), expected::digital_text(ascii, 20, 16),
       expected::analog_text(ascii, 4, 3), expected::analog_text(ascii, 4, 1)}));
  const std::string list = R"(,"channelList":["U2","nope","D17","U4","U2"]})";
  EXPECT_EQ(expected_reply, ask("/getFileInfo", R"({"groupName":"S1","fileName":"ra")" + list).raw);
  EXPECT_EQ(expected_reply, ask("/getFileInfo", R"({"groupName":"S1","fileName":"rb")" + list).raw);
}

TEST_F(QueriesE2eTest, LogsTheChannelDataRequestStepByStep) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 2;
  spec.digital_count = 1;
  spec.samples = 5;
  spec.format = comtrade_gen::DataFormat::kBinary;
  const comtrade_gen::GeneratedRecord record = write_generated("rb", spec);
  new_log_messages();
  ASSERT_TRUE(ask("/getFileInfo",
                  R"({"groupName":"S1","fileName":"rb","type":5,"channelList":["D1","x","U1"]})")
                  .complete);
  std::vector<std::string> logged = new_log_messages();
  ASSERT_EQ(10u, logged.size());
  // Time stamps are seconds since 1970; only their place is checked.
  for (std::size_t i : {5, 6, 9}) {
    const std::size_t digits = logged[i].find_first_not_of("0123456789", 12);
    ASSERT_GT(digits, 12u) << logged[i];
    logged[i].erase(12, digits - 12);
  }
  const std::string path = (m_records.path() / "S1" / "rb").string();
  EXPECT_EQ((std::vector<std::string>{
                "GetChannelInfo receive groupName:S1,vol_type:all, fileName:rb ",
                "receive channel_list i:1 channel: D1",
                "receive channel_list i:2 channel: x",
                "receive channel_list i:3 channel: U1",
                "fileName:" + path + " ,AI_VEC.size(): 2 , DI_VEC.size(): 1 seamp_count: 5, "
                "start_time: 01/12/2026,10:00:00.000000",
                "0TimeStamp: -loadBinaryData Start",
                "1TimeStamp: -loadBinaryData End",
                "JsonBody Chan1 outStr:[" + expected::digital_text(record, 1, 0) + "]",
                "JsonBody Chan3 outStr:[" + expected::analog_text(record, 2, 0) + "]",
                "6TimeStamp: -End handler_getChannelDesc:mg_printf_http_chunk"}),
            logged);
}

TEST_F(QueriesE2eTest, SendsALargeAnswerAsOneChunkAndCutsItsLogLine) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 2;
  spec.digital_count = 0;
  spec.samples = 150000;
  const comtrade_gen::GeneratedRecord record = write_generated("big", spec);
  const std::string u1 = expected::analog_text(record, 2, 0);
  const std::string u2 = expected::analog_text(record, 2, 1);
  ASSERT_GT(u1.size(), 1000000u);
  new_log_messages();
  EXPECT_EQ(e2e::chunked_reply_bytes(expected::channel_data({u2, u1, u2})),
            ask("/getFileInfo", R"({"groupName":"S1","fileName":"big","channelList":["U2","U1","U2"]})")
                .raw);
  const std::vector<std::string> logged = new_log_messages();
  ASSERT_EQ(9u, logged.size());
  // The log writer keeps the first 524,287 bytes of a message.
  EXPECT_EQ(("JsonBody Chan2 outStr:[" + u1).substr(0, 524287), logged[6]);
}

TEST_F(QueriesE2eTest, AnswersChannelDataFailuresOnTheWire) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  EXPECT_EQ(e2e::chunked_reply_bytes(
                "{\"errorinfo\":\"channel error\xC7\xEB\xC7\xF3\xCD\xA8\xB5\xC0\xCA\xFD\xBE\xDD\xB8\xF1"
                "\xCA\xBD\xB4\xED\xCE\xF3\xA3\xA1\",\"result\":0,\"typeurl\":\"getFileInfo\"}\n"),
            ask("/getFileInfo", R"({"groupName":"S1","fileName":"r","channelList":"Ia"})").raw);
  EXPECT_EQ("{\"errorinfo\":\"channel empty\xC7\xEB\xC7\xF3\xCD\xA8\xB5\xC0\xCA\xFD\xBE\xDD\xCE\xAA"
            "\xBF\xD5\xA3\xA1\",\"result\":0,\"typeurl\":\"getFileInfo\"}\n",
            ask("/getFileInfo", R"({"groupName":"S1","fileName":"r"})").body);
  EXPECT_EQ("{\"errorinfo\":\"channel \xD4\xDA" "cfg\xCE\xC4\xBC\xFE\xD6\xD0\xCE\xB4\xD5\xD2\xB5\xBD"
            "\xA3\xA1\xA3\xA1\xA3\xA1\",\"result\":0,\"typeurl\":\"getFileInfo\"}\n",
            ask("/getFileInfo", R"({"groupName":"S1","fileName":"r","channelList":["x"]})").body);
  // Values of one request never reach the next.
  EXPECT_EQ(expected::channel_data({"0,1"}),
            ask("/getFileInfo", R"({"groupName":"S1","fileName":"r","channelList":["Trip"]})").body);
  EXPECT_EQ(e2e::chunked_reply_bytes(kFileInfoNoData),
            ask("/getFileInfo", R"({"groupName":"S1","fileName":"gone","channelList":["Trip"]})").raw);
  EXPECT_EQ(kFileInfoNoData,
            ask("/getFileInfo", R"({"groupName":"..","fileName":"r","channelList":["Trip"]})").body);
}

// A failure answer ends the handling: only the log lines of the steps that
// ran before it are written, never the answer itself.
TEST_F(QueriesE2eTest, LogsOnlyTheStepsBeforeAFailureAnswer) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  const std::string cfg_line = "fileName:" + (m_records.path() / "S1" / "r").string() +
                               " ,AI_VEC.size(): 2 , DI_VEC.size(): 1 seamp_count: 2, "
                               "start_time: 01/01/2020,00:00:00.000000";
  const std::string received = "GetChannelInfo receive groupName:S1,vol_type:all, fileName:r ";
  struct Case {
    const char* uri;
    const char* body;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {"/getFileName_list", R"({"groupName":12})", {}},
      {"/getFileName_list", "{}", {}},
      {"/getChannelInfo", R"({"groupName":"S1"})", {}},
      {"/getChannelInfo", R"({"fileName":"r"})", {}},
      {"/getFileInfo", R"({"fileName":"r"})", {}},
      {"/getFileInfo", R"({"groupName":"S1"})", {}},
      {"/getFileInfo", R"({"groupName":"S1","fileName":"r","channelList":"Ia"})", {received}},
      {"/getFileInfo", R"({"groupName":"S1","fileName":"r","channelList":[]})", {received}},
      {"/getFileInfo", R"({"groupName":"S1","fileName":"r","channelList":["x"]})",
       {received, "receive channel_list i:1 channel: x", cfg_line}},
  };
  new_log_messages();
  for (const Case& c : cases) {
    ASSERT_NE(std::string::npos, ask(c.uri, c.body).body.find("\"result\":")) << c.body;
    EXPECT_EQ(c.logged, new_log_messages()) << c.uri << " " << c.body;
  }
}

}  // namespace
