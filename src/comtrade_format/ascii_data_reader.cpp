// How an ASCII .dat becomes one comma-joined value text per selected channel,
// or min/max buckets over a window. This is the hot path for large records:
// the file is walked in place, block by block, and only the fields of
// selected channels are looked at.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <tmmintrin.h>
#define COMTRADE_KEPT_SAMPLES_SSSE3 1
#endif

#include "comtrade_format/cff_sections.h"
#include "comtrade_format/channel_store.h"
#include "comtrade_format/ascii_buckets.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/bucket_builder.h"
#include "comtrade_format/sample_texts.h"
#include "comtrade_format/text_writer.h"
#include "comtrade_format/two_lanes.h"
#include "comtrade_format/working_lists.h"

namespace {

using comtrade_detail::BlockFile;
using comtrade_detail::kReadAheadBytes;

// A sample line of n fields is never longer than this: room for a wide
// fixed-width field per field and the line's own slack. A longer line is not
// a sample, and holding it would let a file without line ends take as much
// memory as its size.
constexpr std::int64_t kLineSlackBytes = 4096;
constexpr std::int64_t kBytesPerField = 64;
constexpr std::int64_t kLongestLineCap = 64 * 1024 * 1024;

// Samples are collected for at least this many lines and then written out
// channel by channel, so that one channel's table stays in the cache while its
// column is written (line by line, every value would visit a different table).
// The buckets of a waveform are collected the same way.
constexpr int kColumnLines = 4096;
// Odd status texts held before the columns are written out early: a line
// may be long, and a file of long statuses must not pile up columns of them.
constexpr std::size_t kOddBytesHeld = 1024 * 1024;

// A field of a sample line that belongs to a selected channel.
struct SelectedField {
  std::int64_t field;  // from 0: the sample number and the time stamp are 0 and 1
  bool analog;
  // The last digital channel's field is the rest of the line, commas and all.
  bool rest_of_line;
  int slot;  // entry of AI_DATA_VEC or DI_DATA_VEC
  comtrade_detail::SampleTexts* texts;  // analog only; null: formatted anew
  double factor_a;
  double factor_b;
};

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A line holding only these bytes is padding, not a sample.
bool is_blank_line(const char* begin, const char* end) {
  for (; begin < end; ++begin) {
    const char c = *begin;
    if (c != ' ' && c != '\t' && c != '\r' && c != '\x1A') return false;
  }
  return true;
}

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

// The value of `count` (1 to 8) digits loaded as they stand, the first in
// the lowest byte; false when any of them is no digit. Taken eight bytes at a
// time without a branch per digit: field lengths vary from line to line, and
// a loop per digit would mispredict its end in every field.
bool eight_digits(std::uint64_t word, std::ptrdiff_t count, std::int32_t& value) {
  // Shifting the digits up to the top makes room for leading '0's below them.
  const unsigned pad = static_cast<unsigned>(8 - count) * 8;
  word = (word << pad) | (0x3030303030303030ULL >> (63 - pad) >> 1);
  // All eight bytes '0'..'9': high nibble 3, and no carry out of the low
  // nibble when 6 is added.
  const bool all_digits = ((word & 0xF0F0F0F0F0F0F0F0ULL) |
                           (((word + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ==
                          0x3333333333333333ULL;
  if (!all_digits) return false;
  word = (word & 0x0F0F0F0F0F0F0F0FULL) * 2561 >> 8;
  word = (word & 0x00FF00FF00FF00FFULL) * 6553601 >> 16;
  value = static_cast<std::int32_t>((word & 0x0000FFFF0000FFFFULL) * 42949672960001ULL >> 32);
  return true;
}

// The same as parse_sample_slowly, for the usual field first: an optional
// "-" and one to eight digits, which cannot leave the 32-bit range. Needs 8
// readable bytes from the first digit on (a block's read-ahead).
std::int32_t parse_sample(const char* p, const char* end) {
  const bool negative = p < end && *p == '-';
  const char* const digits = p + (negative ? 1 : 0);
  const std::ptrdiff_t count = end - digits;
  if (count >= 1 && count <= 8) {
    std::uint64_t word;
    std::memcpy(&word, digits, sizeof word);
    std::int32_t value;
    if (eight_digits(word, count, value)) return negative ? -value : value;
  }
  return parse_sample_slowly(p, end);
}

// A sample field kept for whoever writes the texts to convert: its digits as
// loaded with their count and sign, or, for a field of any other length, the
// value itself. Keeping it costs the line's reader a load and two stores.
struct KeptSample {
  static constexpr std::uint8_t kConverted = 0x40;
  static constexpr std::uint8_t kNegative = 0x80;

  static void keep(const char* p, const char* end, std::uint64_t& word, std::uint8_t& form) {
    const bool negative = p < end && *p == '-';
    const char* const digits = p + (negative ? 1 : 0);
    const std::ptrdiff_t count = end - digits;
    if (count >= 1 && count <= 8) {
      std::memcpy(&word, digits, sizeof word);
      form = static_cast<std::uint8_t>(count | (negative ? kNegative : 0));
    } else {
      word = static_cast<std::uint32_t>(parse_sample_slowly(p, end));
      form = kConverted;
    }
  }
  // What parse_sample gives for the field kept.
  static std::int32_t value(std::uint64_t word, std::uint8_t form) {
    if ((form & kConverted) != 0) return static_cast<std::int32_t>(static_cast<std::uint32_t>(word));
    const std::ptrdiff_t count = form & 0x0F;
    const bool negative = (form & kNegative) != 0;
    std::int32_t digits;
    if (eight_digits(word, count, digits)) return negative ? -digits : digits;
    char text[9];
    std::size_t length = 0;
    if (negative) text[length++] = '-';
    std::memcpy(text + length, &word, static_cast<std::size_t>(count));
    return parse_sample_slowly(text, text + length + static_cast<std::size_t>(count));
  }
};

// KeptSample::value of `count` kept samples, into `samples`.
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

// Whether a field holds any digit: an empty time stamp means the recorder
// left it out.
bool has_digit(const char* p, const char* end) {
  for (; p < end; ++p) {
    if (*p >= '0' && *p <= '9') return true;
  }
  return false;
}

// The places of the byte kByte in [begin, end), in order, found kChunk
// bytes (16 or 64) at a time: fields and lines are short, and a byte loop,
// or a search call per field or line, would stop at every one with a
// mispredicted branch. Up to kReadAheadBytes past the end must be readable.
template <char kByte, int kChunk>
class ByteCursor {
 public:
  ByteCursor(const char* begin, const char* end) : m_chunk(begin), m_end(end) { m_mask = load(); }
  // The next place of the byte, or the end when there is none.
  const char* next() {
#if defined(__SSE2__)
    while (m_mask == 0) {
      m_chunk += kChunk;
      if (m_chunk >= m_end) return m_end;
      m_mask = load();
    }
    const char* found = m_chunk + __builtin_ctzll(m_mask);
    m_mask &= m_mask - 1;
    return found;
#else
    const void* found = std::memchr(m_chunk, kByte, static_cast<std::size_t>(m_end - m_chunk));
    if (found == nullptr) return m_chunk = m_end;
    m_chunk = static_cast<const char*>(found) + 1;
    return m_chunk - 1;
#endif
  }

 private:
  std::uint64_t load() const {
#if defined(__SSE2__)
    if (m_chunk >= m_end) return 0;
    std::uint64_t mask = 0;
    for (int part = 0; part < kChunk / 16; ++part) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_chunk + 16 * part));
      const unsigned found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kByte))));
      mask |= std::uint64_t{found} << (16 * part);
    }
    if (m_end - m_chunk < kChunk) mask &= (std::uint64_t{1} << (m_end - m_chunk)) - 1;
    return mask;
#else
    return 0;
#endif
  }

  const char* m_chunk;
  const char* m_end;
  std::uint64_t m_mask = 0;
};

// The commas of one line.
using CommaCursor = ByteCursor<',', 16>;
// The line ends of a block: lines of a hundred bytes or so.
using LineEnds = ByteCursor<'\n', 64>;

// Whether the `count` fields at `p` are one-byte statuses that end where
// the line ends (`to_line_end`) or at the comma after the last of them:
// "c,c,...,c" with no c a comma or a NUL. The bytes are tested sixteen at a
// time, since wide records have runs of a hundred such fields per line.
bool one_byte_fields(const char* p, const char* end, std::size_t count, bool to_line_end) {
  const std::ptrdiff_t span = static_cast<std::ptrdiff_t>(2 * count - 1);
  if (to_line_end ? end - p != span : end - p <= span || p[span] != ',') return false;
#if defined(__SSE2__)
  // Commas at the odd offsets and nowhere else; p is the run's first byte,
  // so each 16-byte step starts at an even offset.
  for (std::ptrdiff_t at = 0; at < span; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const unsigned commas = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(','))));
    const unsigned nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
    const unsigned in_run = span - at >= 16 ? 0xFFFFu : (1u << (span - at)) - 1;
    if (((commas ^ 0xAAAAu) | nuls) & in_run) return false;
  }
  return true;
#else
  for (std::ptrdiff_t at = 0; at < span; ++at) {
    if ((p[at] == ',') != (at % 2 == 1) || p[at] == '\0') return false;
  }
  return true;
#endif
}

// The selected fields of a record's sample lines, in field order, and where
// each of them lies in one line.
class FieldLocator {
 public:
  explicit FieldLocator(const cmtr_cfg_info& cfg) {
    // Field positions follow the counts of line 2 (a negative count has no
    // fields); only channels with a table entry can be selected.
    const std::int64_t analog_count = std::max<std::int64_t>(cfg.ai_num, 0);
    const std::int64_t digital_count = std::max<std::int64_t>(cfg.di_num, 0);
    const std::int64_t last_field = 2 + analog_count + digital_count - 1;
    int slot = 0;
    for (std::size_t i = 0; i < cfg.analogs.size(); ++i) {
      const analog_info& analog = cfg.analogs[i];
      if (analog.sel_pos <= 0) continue;
      m_fields.push_back({2 + static_cast<std::int64_t>(i), true, false, slot++, nullptr,
                          analog.factor_a, analog.factor_b});
    }
    slot = 0;
    for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
      if (cfg.digitals[j].sel_pos <= 0) continue;
      const std::int64_t field = 2 + analog_count + static_cast<std::int64_t>(j);
      m_fields.push_back({field, false, field == last_field, slot++, nullptr, 0, 0});
    }
    m_spans.resize(m_fields.size());
    m_runs.assign(m_fields.size(), 0);
    for (std::size_t k = m_fields.size(); k-- > 0;) {
      const bool next_follows = k + 1 < m_fields.size() && m_fields[k + 1].analog == m_fields[k].analog &&
                                m_fields[k + 1].field == m_fields[k].field + 1;
      m_runs[k] = next_follows ? m_runs[k + 1] + 1 : 1;
    }
  }

  std::vector<SelectedField>& fields() { return m_fields; }
  std::size_t size() const { return m_fields.size(); }

  // Finds the selected fields of [p, end): span k is field k of fields().
  // Fields missing from a short line are empty, at the line end.
  void locate(const char* p, const char* end) {
    for_each_field(p, end, [this](std::size_t k, const SelectedField&, const char* begin, const char* field_end) {
      m_spans[k] = {begin, field_end};
    });
  }
  // Calls `visit(k, field k, begin, end)` for every selected field of
  // [p, end), in order, as it is found.
  template <typename Visit>
  void for_each_field(const char* p, const char* end, Visit visit) const {
    for_each_field(p, end, visit, nullptr, nullptr);
  }
  // The same, except that a run of `count` selected digital fields from k on
  // that are next to each other in the line and hold one byte each goes to
  // `visit_statuses(k, count, first)` instead: status j is first[2 * j];
  // and the fields of a run of selected analog fields next to each other go
  // to `visit_sample(begin, end)`, one by one, in order.
  template <typename Visit, typename VisitStatuses, typename VisitSample>
  void for_each_field(const char* p, const char* end, Visit visit, VisitStatuses visit_statuses,
                      VisitSample visit_sample) const {
    constexpr bool kRuns = !std::is_same_v<VisitStatuses, std::nullptr_t>;
    CommaCursor commas(p, end);
    std::int64_t passed = 0;  // commas passed; field f starts after comma f
    const char* field_begin = p;
    bool line_ended = false;
    for (std::size_t k = 0; k < m_fields.size(); ++k) {
      const SelectedField& field = m_fields[k];
      while (!line_ended && passed < field.field) {
        const char* comma = commas.next();
        if (comma == end) {
          line_ended = true;
          break;
        }
        field_begin = comma + 1;
        ++passed;
      }
      if (line_ended) {
        visit(k, field, end, end);
        continue;
      }
      if constexpr (kRuns) {
        const std::size_t run = m_runs[k];
        // Each field of a run of samples ends at the next comma: nothing
        // else about its fields needs looking up.
        const std::size_t samples = field.analog ? run : 0;
        if (samples >= 2) {
          std::size_t taken = 0;
          while (taken < samples) {
            const char* field_end = commas.next();
            visit_sample(field_begin, field_end);
            ++taken;
            if (field_end == end) {
              line_ended = true;
              break;
            }
            ++passed;
            field_begin = field_end + 1;
          }
          k += taken - 1;
          continue;
        }
        if (!field.analog && run >= kShortestStatusRun &&
            one_byte_fields(field_begin, end, run, m_fields[k + run - 1].rest_of_line)) {
          visit_statuses(k, run, field_begin);
          // The comma after the run is passed too; a run to the line end
          // holds the last field, so nothing follows it.
          k += run - 1;
          passed += static_cast<std::int64_t>(run);
          field_begin += 2 * run;
          if (k + 1 < m_fields.size()) commas = CommaCursor(field_begin, end);
          continue;
        }
      }
      const char* field_end = end;
      if (!field.rest_of_line) {
        field_end = commas.next();
        if (field_end == end) {
          line_ended = true;
        } else {
          ++passed;
        }
      }
      visit(k, field, field_begin, field_end);
      field_begin = field_end + 1;
    }
  }
  const char* begin(std::size_t k) const { return m_spans[k].begin; }
  const char* end(std::size_t k) const { return m_spans[k].end; }

 private:
  struct Span {
    const char* begin;
    const char* end;
  };
  // Below this many, a run of statuses is cheaper taken field by field.
  static constexpr std::size_t kShortestStatusRun = 4;

  std::vector<SelectedField> m_fields;
  std::vector<Span> m_spans;
  // Per field: how many selected fields of its kind from it on follow each
  // other in the line.
  std::vector<std::size_t> m_runs;
};

// The longest line that can still be a sample line of this record.
std::int64_t longest_sample_line(const cmtr_cfg_info& cfg) {
  const std::int64_t fields = 2 + std::max<std::int64_t>(cfg.ai_num, 0) + std::max<std::int64_t>(cfg.di_num, 0);
  return std::min(kLineSlackBytes + kBytesPerField * fields, kLongestLineCap);
}

// Calls `take(begin, end)` for every sample line of the data, in file order
// (line ends and a CR before them not included), until `take` returns false
// or the data ends. Blank and padding lines are no samples; neither is a line
// longer than `longest_line`, which is skipped without being held, with one
// line on standard output. In a .cff the data ends at the next section line.
template <typename Take>
void walk_sample_lines(BlockFile& file, bool ends_at_section, std::int64_t longest_line, Take take) {
  const auto too_long = [&](std::uint64_t at) {
    std::cout << "skip dat line at byte " << at << ": longer than " << longest_line
              << " bytes, so no sample line of this record" << '\n';
  };
  std::uint64_t base = 0;  // where file.data() starts, in bytes from the data's start
  // False when the data ends with this line.
  const auto one_line = [&](const char* begin, const char* end) {
    if (end - begin > longest_line) {
      too_long(base + static_cast<std::uint64_t>(begin - file.data()));
      return true;
    }
    if (end > begin && end[-1] == '\r') --end;
    if (is_blank_line(begin, end)) return true;
    if (ends_at_section && *begin == '-' &&
        parse_cff_section_line(std::string_view(begin, static_cast<std::size_t>(end - begin)))) {
      return false;
    }
    return take(begin, end);
  };
  const auto find_newline = [](const char* p, const char* end) {
    return static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  };

  bool skipping = false;  // inside a line too long to be a sample
  std::size_t keep = 0;
  std::size_t size = 0;
  for (;;) {
    base += size - keep;
    const bool at_end = file.refill(keep) == 0;
    size = file.size();
    const char* p = file.data();
    const char* const end = p + size;
    if (skipping) {
      const char* newline = find_newline(p, end);
      if (newline == nullptr) {
        if (at_end) return;
        keep = 0;
        continue;
      }
      p = newline + 1;
      skipping = false;
    }
    LineEnds line_ends(p, end);
    for (const char* newline; (newline = line_ends.next()) != end; p = newline + 1) {
      if (!one_line(p, newline)) return;
    }
    if (at_end) {
      // The last line may lack its line end.
      if (p < end) one_line(p, end);
      return;
    }
    if (end - p > longest_line) {
      // Not a sample, and never to be held whole: dropped as it is read.
      too_long(base + static_cast<std::uint64_t>(p - file.data()));
      skipping = true;
      keep = 0;
      continue;
    }
    keep = static_cast<std::size_t>(end - p);
  }
}

// The fields of a batch of lines, column by column: per analog
// channel its samples, per digital channel its one-byte statuses and, in line
// order, the other status texts (a NUL status marks where one of them goes).
// Each kind of column is one array, column after column, so that a line's
// fields are stored from a single base without looking up a column first.
struct ColumnBatch {
  std::size_t stride = 0;  // lines a column has room for
  // Per analog channel its sample fields as KeptSample keeps them.
  std::vector<std::uint64_t> sample_words;
  std::vector<std::uint8_t> sample_forms;
  std::vector<std::int32_t> converted;  // one channel's samples while it is written
  std::vector<char> statuses;
  std::vector<std::vector<std::string>> odd_statuses;
  std::size_t odd_bytes = 0;
  int lines = 0;
  bool starts_file = false;  // its first line is the file's first

  void empty() {
    for (auto& odd : odd_statuses) odd.clear();
    odd_bytes = 0;
    lines = 0;
  }
};

// Adds each line's values to the texts of the selected channels, whose
// writers it is given. Lines are taken apart into a batch of columns, and a
// full batch is written out channel by channel; for a large record a second
// thread writes one batch while the next is filled.
class AsciiTextParser {
 public:
  explicit AsciiTextParser(const cmtr_cfg_info& cfg) : m_locator(cfg) {
    // A batch of about a megabyte: few channels make long batches, so that
    // handing a batch over costs little next to filling it.
    std::size_t line_bytes = 1;
    for (const SelectedField& field : m_locator.fields()) {
      line_bytes += field.analog ? sizeof(std::uint64_t) + sizeof(std::uint8_t) : 1;
    }
    m_batch_lines =
        static_cast<int>(std::clamp<std::size_t>(kBatchBytes / line_bytes, kColumnLines, kLongestBatch));
    const auto lines = static_cast<std::size_t>(m_batch_lines);
    m_batch.converted.resize(lines);
    // Padded so that columns do not start a power of two apart: the fields
    // of one line would then all fall into one set of cache lines.
    m_batch.stride = lines + 72;
    std::size_t analog_count = 0;
    for (const SelectedField& field : m_locator.fields()) {
      if (field.analog) {
        ++analog_count;
      } else {
        m_batch.odd_statuses.emplace_back();
      }
    }
    m_batch.sample_words.resize(analog_count * m_batch.stride);
    m_batch.sample_forms.resize(analog_count * m_batch.stride);
    m_batch.statuses.resize(m_batch.odd_statuses.size() * m_batch.stride);
  }

  bool anything_selected() const { return m_locator.size() > 0; }

  // Writes into `analog_texts` and `digital_texts` (one per selected channel
  // of each kind), for about `samples` lines: the analog channels get their
  // tables when that many lines make them worth it. The writers must outlive
  // the parser or its close().
  void open(std::int64_t samples, std::vector<comtrade_detail::TextWriter>& analog_texts,
            std::vector<comtrade_detail::TextWriter>& digital_texts) {
    m_analog_texts = &analog_texts;
    m_digital_texts = &digital_texts;
    m_tables.reserve(m_locator.size());  // fields point into it
    // As many tables as a binary load: on a wide record the thread that
    // writes the texts is the longest of the load, and a value without a
    // table costs it a conversion instead of a copy.
    comtrade_detail::share_tables(samples, m_locator.fields(), m_tables,
                                  [](const SelectedField& field) { return field.analog; });
    if (samples * static_cast<std::int64_t>(m_locator.size()) >= kPipedValues) {
      m_pipe = std::make_unique<comtrade_detail::BatchPipe<ColumnBatch>>(
          m_batch, [this](ColumnBatch& batch) { write(batch); });
      if (!m_pipe->start()) m_pipe.reset();  // no thread to be had: written here
    }
  }
  void close() {
    pass_batch();
    if (m_pipe) m_pipe->finish();
  }

  // Adds one value to every channel's text (when its column is written
  // out). Fields missing from a short line count as empty: analog 0, digital
  // the empty text.
  void parse(const char* p, const char* end) {
    const std::size_t line = static_cast<std::size_t>(m_batch.lines);
    const std::size_t stride = m_batch.stride;
    // A kind with no columns has no array to point into.
    const auto line_of = [line](auto& columns) { return columns.empty() ? nullptr : columns.data() + line; };
    std::uint64_t* words = line_of(m_batch.sample_words);
    std::uint8_t* forms = line_of(m_batch.sample_forms);
    char* const statuses = line_of(m_batch.statuses);
    std::size_t status_column = 0;
    m_locator.for_each_field(p, end, [&](std::size_t, const SelectedField& field, const char* begin,
                                         const char* field_end) {
      if (field.analog) {
        // Converted by the writer: on a large record that is the other core.
        KeptSample::keep(begin, field_end, *words, *forms);
        words += stride;
        forms += stride;
        return;
      }
      // A status is almost always one byte; anything else (and a NUL, the
      // column's mark for it) waits in the column's list of odd texts.
      char& status = statuses[status_column * stride];
      if (field_end - begin == 1 && *begin != '\0') {
        status = *begin;
      } else {
        status = '\0';
        m_batch.odd_statuses[status_column].emplace_back(begin, field_end);
        m_batch.odd_bytes += static_cast<std::size_t>(field_end - begin);
      }
      ++status_column;
    }, [&](std::size_t, std::size_t count, const char* first) {
      for (std::size_t j = 0; j < count; ++j) statuses[(status_column + j) * stride] = first[2 * j];
      status_column += count;
    }, [&](const char* begin, const char* field_end) {
      KeptSample::keep(begin, field_end, *words, *forms);
      words += stride;
      forms += stride;
    });
    if (++m_batch.lines == m_batch_lines || m_batch.odd_bytes > kOddBytesHeld) pass_batch();
  }

 private:
  // Values of a record (lines times selected channels) from which a second
  // thread writes the texts: it costs tens of microseconds to start.
  static constexpr std::int64_t kPipedValues = 200000;

  void pass_batch() {
    if (m_batch.lines == 0) return;
    m_batch.starts_file = m_at_first_line;
    m_at_first_line = false;
    if (m_pipe) {
      m_pipe->pass(m_batch);
    } else {
      write(m_batch);
    }
    m_batch.empty();
  }

  // Writes a batch into the texts; touches nothing but the batch, the texts
  // and the tables.
  void write(ColumnBatch& batch) {
    write_analog_columns(batch);
    write_status_columns(batch);
  }

  void write_status_columns(ColumnBatch& batch) {
    std::size_t column = 0;
    for (const SelectedField& field : m_locator.fields()) {
      if (field.analog) continue;
      comtrade_detail::TextWriter& text = (*m_digital_texts)[field.slot];
      const char* statuses = batch.statuses.data() + column * batch.stride;
      const std::vector<std::string>& odd = batch.odd_statuses[column++];
      std::size_t next_odd = 0;
      const auto odd_text = [&](std::int64_t) -> std::string_view { return odd[next_odd++]; };
      int i = 0;
      if (batch.starts_file) {
        const std::string_view first = statuses[0] != '\0' ? std::string_view(statuses, 1) : odd_text(0);
        text.add_bytes(first.data(), first.size(), true);
        i = 1;
      }
      text.add_byte_texts(statuses + i, batch.lines - i, odd_text);
    }
  }

  void write_analog_columns(ColumnBatch& batch) {
    std::size_t column = 0;
    for (const SelectedField& field : m_locator.fields()) {
      if (!field.analog) continue;
      comtrade_detail::TextWriter& text = (*m_analog_texts)[field.slot];
      const std::uint64_t* words = batch.sample_words.data() + column * batch.stride;
      const std::uint8_t* forms = batch.sample_forms.data() + column++ * batch.stride;
      std::int32_t* const samples = batch.converted.data();
      convert_kept_samples(words, forms, batch.lines, samples);
      const auto value = [&](std::int64_t i) {
        return static_cast<double>(samples[i]) * field.factor_a + field.factor_b;
      };
      int i = 0;
      if (batch.starts_file) text.add_value(value(i++), true);
      if (field.texts == nullptr) {
        for (; i < batch.lines; ++i) text.add_value(value(i), false);
        continue;
      }
      const std::int32_t* rest = samples + i;
      text.add_table_samples(
          *field.texts, batch.lines - i,
          [rest](std::int64_t k, std::int16_t& sample) {
            if (rest[k] < INT16_MIN || rest[k] > INT16_MAX) return false;
            sample = static_cast<std::int16_t>(rest[k]);
            return true;
          },
          [rest](std::int64_t k) { return static_cast<std::uint16_t>(rest[k]); },
          [&](std::int64_t k) { return value(i + k); });
    }
  }

  static constexpr std::size_t kBatchBytes = 1024 * 1024;
  static constexpr std::size_t kLongestBatch = 65536;

  FieldLocator m_locator;
  int m_batch_lines = kColumnLines;
  ColumnBatch m_batch;  // being filled
  bool m_at_first_line = true;  // the next batch starts with the file's first line
  std::vector<comtrade_detail::SampleTexts> m_tables;
  std::vector<comtrade_detail::TextWriter>* m_analog_texts = nullptr;
  std::vector<comtrade_detail::TextWriter>* m_digital_texts = nullptr;
  // Declared last, so that its thread is stopped before anything it writes
  // with goes.
  std::unique_ptr<comtrade_detail::BatchPipe<ColumnBatch>> m_pipe;
};

// Adds each line's values to min/max buckets, a column of lines at a time.
class AsciiBucketParser {
 public:
  AsciiBucketParser(const cmtr_cfg_info& cfg, comtrade_detail::BucketBuilder& buckets)
      : m_locator(cfg), m_buckets(buckets), m_analog_selected(cfg.sel_ai_num),
        m_columns(m_locator.size(), std::vector<double>(kColumnLines)), m_stamps(kColumnLines) {}

  void parse(const char* p, const char* end) {
    m_locator.locate(p, end);
    const std::vector<SelectedField>& fields = m_locator.fields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const SelectedField& field = fields[k];
      const std::int32_t sample = parse_sample(m_locator.begin(k), m_locator.end(k));
      m_columns[k][m_buffered] = field.analog ? static_cast<double>(sample) * field.factor_a + field.factor_b
                                              : (sample != 0 ? 1.0 : 0.0);
    }
    m_stamps[m_buffered] = stamp_of(p, end);
    if (++m_buffered == kColumnLines) flush();
  }

  void flush() {
    if (m_buffered == 0) return;
    const std::vector<double>& stamps = m_stamps;
    m_buckets.add_stamps(m_done, m_buffered, [&](std::int64_t i) { return stamps[i]; });
    const std::vector<SelectedField>& fields = m_locator.fields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const std::vector<double>& column = m_columns[k];
      const std::size_t channel =
          fields[k].analog ? static_cast<std::size_t>(fields[k].slot)
                           : static_cast<std::size_t>(m_analog_selected + fields[k].slot);
      m_buckets.add_values(channel, m_done, m_buffered, [&](std::int64_t i) { return column[i]; });
    }
    m_buckets.add_samples(m_buffered);
    m_done += m_buffered;
    m_buffered = 0;
  }

 private:
  // The second field of the line, or NaN when it holds no number.
  static double stamp_of(const char* p, const char* end) {
    CommaCursor commas(p, end);
    const char* first = commas.next();
    if (first == end) return std::numeric_limits<double>::quiet_NaN();
    const char* second = commas.next();
    if (!has_digit(first + 1, second)) return std::numeric_limits<double>::quiet_NaN();
    return parse_sample(first + 1, second);
  }

  FieldLocator m_locator;
  comtrade_detail::BucketBuilder& m_buckets;
  int m_analog_selected;
  std::vector<std::vector<double>> m_columns;  // per selected field
  std::vector<double> m_stamps;
  std::int64_t m_buffered = 0;
  std::int64_t m_done = 0;
};

}  // namespace

int ComTrade_format::loadAsciiData() {
  clear_channel_store();
  const DataSection section = data_section();
  BlockFile file;
  if (!file.open(section.path, section.offset)) {
    std::cout << "check no such file: " << section.shown_path << '\n';
    return 1;
  }
  std::cout << "check file success: " << section.shown_path << '\n';
  std::cout << "dat_count: " << m_cfg_info.samp_count << '\n';
  const std::int64_t wanted = m_cfg_info.samp_count;
  if (wanted <= 0) return 1;

  // The writers before the parser: its second thread writes with them until
  // the parser is gone.
  std::vector<comtrade_detail::TextWriter> analog_texts, digital_texts;
  AsciiTextParser parser(m_cfg_info);
  if (!parser.anything_selected()) return 0;

  // Never reserve for more lines than the file can hold, whatever the .cfg
  // claims; a line has at least one byte and a comma per field.
  const std::int64_t fields = 2 + std::max<std::int64_t>(m_cfg_info.ai_num, 0) +
                              std::max<std::int64_t>(m_cfg_info.di_num, 0);
  const std::int64_t file_bytes = static_cast<std::int64_t>(comtrade_detail::bytes_after(section));
  const std::int64_t expected = std::min(wanted, file_bytes / (2 * fields) + 1);
  comtrade_detail::prepare_working_lists(m_cfg_info, expected, analog_texts, digital_texts);
  parser.open(expected, analog_texts, digital_texts);
  file.read_ahead(static_cast<std::uint64_t>(file_bytes));

  std::int64_t lines_read = 0;
  walk_sample_lines(
      file, section.ends_at_section_line, longest_sample_line(m_cfg_info),
      [&](const char* begin, const char* end) {
        parser.parse(begin, end);
        return ++lines_read < wanted;
      });
  parser.close();
  for (auto& text : analog_texts) text.close();
  for (auto& text : digital_texts) text.close();
  comtrade_detail::hand_over_texts(m_cfg_info, lines_read);
  return 0;
}

namespace comtrade_detail {

int load_ascii_buckets(const cmtr_cfg_info& cfg, const DataSection& section, const SampleWindow& window,
                       std::int64_t step, Buckets& out) {
  BucketBuilder buckets(out, cfg.sel_list.size(), step);
  BlockFile file;
  if (!file.open(section.path, section.offset)) return 1;
  file.read_ahead(comtrade_detail::bytes_after(section));
  const std::int64_t to = std::min<std::int64_t>(window.to, cfg.samp_count);
  const std::int64_t from = std::max<std::int64_t>(window.from, 0);
  AsciiBucketParser parser(cfg, buckets);
  std::int64_t line = 0;
  if (from < to) {
    // Lines before the window are counted, not parsed.
    walk_sample_lines(
        file, section.ends_at_section_line, longest_sample_line(cfg),
        [&](const char* begin, const char* end) {
          if (line >= from) parser.parse(begin, end);
          return ++line < to;
        });
  }
  parser.flush();
  buckets.finish();
  return 0;
}

}  // namespace comtrade_detail
