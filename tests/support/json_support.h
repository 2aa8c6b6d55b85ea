// Reading the JSON of a reply in a test, with the reader the service itself
// uses (bytes >= 0x80 pass through, as GBK texts need).
#ifndef TESTS_SUPPORT_JSON_SUPPORT_H_
#define TESTS_SUPPORT_JSON_SUPPORT_H_

#include <string>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

namespace e2e {

// The document in `text`; a failed test when it does not parse.
inline Json::Value parse_json(const std::string& text) {
  Json::Value value;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Json::Reader reader;
#pragma GCC diagnostic pop
  EXPECT_TRUE(reader.parse(text, value)) << text.substr(0, 300);
  return value;
}

}  // namespace e2e

#endif  // TESTS_SUPPORT_JSON_SUPPORT_H_
