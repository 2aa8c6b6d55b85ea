// The conversions of kept sample fields that are not inline: the plain one
// and the SSSE3 one, chosen when the processor is asked at first use.
#include "comtrade_format/ascii_fields.h"

#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <tmmintrin.h>
#define COMTRADE_KEPT_SAMPLES_SSSE3 1
#endif

namespace comtrade_detail {

// Base-10 integer as strtol reads it (leading white space, a sign, digits up
// to the first other byte), clamped to 32 bits; no digits give 0.
std::int32_t parse_sample_slowly(const char* p, const char* end) {
  while (p < end && is_c_space(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::int64_t value = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

void convert_kept_samples_one_by_one(const std::uint64_t* words, const std::uint8_t* forms, int count,
                                     std::int32_t* samples) {
  for (int k = 0; k < count; ++k) samples[k] = KeptSample::value(words[k], forms[k]);
}

#if defined(COMTRADE_KEPT_SAMPLES_SSSE3)
// For a pair of kept samples of c0 and c1 digits (1 to 8), the byte shuffle
// that moves each one's digits to the end of its eight bytes, zeros before
// them: entry 9 * c0 + c1.
struct DigitShuffles {
  alignas(16) std::uint8_t shuffle[81][16];
  std::uint16_t digit_bytes[81];  // bit i: byte i is one of the digits
  DigitShuffles() {
    for (int c0 = 1; c0 <= 8; ++c0) {
      for (int c1 = 1; c1 <= 8; ++c1) {
        std::uint8_t* entry = shuffle[9 * c0 + c1];
        const int counts[2] = {c0, c1};
        for (int lane = 0; lane < 2; ++lane) {
          const int c = counts[lane];
          for (int j = 0; j < 8; ++j) {
            entry[8 * lane + j] = j < 8 - c ? 0x80 : static_cast<std::uint8_t>(8 * lane + j - (8 - c));
          }
        }
        digit_bytes[9 * c0 + c1] = static_cast<std::uint16_t>(((1u << c0) - 1) | (((1u << c1) - 1) << 8));
      }
    }
  }
};

// Digits of two kept samples (of 1 to 8 digits), each moved to the end of
// its eight bytes with zeros before it, as unsigned bytes into `out`; false
// when one of the digits is no digit.
__attribute__((target("ssse3"))) bool aligned_digits(const DigitShuffles& tables, const std::uint64_t* pair,
                                                     const std::uint8_t* pair_forms, __m128i& out) {
  const int entry = 9 * (pair_forms[0] & 0x0F) + (pair_forms[1] & 0x0F);
  const __m128i digits = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pair)), _mm_set1_epi8('0'));
  const __m128i nine = _mm_set1_epi8(9);
  const unsigned in_range =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(digits, nine), nine)));
  const unsigned wanted = tables.digit_bytes[entry];
  out = _mm_shuffle_epi8(digits, _mm_load_si128(reinterpret_cast<const __m128i*>(tables.shuffle[entry])));
  return (in_range & wanted) == wanted;
}

// The same as convert_kept_samples_one_by_one, four samples a step: a
// wide record converts a hundred fields per line, and the digits of four
// of them add up in a few vector multiplications instead of a chain of
// scalar ones each. A step with a converted field or a byte that is no
// digit is converted one by one.
__attribute__((target("ssse3"))) void convert_kept_samples_ssse3(const std::uint64_t* words,
                                                                 const std::uint8_t* forms, int count,
                                                                 std::int32_t* samples) {
  static const DigitShuffles tables;
  const __m128i tens = _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1);
  const __m128i hundreds = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
  const __m128i ten_thousands = _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1);
  int k = 0;
  for (; k + 4 <= count; k += 4) {
    std::uint32_t four_forms;
    std::memcpy(&four_forms, forms + k, sizeof four_forms);
    __m128i first, second;
    // A converted field has count 0, which makes no shuffle: tested first.
    if ((four_forms & 0x40404040u) != 0 || !aligned_digits(tables, words + k, forms + k, first) ||
        !aligned_digits(tables, words + k + 2, forms + k + 2, second)) {
      convert_kept_samples_one_by_one(words + k, forms + k, 4, samples + k);
      continue;
    }
    // Pairs of digits, then fours, then all eight of each sample.
    const __m128i fours = _mm_packs_epi32(_mm_madd_epi16(_mm_maddubs_epi16(first, tens), hundreds),
                                          _mm_madd_epi16(_mm_maddubs_epi16(second, tens), hundreds));
    const __m128i values = _mm_madd_epi16(fours, ten_thousands);
    // All ones in a lane whose form has the sign bit.
    __m128i negative = _mm_cvtsi32_si128(static_cast<int>(four_forms));
    negative = _mm_unpacklo_epi8(negative, negative);
    negative = _mm_srai_epi32(_mm_unpacklo_epi16(negative, negative), 31);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + k),
                     _mm_sub_epi32(_mm_xor_si128(values, negative), negative));
  }
  convert_kept_samples_one_by_one(words + k, forms + k, count - k, samples + k);
}
#endif

void convert_kept_samples(const std::uint64_t* words, const std::uint8_t* forms, int count,
                          std::int32_t* samples) {
#if defined(COMTRADE_KEPT_SAMPLES_SSSE3)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) {
    convert_kept_samples_ssse3(words, forms, count, samples);
    return;
  }
#endif
  convert_kept_samples_one_by_one(words, forms, count, samples);
}

}  // namespace comtrade_detail
