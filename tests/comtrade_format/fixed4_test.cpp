// format_fixed4 and format_fixed3 against the C library's own "%.4f" and "%.3f".
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "comtrade_format/fixed4.h"

namespace {

std::string printf_text(double value, const char* format = "%.4f") {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string fixed3_text(double value) {
  char buffer[kFixed4MaxChars];
  return std::string(buffer, format_fixed3(value, buffer));
}

std::string fixed4_text(double value) {
  char buffer[kFixed4MaxChars];
  return std::string(buffer, format_fixed4(value, buffer));
}

// The sanitizer build runs this suite too; fewer values keep it quick.
long long value_budget() { return std::getenv("COMTRADE_SANITIZED") ? 300000 : 10000000; }

// Counts mismatches and reports the first few, so one run shows the pattern.
class Comparer {
 public:
  // Both widths; the three decimals of time stamps on every fourth value.
  void check(double value) {
    ++m_checked;
    check(value, format_fixed4, "%.4f");
    if (m_checked % 4 == 0) check(value, format_fixed3, "%.3f");
  }
  long long checked() const { return m_checked; }
  long long failures() const { return m_failures; }

 private:
  void check(double value, std::size_t (*format)(double, char*), const char* printf_format) {
    char ours[kFixed4MaxChars];
    char theirs[400];
    const std::size_t length = format(value, ours);
    const int their_length = std::snprintf(theirs, sizeof theirs, printf_format, value);
    if (static_cast<int>(length) == their_length && std::memcmp(ours, theirs, length) == 0) return;
    if (++m_failures <= 10) {
      ADD_FAILURE() << printf_format << " of " << std::hexfloat << value << ": printf " << theirs << ", ours "
                    << std::string(ours, length);
    }
  }

  long long m_checked = 0;
  long long m_failures = 0;
};

TEST(Fixed4Test, MatchesPrintfOnEdgeCases) {
  const double cases[] = {
      0.0, -0.0, 0.00005, 0.00015, 0.00025, 2.5e-5, 7.5e-5, 1.00005, 2.00015, -0.00005,
      0.12345, 1.23455, -23.59385, 6.16245, 99999.99995, -99999.99995, 0.5, 1.5, 2.5,
      -1e-10, -0.00004, -0.00006, 1e-5, -1e-5, 4.9999e-5, 5.0001e-5,
      1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e22, 1e300, -1e300,
      std::ldexp(1.0, 60), std::ldexp(1.0, 61), std::ldexp(1.0, 63), std::ldexp(1.0, 64),
      std::ldexp(1.0, 112), std::ldexp(1.0, 113), std::ldexp(1.0, 114), std::ldexp(1.0, 200),
      std::ldexp(1.0, -70), std::ldexp(3.0, -16), std::ldexp(1.0, -15),
      9007199254740993.0, 18446744073709551615.0, 1844674407370955161.5,
      DBL_TRUE_MIN, -DBL_TRUE_MIN, DBL_MIN, -DBL_MIN, 2.2250738585072009e-308, DBL_MAX, -DBL_MAX,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
  };
  for (double value : cases) {
    EXPECT_EQ(printf_text(value), fixed4_text(value)) << std::hexfloat << value;
    EXPECT_EQ(printf_text(value, "%.3f"), fixed3_text(value)) << std::hexfloat << value;
  }
  // Times between samples at rates that give no whole microseconds.
  EXPECT_EQ("-0.000", fixed3_text(-0.0));
  EXPECT_EQ("0.062", fixed3_text(0.0625));
  EXPECT_EQ("208.333", fixed3_text(1e6 / 4800));
  EXPECT_EQ("99999999.999", fixed3_text(99999999.9994));
}

TEST(Fixed4Test, NegativeValuesKeepTheirSignEvenAtZero) {
  EXPECT_EQ("-0.0000", fixed4_text(-0.0));
  EXPECT_EQ("-0.0000", fixed4_text(-0.00001));
  EXPECT_EQ("-0.0001", fixed4_text(-0.00005));
}

TEST(Fixed4Test, RoundsExactHalvesToEven) {
  // 1/32 and 3/32 end in a 5 at the fifth decimal exactly; 0.00015 lies just
  // below its decimal half in binary.
  EXPECT_EQ("0.0312", fixed4_text(0.03125));
  EXPECT_EQ("0.0938", fixed4_text(0.09375));
  EXPECT_EQ("-0.0312", fixed4_text(-0.03125));
  EXPECT_EQ("0.0001", fixed4_text(0.00015));
  EXPECT_EQ("-23.5938", fixed4_text(-23.59385));
}

TEST(Fixed4Test, MatchesPrintfOnScaledSamples) {
  // The form every value of the service takes: a 16-bit sample times a
  // factor plus an offset.
  const struct {
    double factor_a, factor_b;
  } factors[] = {{0.01, 0},      {0.0125, 0.5}, {0.003051851, -1.2}, {1, 0},
                 {1e-5, 0},      {123.456, 7},  {0.1138916015625, 0.05694580078125},
                 {0.016552, 0},  {2.5e-5, -0.5}, {0.00762939453125, 0}};
  Comparer comparer;
  const int stride = value_budget() < 1000000 ? 3 : 1;
  for (const auto& f : factors) {
    for (int sample = INT16_MIN; sample <= INT16_MAX; sample += stride) {
      comparer.check(static_cast<double>(sample) * f.factor_a + f.factor_b);
    }
  }
  // The rest of the budget: random factors, offsets and 32-bit samples, the
  // range the ASCII reader accepts.
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> exponent(-9, 6);
  std::uniform_int_distribution<std::int32_t> sample(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<int> small_sample(INT16_MIN, INT16_MAX);
  std::uniform_real_distribution<double> offset(-1000, 1000);
  while (comparer.checked() < value_budget()) {
    const double factor_a = std::pow(10.0, exponent(random));
    const double factor_b = (random() & 1) ? offset(random) : 0.0;
    for (int i = 0; i < 100; ++i) {
      const double raw = (i & 1) ? sample(random) : small_sample(random);
      comparer.check(raw * factor_a + factor_b);
    }
  }
  EXPECT_EQ(0, comparer.failures()) << "of " << comparer.checked();
}

TEST(Fixed4Test, MatchesPrintfOnArbitraryBitPatterns) {
  std::mt19937_64 random(7);
  Comparer comparer;
  const long long count = value_budget() / 10;
  for (long long i = 0; i < count; ++i) {
    std::uint64_t bits = random();
    // Mostly exponents near the decimal point, where rounding matters.
    if (i % 4 != 0) bits = (bits & 0x800FFFFFFFFFFFFFULL) | (static_cast<std::uint64_t>(990 + random() % 100) << 52);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    comparer.check(value);
  }
  EXPECT_EQ(0, comparer.failures()) << "of " << comparer.checked();
}

}  // namespace
