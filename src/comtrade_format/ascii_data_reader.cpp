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

#include "comtrade_format/channel_store.h"
#include "comtrade_format/data_reader_support.h"
#include "platform/platform.h"

namespace {

// What to do with one field of a sample line.
struct FieldAction {
  enum Kind : std::uint8_t { kSkip, kAnalog, kDigital } kind = kSkip;
  // The last digital channel's field is the rest of the line, commas and all.
  bool rest_of_line = false;
  int slot = 0;  // entry of AI_DATA_VEC or DI_DATA_VEC
  double factor_a = 0;
  double factor_b = 0;
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

class AsciiLineParser {
 public:
  explicit AsciiLineParser(const cmtr_cfg_info& cfg) {
    const int analog_count = std::max<int>(cfg.ai_num, 0);
    const int digital_count = std::max<int>(cfg.di_num, 0);
    // Two leading fields: the sample number and the time stamp.
    m_actions.resize(2 + static_cast<std::size_t>(analog_count + digital_count));
    int slot = 0;
    for (int i = 0; i < analog_count; ++i) {
      const analog_info& analog = cfg.analogs[i];
      if (analog.sel_pos <= 0) continue;
      FieldAction& action = m_actions[2 + i];
      action.kind = FieldAction::kAnalog;
      action.slot = slot++;
      action.factor_a = analog.factor_a;
      action.factor_b = analog.factor_b;
      m_last_field = 2 + i;
    }
    slot = 0;
    for (int j = 0; j < digital_count; ++j) {
      if (cfg.digitals[j].sel_pos <= 0) continue;
      FieldAction& action = m_actions[2 + analog_count + j];
      action.kind = FieldAction::kDigital;
      action.slot = slot++;
      m_last_field = 2 + analog_count + j;
    }
    if (digital_count > 0) m_actions.back().rest_of_line = true;
  }

  bool anything_selected() const { return m_last_field >= 0; }

  // Sizes the working lists for about `samples` lines.
  void open_texts(const cmtr_cfg_info& cfg, std::int64_t samples) {
    comtrade_detail::prepare_working_lists(cfg, samples, m_analog_texts, m_digital_texts);
  }
  void close_texts() {
    for (auto& text : m_analog_texts) text.close();
    for (auto& text : m_digital_texts) text.close();
  }

  // Adds one value to every selected channel's text. Fields missing from a
  // short line count as empty: analog 0, digital the empty text.
  void parse(const char* p, const char* end, bool first) {
    bool have_field = true;
    for (int f = 0; f <= m_last_field; ++f) {
      const FieldAction& action = m_actions[f];
      const char* field_begin = end;
      const char* field_end = end;
      if (have_field) {
        field_begin = p;
        if (action.rest_of_line) {
          have_field = false;
        } else {
          while (p < end && *p != ',') ++p;
          field_end = p;
          if (p < end) {
            ++p;
          } else {
            have_field = false;
          }
        }
      }
      if (action.kind == FieldAction::kAnalog) {
        const double value =
            static_cast<double>(parse_sample(field_begin, field_end)) * action.factor_a +
            action.factor_b;
        m_analog_texts[action.slot].add_value(value, first);
      } else if (action.kind == FieldAction::kDigital) {
        m_digital_texts[action.slot].add_bytes(
            field_begin, static_cast<std::size_t>(field_end - field_begin), first);
      }
    }
  }

 private:
  std::vector<FieldAction> m_actions;
  int m_last_field = -1;
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
