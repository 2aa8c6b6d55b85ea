// Reading the request document and checking names before they reach a path.
#include "restfulserver/request.h"

#include <string>

#include <gtest/gtest.h>
#include <json/value.h>

namespace {

transport::Request with_body(const std::string& body) {
  transport::Request request;
  request.method = "POST";
  request.uri = "/x";
  request.body = body;
  return request;
}

TEST(ParseBodyTest, ReadsAnObject) {
  Json::Value root;
  ASSERT_TRUE(parse_body(with_body("{\"groupName\":\"S1\",\"n\":3}"), root));
  EXPECT_EQ("S1", string_member(root, "groupName", "none"));
}

TEST(ParseBodyTest, RejectsWhatIsNotAnObject) {
  struct Case {
    const char* body;
  };
  const Case cases[] = {
      {""},          {"123"},         {"\"text\""}, {"[1,2]"},      {"[]"},
      {"null"},      {"{"},           {"{'a':1}"},  {"/*c*/{}"},    {"{\"a\":1,}"},
      {"   "},       {"{\"a\":}"},
  };
  for (const Case& c : cases) {
    Json::Value root;
    EXPECT_FALSE(parse_body(with_body(c.body), root)) << c.body;
  }
}

TEST(ParseBodyTest, StopsAtTheFirstNulByte) {
  Json::Value root;
  EXPECT_TRUE(parse_body(with_body(std::string("{\"a\":\"b\"}\0garbage", 17)), root));
  EXPECT_FALSE(parse_body(with_body(std::string("{\"a\":\0\"b\"}", 10)), root));
}

TEST(ParseBodyTest, KeepsGbkBytesInStrings) {
  Json::Value root;
  ASSERT_TRUE(parse_body(with_body("{\"groupName\":\"\xD5\xBE\xC3\xFB\"}"), root));
  EXPECT_EQ("\xD5\xBE\xC3\xFB", string_member(root, "groupName", ""));
}

TEST(ParseBodyTest, DeepNestingIsAnUnparsedDocumentNotAnException) {
  Json::Value root;
  const std::string body = "{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
  EXPECT_FALSE(parse_body(with_body(body), root));
}

TEST(StringMemberTest, FallsBackUnlessTheMemberIsAString) {
  Json::Value root;
  ASSERT_TRUE(parse_body(with_body("{\"s\":\"v\",\"n\":12,\"o\":{},\"z\":null,\"e\":\"\"}"), root));
  EXPECT_EQ("v", string_member(root, "s", "d"));
  EXPECT_EQ("", string_member(root, "e", "d"));
  EXPECT_EQ("d", string_member(root, "n", "d"));
  EXPECT_EQ("d", string_member(root, "o", "d"));
  EXPECT_EQ("d", string_member(root, "z", "d"));
  EXPECT_EQ("d", string_member(root, "missing", "d"));
  EXPECT_EQ("d", string_member(Json::Value(Json::arrayValue), "s", "d"));
}

TEST(IsSafeNameTest, AcceptsPlainNamesAndRefusesThoseThatLeaveTheRoot) {
  struct Case {
    std::string name;
    bool safe;
  };
  const Case cases[] = {
      {"S1", true},
      {"A_01", true},
      {"rec.old", true},
      {"..x", true},
      {"x..", true},
      {"\xD5\xBE\xC3\xFB", true},
      {"T\x81\x5C", true},           // the trail byte of a character, not a "\"
      {"\x95\x5C\x81\x5C", true},
      {"\x81\x5C\\..", false},      // a "\" after a whole character
      {"\x81\x5C\x5C", false},
      {"\x81/..", false},             // a separator is one even after a lead byte
      {"\x81:", false},
      {"", false},
      {".", false},
      {"..", false},
      {"../etc", false},
      {"a/b", false},
      {"a\\b", false},
      {"C:", false},
      {"/abs", false},
      {std::string("a\0b", 3), false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.safe, is_safe_name(c.name)) << c.name;
}

}  // namespace
