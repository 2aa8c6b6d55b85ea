// The reply text and the chunked byte sequence every handler sends.
#include "restfulserver/reply.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include "restfulserver/gbk_texts.h"
#include "support/recording_connection.h"

namespace {

using e2e::RecordingConnection;

TEST(ReplyTest, EnvelopeIsCompactWithMembersInKeyOrder) {
  EXPECT_EQ("{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n",
            write_json(make_reply(200, "", "getGroupFile_list")));
}

TEST(ReplyTest, PayloadMembersSortAmongTheEnvelopeAndArraysStayCompact) {
  Json::Value reply = make_reply(200, "", "getFileName_list");
  reply["fileName_list"].append("A_01");
  reply["fileName_list"].append("B_02");
  reply["aiList"] = 0;
  EXPECT_EQ(
      "{\"aiList\":0,\"errorinfo\":\"\",\"fileName_list\":[\"A_01\",\"B_02\"],\"result\":200,"
      "\"typeurl\":\"getFileName_list\"}\n",
      write_json(reply));
}

TEST(ReplyTest, GbkBytesPassThroughUnescaped) {
  const std::string text = write_json(make_reply(0, kTextBadRequest, "x"));
  EXPECT_EQ(std::string("{\"errorinfo\":\"") + kTextBadRequest + "\",\"result\":0,\"typeurl\":\"x\"}\n",
            text);
  EXPECT_EQ(18u, std::string(kTextBadRequest).size());
}

TEST(ReplyTest, QuotesBackslashesAndControlBytesAreEscaped) {
  Json::Value value(Json::objectValue);
  value["k"] = std::string("a\"b\\c\nd\x01", 8);
  EXPECT_EQ("{\"k\":\"a\\\"b\\\\c\\nd\\u0001\"}\n", write_json(value));
}

// The library's own compact writer is the reference for every byte.
TEST(ReplyTest, TextIsThatOfTheLibrarysCompactWriter) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  const auto library = [&](const Json::Value& value) { return Json::writeString(builder, value) + "\n"; };

  std::vector<Json::Value> values = {
      Json::Value(), Json::Value(true), Json::Value(false), Json::Value(0), Json::Value(-1),
      Json::Value(std::numeric_limits<Json::LargestInt>::min()),
      Json::Value(std::numeric_limits<Json::LargestUInt>::max()), Json::Value(Json::arrayValue),
      Json::Value(Json::objectValue), Json::Value(std::string("\0\x1f\x7f\x80\xff/\b\f\r\t", 11)),
      Json::Value(std::numeric_limits<double>::quiet_NaN()),
      Json::Value(std::numeric_limits<double>::infinity()),
      Json::Value(-std::numeric_limits<double>::infinity())};
  for (double real : {0.0, -0.0, 1.0, -99999.0, 0.1, 1e16, 1e17, 1.5e-7, 123456789012345678.0, 5e-324,
                      std::numeric_limits<double>::max()}) {
    values.emplace_back(real);
  }
  std::mt19937_64 random(13);
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t bits = random();
    double real;
    std::memcpy(&real, &bits, sizeof real);
    values.emplace_back(real);
    values.emplace_back(static_cast<double>(static_cast<std::int32_t>(bits)) / 10000.0);
  }
  Json::Value nested(Json::objectValue);
  nested["b"]["x"] = Json::Value(Json::arrayValue);
  nested["ab"].append(Json::Value(Json::objectValue));
  nested["a"] = 1.25;
  nested["\x01k\xc4"] = "v";
  for (int i = 0; i < 40; ++i) nested["long"].append(i);  // the writer's multi-line array path
  values.push_back(nested);

  for (const Json::Value& value : values) EXPECT_EQ(library(value), write_json(value));
}

TEST(ReplyTest, ChunkSizeLineIsUpperCaseHex) {
  EXPECT_EQ("0\r\n", chunk_size_line(0));
  EXPECT_EQ("3C\r\n", chunk_size_line(60));
  EXPECT_EQ("ABCDEF\r\n", chunk_size_line(0xABCDEF));
  EXPECT_EQ("10000000\r\n", chunk_size_line(0x10000000));
}

TEST(ReplyTest, SendJsonQueuesOneChunkAndTheClosingChunk) {
  RecordingConnection nc;
  send_json(nc, make_reply(200, "", "getGroupFile_list"));
  EXPECT_EQ(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3C\r\n"
      "{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n\r\n0\r\n\r\n",
      nc.wire());
}

TEST(ReplyTest, SendReplyKeepsTheTextAsItsOwnPiece) {
  RecordingConnection nc;
  const std::string text(100000, 'x');
  send_reply(nc, text);
  ASSERT_GE(nc.pieces.size(), 3u);
  // The big text is queued as it is, not glued to the small framing pieces.
  EXPECT_EQ(1, std::count(nc.pieces.begin(), nc.pieces.end(), text));
  EXPECT_EQ(std::string(kReplyHead) + "186A0\r\n" + text + "\r\n" + kLastChunk, nc.wire());
}

}  // namespace
