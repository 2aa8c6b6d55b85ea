// Reading the JSON of a reply in a test, with the reader the service itself
// uses (bytes >= 0x80 pass through, as GBK texts need).
#ifndef TESTS_SUPPORT_JSON_SUPPORT_H_
#define TESTS_SUPPORT_JSON_SUPPORT_H_

#include <cmath>
#include <memory>
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

// Whether `value` holds only finite numbers: a reader turns 1e+9999 into an
// infinity without complaint, yet no JSON number can mean one.
inline bool only_finite_numbers(const Json::Value& value) {
  if (value.isDouble()) return std::isfinite(value.asDouble());
  for (const Json::Value& member : value) {
    if (!only_finite_numbers(member)) return false;
  }
  return true;
}

// The document in `text` read as a strict parser reads it (no NaN or
// infinity tokens, no comments, nothing after the document, every number
// finite); a failed test when it is not such a document.
inline Json::Value parse_strict_json(const std::string& text) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  builder.settings_["failIfExtra"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  const bool parsed = reader->parse(text.data(), text.data() + text.size(), &value, &errors);
  EXPECT_TRUE(parsed && only_finite_numbers(value)) << errors << text.substr(0, 300);
  return value;
}

}  // namespace e2e

#endif  // TESTS_SUPPORT_JSON_SUPPORT_H_
