// Numbers and strings of hand-built answer texts.
#include "extensions/json_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "restfulserver/reply.h"

void append_number(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // Plain digits where they stay short, as people read them ("100000",
  // not "1e+05"); the shortest exponent form beyond.
  const double size = std::fabs(value);
  // Whole numbers (sample times in microseconds, most of all) take the
  // integer conversion, which writes the same digits several times faster.
  if (size < 1e15 && value == std::trunc(value) && !(value == 0 && std::signbit(value))) {
    append_integer(out, static_cast<std::int64_t>(value));
    return;
  }
  const bool plain = size == 0 || (size >= 1e-5 && size < 1e15);
  char text[64];
  out.append(text, std::to_chars(text, text + sizeof text, value,
                                 plain ? std::chars_format::fixed : std::chars_format::general)
                       .ptr);
}

void append_integer(std::string& out, std::int64_t value) {
  char text[24];
  out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

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
