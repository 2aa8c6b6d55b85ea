// Numbers and strings of hand-built answer texts.
#include "extensions/json_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "restfulserver/reply.h"

void append_number(std::string& out, double value) {
  char text[kNumberChars];
  out.append(text, write_number(text, value));
}

void append_integer(std::string& out, std::int64_t value) {
  char text[kNumberChars];
  out.append(text, write_integer(text, value));
}

char* write_number(char* at, double value) {
  if (!std::isfinite(value)) {
    std::memcpy(at, "null", 4);
    return at + 4;
  }
  // Plain digits where they stay short, as people read them ("100000",
  // not "1e+05"); the shortest exponent form beyond.
  const double size = std::fabs(value);
  // Whole numbers (sample times in microseconds, most of all) take the
  // integer conversion, which writes the same digits several times faster.
  if (size < 1e15 && value == std::trunc(value) && !(value == 0 && std::signbit(value))) {
    return write_integer(at, static_cast<std::int64_t>(value));
  }
  const bool plain = size == 0 || (size >= 1e-5 && size < 1e15);
  return std::to_chars(at, at + kNumberChars, value, plain ? std::chars_format::fixed : std::chars_format::general)
      .ptr;
}

char* write_integer(char* at, std::int64_t value) { return std::to_chars(at, at + kNumberChars, value).ptr; }

void append_numbers(std::string& out, const std::vector<double>& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ',';
    append_number(out, values[i]);
  }
  out += ']';
}

void append_string(std::string& out, const char* text) {
  out += '"';
  append_json_escaped(out, text, text + std::strlen(text));
  out += '"';
}

void append_key(std::string& out, const char* key, bool first) {
  if (!first) out += ',';
  out += '"';
  out += key;
  out += "\":";
}
