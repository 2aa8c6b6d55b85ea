// Configuration numbers: plain decimals by std::from_chars, which rounds as
// strtod does without its locale and copies (a record may hold a rate line
// per sample); anything else (a sign "+", hex, "inf", a value out of range)
// by the C library itself, so the outcome is always the library's.
#include "comtrade_format/cfg_numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

namespace comtrade_detail {

namespace {

struct Plain {
  double value;
  const char* end;  // just past the number
};

// The number at the start of `text` after leading white space, read by
// std::from_chars where it is a plain decimal (a digit first, or a minus and
// a digit) that the library would read alike: not the "0" of a hex number,
// nor out of range.
std::optional<Plain> plain_decimal(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || (text[start] >= '\t' && text[start] <= '\r'))) ++start;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  const bool digit_first = first < last && ((*first >= '0' && *first <= '9') ||
                                            (*first == '-' && first + 1 < last && first[1] >= '0' && first[1] <= '9'));
  if (!digit_first) return std::nullopt;
  double value = 0;
  const auto result = std::from_chars(first, last, value, std::chars_format::general);
  if (result.ec != std::errc() || (result.ptr != last && (*result.ptr == 'x' || *result.ptr == 'X'))) {
    return std::nullopt;
  }
  return Plain{value, result.ptr};
}

}  // namespace

double stod_number(std::string_view text) {
  // stod throws where strtod underflows: zero and subnormal results are left
  // to it.
  if (const std::optional<Plain> plain = plain_decimal(text); plain && std::isnormal(plain->value)) {
    return plain->value;
  }
  return std::stod(std::string(text));
}

std::optional<double> header_number(std::string_view text) {
  if (const std::optional<Plain> plain = plain_decimal(text)) {
    const char* end = plain->end;
    const char* const last = text.data() + text.size();
    while (end < last && (*end == ' ' || *end == '\t')) ++end;
    if (end == last || *end == '\0') return plain->value;
    return std::nullopt;
  }
  const std::string copy(text);
  const char* begin = copy.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return std::nullopt;
  return value;
}

}  // namespace comtrade_detail
