// Where the fields of an ASCII sample line lie and what their samples are:
// the cursors that find commas and line ends many bytes at a time, the
// locator of the selected fields, and the conversions of sample fields, fast
// paths beside the plain one they must agree with. Internal to the ASCII
// data readers.
#ifndef COMTRADE_FORMAT_ASCII_FIELDS_H_
#define COMTRADE_FORMAT_ASCII_FIELDS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "comtrade_format/block_file.h"
#include "comtrade_format/cfg_info.h"
#include "comtrade_format/sample_texts.h"

namespace comtrade_detail {

// A field of a sample line that belongs to a selected channel.
struct SelectedField {
  std::int64_t field;  // from 0: the sample number and the time stamp are 0 and 1
  bool analog;
  // The last digital channel's field is the rest of the line, commas and all.
  bool rest_of_line;
  int slot;  // entry of AI_DATA_VEC or DI_DATA_VEC
  SampleTexts* texts;  // analog only; null: formatted anew
  double factor_a;
  double factor_b;
};

inline bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A line holding only these bytes is padding, not a sample.
inline bool is_blank_line(const char* begin, const char* end) {
  for (; begin < end; ++begin) {
    const char c = *begin;
    if (c != ' ' && c != '\t' && c != '\r' && c != '\x1A') return false;
  }
  return true;
}

// Base-10 integer as strtol reads it (leading white space, a sign, digits up
// to the first other byte), clamped to 32 bits; no digits give 0.
std::int32_t parse_sample_slowly(const char* p, const char* end);

// The value of `count` (1 to 8) digits loaded as they stand, the first in
// the lowest byte; false when any of them is no digit. Taken eight bytes at a
// time without a branch per digit: field lengths vary from line to line, and
// a loop per digit would mispredict its end in every field.
inline bool eight_digits(std::uint64_t word, std::ptrdiff_t count, std::int32_t& value) {
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
inline std::int32_t parse_sample(const char* p, const char* end) {
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

// KeptSample::value of `count` kept samples, into `samples`: the plain way.
void convert_kept_samples_one_by_one(const std::uint64_t* words, const std::uint8_t* forms, int count,
                                     std::int32_t* samples);
// The same, four at a time in vector registers where the processor has them.
void convert_kept_samples(const std::uint64_t* words, const std::uint8_t* forms, int count,
                          std::int32_t* samples);

// Whether a field holds any digit: an empty time stamp means the recorder
// left it out.
inline bool has_digit(const char* p, const char* end) {
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

// The commas in [begin, end), sixteen bytes at a time; up to 16 bytes past
// the end must be readable. Summed in vector registers: the baseline
// processor has no population count instruction.
inline std::int64_t count_commas(const char* begin, const char* end) {
#if defined(__SSE2__)
  const __m128i ones = _mm_set1_epi8(1);
  const __m128i offsets = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i sums = _mm_setzero_si128();
  for (; begin < end; begin += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
    __m128i found = _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')), ones);
    if (end - begin < 16) {
      found = _mm_and_si128(found, _mm_cmplt_epi8(offsets, _mm_set1_epi8(static_cast<char>(end - begin))));
    }
    sums = _mm_add_epi64(sums, _mm_sad_epu8(found, _mm_setzero_si128()));
  }
  return _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
#else
  std::int64_t count = 0;
  for (; begin < end; ++begin) count += *begin == ',';
  return count;
#endif
}

// The time stamp of a sample line (its second field), or NaN when it holds
// no number.
inline double line_stamp(const char* p, const char* end) {
  CommaCursor commas(p, end);
  const char* first = commas.next();
  if (first == end) return std::numeric_limits<double>::quiet_NaN();
  const char* second = commas.next();
  if (!has_digit(first + 1, second)) return std::numeric_limits<double>::quiet_NaN();
  return parse_sample(first + 1, second);
}
// The line ends of a block: lines of a hundred bytes or so.
using LineEnds = ByteCursor<'\n', 64>;

// Whether the `count` fields at `p` are one-byte statuses that end where
// the line ends (`to_line_end`) or at the comma after the last of them:
// "c,c,...,c" with no c a comma or a NUL. The bytes are tested sixteen at a
// time, since wide records have runs of a hundred such fields per line.
inline bool one_byte_fields(const char* p, const char* end, std::size_t count, bool to_line_end) {
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

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_ASCII_FIELDS_H_
