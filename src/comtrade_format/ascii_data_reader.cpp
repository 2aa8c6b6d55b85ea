// How an ASCII .dat becomes one comma-joined value text per selected channel.
// This is the hot path for large records: the file is walked in place, block
// by block, and only the fields of selected channels are looked at.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "comtrade_format/channel_store.h"
#include "comtrade_format/data_reader_support.h"
#include "platform/platform.h"

namespace {

// A field of a sample line that belongs to a selected channel.
struct SelectedField {
  int field;  // from 0: the sample number and the time stamp are 0 and 1
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
std::int32_t parse_sample(const char* p, const char* end) {
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

// Stores where the first `limit` commas of [p, end) are; returns how many
// there were. Up to kReadAheadBytes past `end` must be readable.
int find_commas(const char* p, const char* end, int limit, const char** commas) {
  int found = 0;
  if (limit <= 0) return 0;
#if defined(__SSE2__)
  // Sixteen bytes per step: fields are short, and a byte loop would stop
  // at every comma with a mispredicted branch.
  const __m128i comma = _mm_set1_epi8(',');
  for (; p < end; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, comma)));
    if (end - p < 16) mask &= (1u << (end - p)) - 1;
    while (mask != 0) {
      commas[found++] = p + __builtin_ctz(mask);
      if (found == limit) return found;
      mask &= mask - 1;
    }
  }
#else
  for (; p < end; ++p) {
    if (*p != ',') continue;
    commas[found++] = p;
    if (found == limit) return found;
  }
#endif
  return found;
}

class AsciiLineParser {
 public:
  explicit AsciiLineParser(const cmtr_cfg_info& cfg) {
    const int analog_count = std::max<int>(cfg.ai_num, 0);
    const int digital_count = std::max<int>(cfg.di_num, 0);
    // Two leading fields: the sample number and the time stamp.
    const int last_field = 2 + analog_count + digital_count - 1;
    int slot = 0;
    for (int i = 0; i < analog_count; ++i) {
      const analog_info& analog = cfg.analogs[i];
      if (analog.sel_pos <= 0) continue;
      m_fields.push_back({2 + i, true, false, slot++, nullptr, analog.factor_a, analog.factor_b});
    }
    slot = 0;
    for (int j = 0; j < digital_count; ++j) {
      if (cfg.digitals[j].sel_pos <= 0) continue;
      const int field = 2 + analog_count + j;
      m_fields.push_back({field, false, field == last_field, slot++, nullptr, 0, 0});
    }
    if (!m_fields.empty()) {
      // The rest-of-line field ends at the line end, not at a comma.
      const SelectedField& last = m_fields.back();
      m_commas_needed = last.rest_of_line ? last.field : last.field + 1;
    }
    m_commas.resize(static_cast<std::size_t>(m_commas_needed));
    for (const SelectedField& field : m_fields) {
      if (field.analog) m_columns.emplace_back(kColumnLines);
    }
  }

  bool anything_selected() const { return !m_fields.empty(); }

  // Sizes the working lists for about `samples` lines, and gives the analog
  // channels their tables when that many lines make them worth it.
  void open_texts(const cmtr_cfg_info& cfg, std::int64_t samples) {
    comtrade_detail::prepare_working_lists(cfg, samples, m_analog_texts, m_digital_texts);
    m_tables.reserve(m_fields.size());  // fields point into it
    for (SelectedField& field : m_fields) {
      if (!field.analog || !comtrade_detail::SampleTexts::pays_off(samples, m_tables.size())) continue;
      m_tables.emplace_back(field.factor_a, field.factor_b);
      field.texts = &m_tables.back();
    }
  }
  void close_texts() {
    flush_analog_columns();
    for (auto& text : m_analog_texts) text.close();
    for (auto& text : m_digital_texts) text.close();
  }

  // Adds one value to every selected channel's text (the analog ones when
  // their column is written out). Fields missing from a short line count as
  // empty: analog 0, digital the empty text.
  void parse(const char* p, const char* end, bool first) {
    const char** commas = m_commas.data();
    const int found = find_commas(p, end, m_commas_needed, commas);
    for (const SelectedField& field : m_fields) {
      // Field f starts after comma f-1 and ends at comma f; without comma
      // f-1 the line is too short and the field is empty.
      const char* field_begin = end;
      const char* field_end = end;
      if (field.field == 0) {
        field_begin = p;
      } else if (field.field <= found) {
        field_begin = commas[field.field - 1] + 1;
      }
      if (!field.rest_of_line && field.field < found) field_end = commas[field.field];
      if (field.analog) {
        m_columns[field.slot][m_buffered_lines] = parse_sample(field_begin, field_end);
      } else {
        m_digital_texts[field.slot].add_bytes(
            field_begin, static_cast<std::size_t>(field_end - field_begin), first);
      }
    }
    if (++m_buffered_lines == kColumnLines) flush_analog_columns();
  }

 private:
  // Analog samples are collected for this many lines and then turned into
  // text channel by channel, so that one channel's table stays in the cache
  // while its column is written (line by line, every value would visit a
  // different table).
  static constexpr int kColumnLines = 4096;
  // How many samples ahead a table slot is asked for: about as many as the
  // memory system keeps in flight.
  static constexpr int kPrefetchDistance = 32;

  void flush_analog_columns() {
    for (const SelectedField& field : m_fields) {
      if (!field.analog) continue;
      comtrade_detail::TextWriter& text = m_analog_texts[field.slot];
      const std::int32_t* samples = m_columns[field.slot].data();
      for (int i = 0; i < m_buffered_lines; ++i) {
        const std::int32_t sample = samples[i];
        const bool first = m_at_first_line && i == 0;
        if (field.texts != nullptr && sample >= INT16_MIN && sample <= INT16_MAX) {
          // A table is too large to stay in the cache; the column tells
          // which slots come next. A wrong guess only costs a useless load.
          if (i + kPrefetchDistance < m_buffered_lines) {
            field.texts->prefetch(static_cast<std::int16_t>(samples[i + kPrefetchDistance]));
          }
          text.add_sample(*field.texts, static_cast<std::int16_t>(sample), first);
        } else {
          text.add_value(static_cast<double>(sample) * field.factor_a + field.factor_b, first);
        }
      }
    }
    if (m_buffered_lines > 0) m_at_first_line = false;
    m_buffered_lines = 0;
  }

  std::vector<SelectedField> m_fields;
  std::vector<std::vector<std::int32_t>> m_columns;  // per selected analog channel
  int m_buffered_lines = 0;
  bool m_at_first_line = true;  // the next buffered line is the file's first
  int m_commas_needed = 0;
  std::vector<const char*> m_commas;
  std::vector<comtrade_detail::SampleTexts> m_tables;
  std::vector<comtrade_detail::TextWriter> m_analog_texts;
  std::vector<comtrade_detail::TextWriter> m_digital_texts;
};

}  // namespace

int ComTrade_format::loadAsciiData() {
  clear_channel_store();
  const std::string dat_path = m_fileName + ".dat";
  const std::string open_path = platform::resolve_case_insensitive(dat_path);
  comtrade_detail::BlockFile file;
  if (!file.open(open_path)) {
    std::cout << "check no such file: " << dat_path << '\n';
    return 1;
  }
  std::cout << "check file success: " << dat_path << '\n';
  std::cout << "dat_count: " << m_cfg_info.samp_count << '\n';
  const std::int64_t wanted = m_cfg_info.samp_count;
  if (wanted <= 0) return 1;

  AsciiLineParser parser(m_cfg_info);
  if (!parser.anything_selected()) return 0;

  // Never reserve for more lines than the file can hold, whatever the .cfg
  // claims; a line has at least one byte and a comma per field.
  const std::int64_t fields = 2 + std::max<int>(m_cfg_info.ai_num, 0) +
                              std::max<int>(m_cfg_info.di_num, 0);
  const std::int64_t file_bytes =
      static_cast<std::int64_t>(platform::file_size(open_path).value_or(0));
  parser.open_texts(m_cfg_info, std::min(wanted, file_bytes / (2 * fields) + 1));

  std::int64_t lines_read = 0;
  auto take_line = [&](const char* begin, const char* end) {
    if (end > begin && end[-1] == '\r') --end;
    if (is_blank_line(begin, end)) return;
    parser.parse(begin, end, lines_read == 0);
    ++lines_read;
  };

  std::size_t keep = 0;
  while (lines_read < wanted) {
    const bool at_end = file.refill(keep) == 0;
    const char* p = file.data();
    const char* const end = p + file.size();
    while (lines_read < wanted) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (newline == nullptr) break;
      take_line(p, newline);
      p = newline + 1;
    }
    if (at_end) {
      // The last line may lack its line end.
      if (p < end && lines_read < wanted) take_line(p, end);
      break;
    }
    keep = static_cast<std::size_t>(end - p);
  }

  parser.close_texts();
  comtrade_detail::hand_over_texts(m_cfg_info, lines_read);
  return 0;
}
