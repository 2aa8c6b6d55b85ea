// The decisions of the three record queries, called directly on a record
// store built in a temporary folder (the wire is covered by the end-to-end
// tests beside this file).
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "comtrade_format/record_scan.h"
#include "comtrade_gen/generator.h"
#include "expected_answers.h"
#include "restfulserver/answer.h"
#include "restfulserver/channel_data_answer.h"
#include "restfulserver/channel_info_answer.h"
#include "restfulserver/file_list_answer.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/reply.h"
#include "transport/http_server.h"
#include "support/chunked_reply.h"
#include "support/json_support.h"
#include "support/record_files.h"
#include "support/recording_connection.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

// Two analog channels (a = 0.5, b = 0), two digital ones, two samples.
const std::string kSmallCfg =
    "S1,REC,1999\n"
    "4,2A,2D\n"
    "1,Ia,,,A,0.5,0,0,-100,100,1,1,S\n"
    "2,Ub,,,kV,0.5,0,0,-200,200,1,1,S\n"
    "1,D1,,,0\n"
    "2,D2,,,1\n"
    "50\n1\n1000,2\n"
    "01/01/2020,00:00:00.000000\n01/01/2020,00:00:00.001000\nASCII\n1\n";
const std::string kSmallDat = "1,0,100,-20,0,1\n2,1000,102,-22,1,1\n";

Json::Value parse(const std::string& text) { return e2e::parse_json(text); }

class QueryAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_records);
    write(m_dir / "root" / "cfg" / "ComTrade.ini", "[base]\nfileDir = " + m_records.string() + "\n");
    setenv("TAVROOT", (m_dir / "root").c_str(), 1);
  }
  void TearDown() override { unsetenv("TAVROOT"); }

  static void write(const fs::path& path, const std::string& bytes) { e2e::write_file(path, bytes); }
  void write_record(const std::string& group, const std::string& name, const std::string& cfg,
                    const std::string& dat) {
    e2e::write_record_files(m_records / group, name, cfg, dat);
  }
  // The value texts of a channel-data answer, every other part.
  static std::vector<SharedText> items(const Answer& answer) {
    std::vector<SharedText> texts;
    for (std::size_t k = 1; k < answer.parts().size(); k += 2) texts.push_back(answer.parts()[k]);
    return texts;
  }
  // The items of a success answer as texts; fails the test on a failure answer.
  static std::vector<std::string> items_of(const Answer& answer) {
    std::vector<std::string> texts;
    EXPECT_TRUE(answer);
    if (!answer) return texts;
    EXPECT_FALSE(answer.is_document()) << write_json(answer.document());
    for (const SharedText& item : items(answer)) texts.push_back(*item);
    return texts;
  }

  e2e::TempDir m_temp;
  const fs::path& m_dir = m_temp.path();
  const fs::path m_records = m_dir / "records";
};

// File list

// The document an answer sends, whether built as a tree or written as text.
Json::Value json_of(const Answer& answer) {
  if (answer.kind() != Answer::Kind::kText) return answer.document();
  std::string text;
  for (const SharedText& part : answer.parts()) text += *part;
  return e2e::parse_json(text);
}

TEST_F(QueryAnswerTest, NeverListsRecordsOutsideTheRecordRoot) {
  write(m_records / "S1" / "A_01.cfg", kSmallCfg);
  write(m_dir / "Outside.cfg", kSmallCfg);     // reachable as ".."
  write(m_records / "In_root.cfg", kSmallCfg);  // reachable as "." or ""
  write(m_records / "a" / "b" / "Deep.cfg", kSmallCfg);
  ASSERT_EQ(200, json_of(answer_file_list(parse(R"({"groupName":"S1"})"), "x"))["result"].asInt());
  for (const char* body : {R"({"groupName":".."})", R"({"groupName":"."})", R"({"groupName":""})",
                           R"({"groupName":"a/b"})", R"({"groupName":"../records/S1"})"}) {
    const auto reply = answer_file_list(parse(body), "getFileName_list");
    ASSERT_TRUE(reply);
    EXPECT_EQ(404, json_of(reply)["result"].asInt()) << body;
    EXPECT_TRUE(g_station_vec.empty()) << body;
  }
}

TEST_F(QueryAnswerTest, EveryQueryStaysSilentWithoutTheInstallationRoot) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  unsetenv("TAVROOT");
  EXPECT_FALSE(answer_file_list(parse(R"({"groupName":"S1"})"), "x"));
  EXPECT_FALSE(answer_channel_info(parse(R"({"groupName":"S1","fileName":"r"})"), "x"));
  EXPECT_FALSE(
      answer_channel_data(parse(R"({"groupName":"S1","fileName":"r","channelList":["Ia"]})"), "x"));
  // The member checks come first: a bad request is still answered.
  EXPECT_TRUE(answer_file_list(parse("{}"), "x"));
  EXPECT_TRUE(answer_channel_info(parse("{}"), "x"));
  EXPECT_TRUE(answer_channel_data(parse(R"({"groupName":"S1","fileName":"r"})"), "x"));
}

// Channel info

TEST_F(QueryAnswerTest, SendsAnEmptyChannelListAsZero) {
  write_record("S1", "analog", "S1,R,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-5,5,1,1,S\n50\n1\n1000,0\n"
               "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n", "");
  write_record("S1", "digital", "S1,R,1999\n1,0A,1D\n1,Trip,,,0\n50\n1\n1000,0\n"
               "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n", "");
  auto reply = answer_channel_info(parse(R"({"groupName":"S1","fileName":"analog"})"), "x");
  EXPECT_EQ(200, reply.document()["result"].asInt());
  EXPECT_EQ(Json::Value(0), reply.document()["diList"]);
  EXPECT_EQ(1u, reply.document()["aiList"].size());
  EXPECT_EQ((std::vector<std::string>{"max", "min", "name"}), reply.document()["aiList"][0].getMemberNames());
  reply = answer_channel_info(parse(R"({"groupName":"S1","fileName":"digital"})"), "x");
  EXPECT_EQ(200, reply.document()["result"].asInt());
  EXPECT_EQ(Json::Value(0), reply.document()["aiList"]);
  Json::Value names(Json::arrayValue);
  names.append("Trip");
  EXPECT_EQ(names, reply.document()["diList"]);
}

TEST_F(QueryAnswerTest, ChecksTheFileNameBeforeTheGroupName) {
  struct Case {
    const char* body;
    int result;
    const char* errorinfo;
  };
  const Case cases[] = {
      {R"({"fileName":3,"groupName":"S1"})", 1, kTextBadFileName},
      {"{}", 1, kTextBadFileName},
      {R"({"groupName":"S1"})", 1, kTextBadFileName},
      {R"({"fileName":"r"})", 2, kTextNoStation},
      {R"({"fileName":"r","groupName":["S1"]})", 2, kTextNoStation},
  };
  for (const Case& c : cases) {
    const auto reply = answer_channel_info(parse(c.body), "getChannelInfo");
    ASSERT_TRUE(reply);
    EXPECT_EQ(make_reply(c.result, c.errorinfo, "getChannelInfo"), reply.document()) << c.body;
  }
}

TEST_F(QueryAnswerTest, AnswersAMissingRecordWithEmptyValuesAfterAReadOne) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  write(m_dir / "x.cfg", kSmallCfg);  // what ".." would reach
  ASSERT_EQ(200, answer_channel_info(parse(R"({"groupName":"S1","fileName":"r"})"), "x").document()["result"]
                     .asInt());
  for (const char* body : {R"({"groupName":"S1","fileName":"gone"})",
                           R"({"groupName":"..","fileName":"x"})",
                           R"({"groupName":"S1","fileName":"../../x"})",
                           R"({"groupName":"a/b","fileName":"r"})"}) {
    const auto reply = answer_channel_info(parse(body), "getChannelInfo");
    ASSERT_TRUE(reply);
    Json::Value expected = make_reply(2, kTextNoChannels, "getChannelInfo");
    expected["aiList"] = 0;
    expected["diList"] = 0;
    expected["samp_count"] = 0;
    expected["startTime"] = "";
    EXPECT_EQ(expected, reply.document()) << body;
  }
}

TEST_F(QueryAnswerTest, LetsABadNumberInTheCfgEscapeToTheDispatcher) {
  write_record("S1", "bad", "S1,R,1999\n1,1A,0D\n1,Ia,,,A,zz,0,0,-5,5,1,1,S\n", "");
  EXPECT_ANY_THROW(answer_channel_info(parse(R"({"groupName":"S1","fileName":"bad"})"), "x"));
  EXPECT_ANY_THROW(
      answer_channel_data(parse(R"({"groupName":"S1","fileName":"bad","channelList":["Ia"]})"), "x"));
}

// Channel data

TEST_F(QueryAnswerTest, AnswersRequestedChannelsInRequestOrder) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  struct Case {
    const char* list;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {R"(["D2","Ia"])", {"1,1", "50.0000,51.0000"}},
      {R"(["Ia","nope","Ub"])", {"50.0000,51.0000", "-10.0000,-11.0000"}},
      {R"(["nope","D1"])", {"0,1"}},
      {R"(["Ub","Ub","D1","Ub"])", {"-10.0000,-11.0000", "-10.0000,-11.0000", "0,1", "-10.0000,-11.0000"}},
  };
  for (const Case& c : cases) {
    const std::string body =
        std::string(R"({"groupName":"S1","fileName":"r","type":7,"channelList":)") + c.list + "}";
    EXPECT_EQ(c.items, items_of(answer_channel_data(parse(body), "getFileInfo"))) << c.list;
  }
}

TEST_F(QueryAnswerTest, QueuesAChannelNamedTwiceWithoutASecondCopy) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 2;
  spec.digital_count = 1;
  spec.samples = 2000;
  e2e::write_generated_record(m_records / "S1", "big", spec);
  const auto answer = answer_channel_data(
      parse(R"({"groupName":"S1","fileName":"big","channelList":["U1","D1","U1"]})"), "getFileInfo");
  ASSERT_TRUE(answer && !answer.is_document());
  const std::vector<SharedText> texts = items(answer);
  ASSERT_EQ(3u, texts.size());
  EXPECT_EQ(texts[0].get(), texts[2].get());

  e2e::RecordingConnection nc;
  send_answer(nc, answer);
  EXPECT_EQ(e2e::chunked_reply_bytes(expected::channel_data({*texts[0], *texts[1], *texts[2]})),
            nc.wire());
  // The long analog text goes out by pointer, twice; the short digital one is
  // cheaper copied.
  EXPECT_EQ((std::vector<const std::string*>{texts[0].get(), texts[0].get()}), nc.shared);
}

TEST_F(QueryAnswerTest, FailsRequestsWithoutAUsableChannelList) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  struct Case {
    const char* members;
    int result;
    const char* errorinfo;
  };
  const Case cases[] = {
      {R"("fileName":"r","channelList":["Ia"])", 2, kTextNoStation},
      {R"("groupName":5,"fileName":"r")", 2, kTextNoStation},
      {R"("groupName":"S1","channelList":["Ia"])", 1, kTextBadFileName},
      {R"("groupName":"S1","fileName":"r")", 0, kTextEmptyChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":null)", 0, kTextEmptyChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":[])", 0, kTextEmptyChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":"Ia")", 0, kTextBadChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":12)", 0, kTextBadChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":{"0":"Ia"})", 0, kTextBadChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":["Ia",3])", 0, kTextBadChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":["Ia",null])", 0, kTextBadChannelList},
      {R"("groupName":"S1","fileName":"r","channelList":["nope","Ia "])", 0, kTextChannelNotFound},
  };
  for (const Case& c : cases) {
    const auto answer = answer_channel_data(parse(std::string("{") + c.members + "}"), "getFileInfo");
    ASSERT_TRUE(answer);
    ASSERT_TRUE(answer.is_document()) << c.members;
    EXPECT_EQ(make_reply(c.result, c.errorinfo, "getFileInfo"), answer.document()) << c.members;
  }
}

TEST_F(QueryAnswerTest, AnswersAnEmptyListForRecordsWithoutData) {
  write_record("S1", "r", kSmallCfg, kSmallDat);
  // Zero samples announced: the data file is not read.
  write_record("S1", "none", "S1,R,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-5,5,1,1,S\n50\n1\n1000,0\n"
               "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n", "1,0,5\n");
  write_record("S1", "odd_type", "S1,R,1999\n1,1A,0D\n1,Ia,,,A,1,0,0,-5,5,1,1,S\n50\n1\n1000,1\n"
               "01/01/2020,00:00:00\n01/01/2020,00:00:00\nFLOAT32\n", "1,0,5\n");
  write(m_dir / "x.cfg", kSmallCfg);
  write(m_dir / "x.dat", kSmallDat);
  // Each one right after a request that loaded values, so stale values would show.
  for (const char* where : {R"("groupName":"S1","fileName":"none")",
                            R"("groupName":"S1","fileName":"odd_type")",
                            R"("groupName":"S1","fileName":"gone")",
                            R"("groupName":"..","fileName":"x")",
                            R"("groupName":"S1","fileName":"../../x")"}) {
    ASSERT_EQ(1u, items_of(answer_channel_data(
                           parse(R"({"groupName":"S1","fileName":"r","channelList":["Ia"]})"), "x"))
                      .size());
    const std::string body = std::string("{") + where + R"(,"channelList":["Ia"]})";
    EXPECT_TRUE(items_of(answer_channel_data(parse(body), "getFileInfo")).empty()) << where;
  }
}

TEST_F(QueryAnswerTest, EscapesDigitalTextsThatWouldBreakTheAnswer) {
  write_record("S1", "q",
               "S1,R,1999\n1,0A,2D\n1,Q,,,0\n2,G,,,0\n50\n1\n1000,2\n"
               "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n",
               "1,0,a\"b\\c,\xB1\xB1\n2,0,x\ty\x01,1\n");
  EXPECT_EQ((std::vector<std::string>{"a\\\"b\\\\c,x\\ty\\u0001", "\xB1\xB1,1"}),
            items_of(answer_channel_data(
                parse(R"({"groupName":"S1","fileName":"q","channelList":["Q","G"]})"), "x")));
}

TEST_F(QueryAnswerTest, ReadsTwoHundredDigitalChannelsOfAnUpperCaseBinaryRecord) {
  comtrade_gen::RecordSpec spec;
  spec.analog_count = 3;
  spec.digital_count = 200;
  spec.samples = 300;
  spec.format = comtrade_gen::DataFormat::kBinary;
  const comtrade_gen::GeneratedRecord record = comtrade_gen::generate(spec);
  write(m_records / "S1" / "UP.CFG", record.cfg);
  write(m_records / "S1" / "UP.DAT", record.dat);
  const auto listed = answer_file_list(parse(R"({"groupName":"S1"})"), "x");
  ASSERT_EQ("UP", json_of(listed)["fileName_list"][0].asString());
  const auto info = answer_channel_info(parse(R"({"groupName":"S1","fileName":"UP"})"), "x");
  EXPECT_EQ(200u, info.document()["diList"].size());
  EXPECT_EQ(300, info.document()["samp_count"].asInt());
  EXPECT_EQ((std::vector<std::string>{expected::digital_text(record, 200, 199),
                                      expected::analog_text(record, 3, 2),
                                      expected::digital_text(record, 200, 0),
                                      expected::digital_text(record, 200, 99)}),
            items_of(answer_channel_data(
                parse(R"({"groupName":"S1","fileName":"UP","channelList":["D200","U3","D1","D100"]})"),
                "x")));
}

}  // namespace
