// Answer texts built by hand, for answers of thousands of numbers: a
// document tree keeps its arrays as maps and would cost more than the
// numbers themselves. Members must be appended in the writer's order
// (ascending keys), as every other answer has them.
#ifndef EXTENSIONS_JSON_TEXT_H_
#define EXTENSIONS_JSON_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// `value` as the shortest text that reads back as the same double, or null
// when it is not finite.
void append_number(std::string& out, double value);

// `value` in decimal digits.
void append_integer(std::string& out, std::int64_t value);

// The same texts written at `at`, which has room for kNumberChars bytes;
// they return the end of what they wrote. For answers that write an entry
// into a buffer and append it once.
constexpr std::size_t kNumberChars = 64;
char* write_number(char* at, double value);
char* write_integer(char* at, std::int64_t value);

// [v1,v2,...] by append_number.
void append_numbers(std::string& out, const std::vector<double>& values);

// A JSON string of the bytes of `text` (GBK passes through).
void append_string(std::string& out, const char* text);

// "\"key\":", after a comma unless `first`.
void append_key(std::string& out, const char* key, bool first = false);

#endif  // EXTENSIONS_JSON_TEXT_H_
