// Exact "%.4f" and "%.3f" by integer arithmetic. printf rounds the exact
// binary value of the double half to even; scaling by 1e4 in floating point
// first would round twice and differ for a few values in ten thousand
// (-23.59385 is one).
#include "comtrade_format/fixed4.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

__extension__ using Uint128 = unsigned __int128;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The decimals written, and 10^decimals.
template <int kDecimals>
struct Fixed;
template <>
struct Fixed<3> {
  static constexpr std::uint64_t kScale = 1000;
  static constexpr const char* kFormat = "%.3f";
};
template <>
struct Fixed<4> {
  static constexpr std::uint64_t kScale = 10000;
  static constexpr const char* kFormat = "%.4f";
};

template <int kDecimals>
std::size_t format_by_printf(double value, char* out) {
  const int written = std::snprintf(out, kFixed4MaxChars, Fixed<kDecimals>::kFormat, value);
  return written < 0 ? 0 : static_cast<std::size_t>(written);
}

// Writes the decimal digits of `number` ending just before `end`; returns
// where they start.
char* write_integer_backwards(std::uint64_t number, char* end) {
  while (number >= 100) {
    const std::uint64_t pair = number % 100;
    number /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
  }
  if (number >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * number, 2);
  } else {
    *--end = static_cast<char>('0' + number);
  }
  return end;
}

// Digits of `number`, which is below 10^19.
int decimal_digits(std::uint64_t number) {
  int digits = 1;
  for (std::uint64_t limit = 10; number >= limit && digits < 19; limit *= 10) ++digits;
  return digits;
}

// Writes "." and the decimals of `fraction` (below 10^decimals) at `at`.
template <int kDecimals>
void write_fraction(std::uint64_t fraction, char* at) {
  at[0] = '.';
  if constexpr (kDecimals == 4) {
    std::memcpy(at + 1, kDigitPairs + 2 * (fraction / 100), 2);
    std::memcpy(at + 3, kDigitPairs + 2 * (fraction % 100), 2);
  } else {
    at[1] = static_cast<char>('0' + fraction / 100);
    std::memcpy(at + 2, kDigitPairs + 2 * (fraction % 100), 2);
  }
}

char* write_integer_backwards(Uint128 number, char* end) {
  // Only values of 2^64 and more come here, so the slow 128-bit divisions
  // stay off the common path.
  constexpr std::uint64_t kChunk = 10000000000000000000ULL;  // 10^19
  while (number >= kChunk) {
    std::uint64_t low = static_cast<std::uint64_t>(number % kChunk);
    number /= kChunk;
    for (int i = 0; i < 19; ++i) {
      *--end = static_cast<char>('0' + low % 10);
      low /= 10;
    }
  }
  return write_integer_backwards(static_cast<std::uint64_t>(number), end);
}

// round-half-even(|value| * 10^decimals) for the magnitudes samples have, or false
// when the product lies too close to a half for floating point to tell. The
// product in double differs from the exact one by at most half an ulp, so a
// fraction farther than twice that from one half rounds the same either way.
template <int kDecimals>
bool units_by_double(double value, std::uint64_t& units) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < 0x1p36)) return false;  // also NaN; the product stays below 2^50
  const double scaled = magnitude * static_cast<double>(Fixed<kDecimals>::kScale);
  // Truncation is the floor of a positive value, and a conversion, where
  // floor() would be a library call on the baseline processor.
  const auto truncated = static_cast<std::uint64_t>(scaled);
  const double fraction = scaled - static_cast<double>(truncated);  // exact: both below 2^50
  if (!(std::fabs(fraction - 0.5) > scaled * 0x1p-52)) return false;
  units = truncated + (fraction > 0.5 ? 1 : 0);
  return true;
}

// Writes the sign, the integer part and the decimals of `units`
// (round(|value| * 10^decimals)) to `out`; returns the length.
template <int kDecimals>
std::size_t write_units(bool negative, std::uint64_t units, char* out) {
  char* p = out;
  // printf keeps the sign of negative values that round to zero ("-0.0000").
  if (negative) *p++ = '-';
  const std::uint64_t integer = units / Fixed<kDecimals>::kScale;
  p += decimal_digits(integer);
  write_integer_backwards(integer, p);
  write_fraction<kDecimals>(units % Fixed<kDecimals>::kScale, p);
  return static_cast<std::size_t>(p + 1 + kDecimals - out);
}

template <int kDecimals>
std::size_t format_fixed(double value, char* out) {
  constexpr std::uint64_t kScale = Fixed<kDecimals>::kScale;
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  std::uint64_t fast_units;
  if (units_by_double<kDecimals>(value, fast_units)) return write_units<kDecimals>(negative, fast_units, out);
  const int exponent_field = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (exponent_field == 0x7FF) return format_by_printf<kDecimals>(value, out);  // inf, nan

  // value = mantissa * 2^exponent exactly.
  std::uint64_t mantissa = fraction;
  int exponent = -1074;
  if (exponent_field != 0) {
    mantissa |= std::uint64_t{1} << 52;
    exponent = exponent_field - 1075;
  }

  // scaled < 2^67, so any left shift up to 60 still fits 128 bits.
  const Uint128 scaled = static_cast<Uint128>(mantissa) * kScale;
  Uint128 units;  // round-half-even(|value| * 10^decimals)
  if (exponent >= 0) {
    if (exponent > 60) return format_by_printf<kDecimals>(value, out);
    units = scaled << exponent;
  } else {
    const int shift = -exponent;
    if (shift >= 128) {
      units = 0;  // scaled < 2^67 is below half of 2^shift
    } else {
      units = scaled >> shift;
      const Uint128 remainder = scaled - (units << shift);
      const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
      if (remainder > half || (remainder == half && (units & 1) != 0)) ++units;
    }
  }

  if ((units >> 64) == 0) return write_units<kDecimals>(negative, static_cast<std::uint64_t>(units), out);
  char* p = out;
  if (negative) *p++ = '-';
  // Built backwards in a local buffer: the integer part's length is not
  // known before its digits are.
  char buffer[64];
  char* const end = buffer + sizeof buffer;
  write_fraction<kDecimals>(static_cast<std::uint64_t>(units % kScale), end - 1 - kDecimals);
  char* const begin = write_integer_backwards(units / kScale, end - 1 - kDecimals);
  const std::size_t length = static_cast<std::size_t>(end - begin);
  std::memcpy(p, begin, length);
  return static_cast<std::size_t>(p + length - out);
}

}  // namespace

std::size_t format_fixed4(double value, char* out) { return format_fixed<4>(value, out); }

std::size_t format_fixed3(double value, char* out) { return format_fixed<3>(value, out); }
