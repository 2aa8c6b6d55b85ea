// How a .cfg (or the CFG section of a .cff) is read into the record model, and
// what its file type line means.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "comtrade_format/cff_sections.h"
#include "comtrade_format/cfg_numbers.h"
#include "logger/logger.h"
#include "platform/platform.h"

using comtrade_detail::header_number;
using comtrade_detail::stod_number;

namespace {

// The full-width comma (code page 936) that opens the digital count in the
// reader's diagnostics.
constexpr char kGbkFullWidthComma[] = "\xA3\xAC";

// The lines of a configuration: a whole .cfg, or the CFG section of a .cff,
// which ends at the next section line. Once a read fails, every later one
// does too. Read through a buffer of its own: a stream costs more to set up
// than a small .cfg takes to read.
class CfgLines {
 public:
  // Opens `path` with the lines starting at byte `offset`, each section line
  // ending them when `in_section`. False when the file cannot be opened, or
  // with `regular_only` is not a regular file; a file that cannot be
  // positioned has no lines.
  bool open(const std::string& path, std::uint64_t offset, bool in_section, bool regular_only = false) {
    if (!m_file.open(path, regular_only)) return false;
    m_in_section = in_section;
    if (offset > 0 && !m_file.seek(offset)) m_ended = true;
    return true;
  }
  // One line without its LF and without a CR just before it.
  bool next(std::string& line) {
    if (m_ended || !read_line(line)) {
      m_ended = true;
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (m_in_section && parse_cff_section_line(line)) m_ended = true;
    return !m_ended;
  }

 private:
  // As std::getline reads: the bytes up to the next LF, which is dropped;
  // false when not a single byte is left.
  bool read_line(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (m_at == m_size) {
        m_at = 0;
        m_size = m_file.read(m_buffer, sizeof m_buffer);
        if (m_size == 0) return any;
      }
      const char* const begin = m_buffer + m_at;
      const void* const lf = std::memchr(begin, '\n', m_size - m_at);
      const std::size_t length =
          lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) : m_size - m_at;
      line.append(begin, length);
      any = true;
      m_at += length;
      if (lf != nullptr) {
        ++m_at;
        return true;
      }
    }
  }

  platform::ReadFile m_file;
  bool m_in_section = false;
  bool m_ended = false;
  char m_buffer[16 * 1024];
  std::size_t m_at = 0;
  std::size_t m_size = 0;
};

// Copies at most `field_size` - 1 bytes into a field that is still all zero,
// so the field's own zero bytes end the text.
void store_text(char* field, std::size_t field_size, const std::string& text) {
  std::memcpy(field, text.data(), std::min(text.size(), field_size - 1));
}

// Channel names are cut the same way wherever they are kept (at a NUL byte,
// and to the name field's length), so that every name the channel list shows
// can be asked for again.
std::string cut_name(const std::string& name) {
  return name.substr(0, std::min<std::size_t>(name.find('\0'), kNameField - 1));
}

// A channel line split at every comma, as views into the line. The reader
// takes a line's fields through a remaining text R: "take" gives R up to its
// first comma, "drop" moves R past that comma and leaves R as it is once it
// has none. After k drops R therefore starts at field min(k, last), which is
// what taken() and rest() give without moving any text.
class ChannelFields {
 public:
  explicit ChannelFields(std::string_view line) : m_line(line) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = line.find(',', start);
      add_start(start);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    add_start(line.size() + 1);  // one past the last field's end
  }
  // What "take" gives after `drops` drops.
  std::string_view taken(std::size_t drops) const { return field(std::min(drops, count() - 1)); }
  // R itself after `drops` drops: from that field to the end of the line.
  std::string_view rest(std::size_t drops) const { return m_line.substr(start(std::min(drops, count() - 1))); }
  // Field `i` (from 0) for the header; empty when the line has fewer.
  std::string_view field(std::size_t i) const {
    if (i >= count()) return std::string_view();
    return m_line.substr(start(i), start(i + 1) - 1 - start(i));
  }

 private:
  // A channel line has 13 fields at most; the starts of longer lines go on
  // in a vector, so that the usual line costs no allocation.
  static constexpr std::size_t kInline = 16;
  void add_start(std::size_t at) {
    if (m_starts < kInline) {
      m_inline[m_starts] = at;
    } else {
      m_more.push_back(at);
    }
    ++m_starts;
  }
  std::size_t start(std::size_t i) const { return i < kInline ? m_inline[i] : m_more[i - kInline]; }
  std::size_t count() const { return m_starts - 1; }

  std::string_view m_line;
  std::size_t m_inline[kInline];
  std::size_t m_starts = 0;
  std::vector<std::size_t> m_more;
};

// One diagnostic line built in place and written to standard output with one
// call, also when a conversion throws half way (the part before it was
// always printed).
class DiagnosticLine {
 public:
  ~DiagnosticLine() { std::cout.write(m_text.data(), static_cast<std::streamsize>(m_text.size())); }
  DiagnosticLine& operator<<(std::string_view text) {
    m_text.append(text);
    return *this;
  }
  DiagnosticLine& operator<<(char c) {
    m_text.push_back(c);
    return *this;
  }
  DiagnosticLine& operator<<(long long number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    m_text.append(digits, end);
    return *this;
  }

 private:
  std::string m_text;
};

std::optional<double> header_field_number(const ChannelFields& fields, std::size_t i) {
  const std::string_view text = fields.field(i);
  return text.empty() ? std::nullopt : header_number(text);
}

// The text of `line` from `from` up to (not including) `to`, empty when
// `from` lies past the end. `to` may be npos or before `from`: the text then
// runs to the end of the line.
std::string slice(const std::string& line, std::size_t from, std::size_t to) {
  if (from > line.size()) return std::string();
  if (to == std::string::npos || to < from) return line.substr(from);
  return line.substr(from, to - from);
}

// The number of sampling rates. Anything that is not a positive integer
// counts as one rate, which is what a reader assuming a single rate line
// always did.
long long rate_count(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  long long value = 0;
  const std::size_t digits_from = i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    if (value < 1000000000LL) value = value * 10 + (line[i] - '0');
    ++i;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i == digits_from || i != line.size() || value < 1) return 1;
  return value;
}

SampleRate parse_rate_line(const std::string& line) {
  const ChannelFields fields(line);
  SampleRate rate;
  rate.rate = header_field_number(fields, 0);
  if (const std::optional<double> last = header_field_number(fields, 1)) {
    if (*last >= 0 && *last <= 9e18) rate.last = static_cast<std::int64_t>(*last);
  }
  return rate;
}


}  // namespace

int ComTrade_format::Get_cmtr_cfg_info() {
  AI_VEC.clear();
  DI_VEC.clear();
  const std::string cfg_path = m_fileName + ".cfg";
  std::string shown_path = cfg_path;
  // Anything but a regular file (a FIFO, a device, a folder) is no record: a
  // FIFO would block the one I/O thread and a device may never end. The name
  // as given is tried first, as a regular file, since it nearly always is
  // one; anything else takes the long way, which decides the same.
  CfgLines lines;
  bool opened = lines.open(cfg_path, 0, false, true);
  if (!opened) {
    const std::string open_path = platform::resolve_case_insensitive(cfg_path);
    if (platform::is_regular_file(open_path)) {
      opened = lines.open(open_path, 0, false);
    } else {
      // The 2013 combined form: the configuration is a section of one .cff.
      const std::string cff_path = m_fileName + ".cff";
      const std::string cff_open_path = platform::resolve_case_insensitive(cff_path);
      const std::optional<CffLayout> layout = locate_cff_sections(cff_open_path, cff_path);
      if (layout) {
        opened = lines.open(cff_open_path, layout->cfg_offset, true);
        shown_path = cff_path;
        m_data = layout->dat.value_or(DataSection{"", cff_path, 0, std::nullopt, true});
      }
    }
  }
  if (!opened) {
    std::cout << "check no such file: " << cfg_path << '\n';
    return kCfgReadFailed;
  }
  std::cout << "check file success: " << shown_path << '\n';

  std::string line;
  if (!lines.next(line)) {
    std::cout << "read file line failure:" << shown_path << '\n';
    return kCfgReadFailed;
  }
  const std::string station = line.substr(0, line.find(','));
  store_text(m_cfg_info.station_name, sizeof m_cfg_info.station_name, station);
  {
    const ChannelFields fields(line);
    m_header.station = std::string(fields.field(0));
    m_header.device = std::string(fields.field(1));
    m_header.revision = std::string(fields.field(2));
  }
  // The station line is deliberately not ended: the counts follow on it.
  std::cout << "station_name: " << station;

  if (lines.next(line)) {
    const std::size_t comma = line.find(',');
    const std::size_t pos_a = line.find('A');
    const std::size_t pos_d = line.find('D');
    const std::string analog_text =
        slice(line, comma == std::string::npos ? 0 : comma + 1, pos_a);
    std::cout << "ai_num: " << analog_text;
    m_cfg_info.ai_num = std::stoi(analog_text);
    const std::string digital_text =
        slice(line, pos_a == std::string::npos ? 1 : pos_a + 2, pos_d);
    std::cout << kGbkFullWidthComma << "di_num: " << digital_text << '\n';
    m_cfg_info.di_num = std::stoi(digital_text);
  }

  // The tables grow by the lines present: a count alone never reserves
  // memory, and once the file ends no further line can be read, so the loop
  // may stop there however large the count.
  for (int i = 0; i < m_cfg_info.ai_num && lines.next(line); ++i) {
    // Entered before the first conversion: a number that throws leaves the
    // fields stored so far in place, as it leaves the names in AI_VEC.
    m_cfg_info.analogs.emplace_back();
    analog_info& analog = m_cfg_info.analogs.back();
    const ChannelFields fields(line);
    if (m_keep_channel_details) {
      m_header.analogs.push_back(AnalogHeader{
          std::string(fields.field(2)), std::string(fields.field(3)), std::string(fields.field(4)),
          header_field_number(fields, 7), header_field_number(fields, 8), header_field_number(fields, 9),
          header_field_number(fields, 10), header_field_number(fields, 11), std::string(fields.field(12)),
          std::string(line)});
    }
    DiagnosticLine out;
    // No try/catch on the conversions: a bad number aborts the whole request,
    // and the dispatcher is the one place that decides what the client sees.
    analog.index = std::stoi(std::string(fields.taken(0)));
    const std::string name(fields.taken(1));
    out << i + 1LL << " ana_desc: " << name;
    AI_VEC.push_back(cut_name(name));
    store_text(analog.name, sizeof analog.name, name);
    out << " ,m_cfg_info.analogs[i].name :" << analog.name;
    // Fields 3 to 5 (phase, circuit component, unit) are passed over.
    out << " ,factor_a: " << fields.taken(5);
    analog.factor_a = stod_number(fields.taken(5));
    out << ", factor_b:" << fields.taken(6);
    analog.factor_b = stod_number(fields.taken(6));
    // Field 8 (skew) is passed over. The limits are decimals: 2013 records
    // write reals (-289.065002), and 32-bit records reach 2147483648.
    out << ", smp_min:" << fields.taken(8);
    analog.smp_min = stod_number(fields.taken(8)) * analog.factor_a + analog.factor_b;
    out << ", smp_max:" << fields.taken(9) << '\n';
    analog.smp_max = stod_number(fields.taken(9)) * analog.factor_a + analog.factor_b;
  }
  std::cout << "AI_VEC.size(): " << AI_VEC.size() << '\n';

  for (int j = 0; j < m_cfg_info.di_num && lines.next(line); ++j) {
    m_cfg_info.digitals.emplace_back();
    digital_info& digital = m_cfg_info.digitals.back();
    const ChannelFields fields(line);
    if (m_keep_channel_details) {
      m_header.digitals.push_back(DigitalHeader{std::string(fields.field(2)), std::string(fields.field(3)),
                                                std::string(fields.field(4)), std::string(line)});
    }
    DiagnosticLine out;
    out << fields.taken(0);
    digital.index = std::stoi(std::string(fields.taken(0)));
    const std::string name(fields.taken(1));
    out << ",dig_desc: " << name;
    DI_VEC.push_back(cut_name(name));
    store_text(digital.name, sizeof digital.name, name);
    // The state is the last character of what remains after the name. Nothing
    // after the name's comma leaves no character to take: the state stays 0
    // rather than reading before the text.
    out << ",state: ";
    const std::string_view rest = fields.rest(2);
    if (!rest.empty()) {
      digital.state = rest.back();
      out << digital.state;
    }
    out << '\n';
  }
  std::cout << "DI_VEC.size(): " << DI_VEC.size() << '\n';

  if (lines.next(line)) m_header.frequency = header_number(line);
  long long rates = 1;
  if (lines.next(line)) rates = rate_count(line);
  // Every rate line is read so that the time stamps after them land in their
  // own fields; the last one gives the number of the last sample.
  bool have_rate = false;
  std::string rate_line;
  for (long long r = 0; r < rates && lines.next(line); ++r) {
    m_header.rates.push_back(parse_rate_line(line));
    rate_line.swap(line);
    have_rate = true;
  }
  if (have_rate) {
    const std::size_t comma = rate_line.find(',');
    const std::string text = comma == std::string::npos ? rate_line : rate_line.substr(comma + 1);
    std::cout << "samp_count:" << text << '\n';
    m_cfg_info.samp_count = std::stoi(text);
  }

  if (lines.next(line)) {
    std::cout << "start_time:" << line << '\n';
    store_text(m_cfg_info.start_time, sizeof m_cfg_info.start_time, line);
  }
  if (lines.next(line)) {
    std::cout << "end_time: " << line << '\n';
    store_text(m_cfg_info.end_time, sizeof m_cfg_info.end_time, line);
  }
  if (lines.next(line)) {
    std::cout << "file_type: " << line << '\n';
    store_text(m_cfg_info.file_type, sizeof m_cfg_info.file_type, line);
    m_header.file_type = std::string(comtrade_detail::trimmed_file_type(line));
  }
  if (lines.next(line)) {
    const std::optional<double> multiplier = header_number(line);
    if (multiplier && *multiplier > 0) m_header.time_multiplier = *multiplier;
  }

  LOG_WRITE(LOG_INFO,
            "fileName:%s ,AI_VEC.size(): %d , DI_VEC.size(): %d seamp_count: %d, start_time: %s",
            m_fileName.c_str(), static_cast<int>(AI_VEC.size()), static_cast<int>(DI_VEC.size()),
            m_cfg_info.samp_count, m_cfg_info.start_time);
  return kCfgReadOk;
}

int ComTrade_format::Get_file_type() const {
  const int type = comtrade_detail::file_type_code(m_cfg_info.file_type);
  if (type == kFileTypeUnknown) std::cout << "Get_file_type error!!" << '\n';
  return type;
}

