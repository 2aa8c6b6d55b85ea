// How a .cfg is read into the record model, and what its file type line means.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "logger/logger.h"
#include "platform/platform.h"

namespace {

// The full-width comma (code page 936) that opens the digital count in the
// reader's diagnostics.
constexpr char kGbkFullWidthComma[] = "\xA3\xAC";

// One line without its LF and without a CR just before it. False at the end
// of the file.
bool read_line(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Copies at most `field_size` - 1 bytes into a field that is still all zero,
// so the field's own zero bytes end the text.
void store_text(char* field, std::size_t field_size, const std::string& text) {
  std::memcpy(field, text.data(), std::min(text.size(), field_size - 1));
}

// Channel names are cut the same way wherever they are kept, so that every
// name the channel list shows can be asked for again.
std::string cut_name(const std::string& name) {
  return name.substr(0, kNameField - 1);
}

// The remaining text of a channel line, taken apart field by field.
class FieldCursor {
 public:
  explicit FieldCursor(std::string line) : m_rest(std::move(line)) {}
  // The text before the first comma; all of it when there is none.
  std::string take() const { return m_rest.substr(0, m_rest.find(',')); }
  // Moves past the first comma; stays put when there is none, so a short
  // line keeps yielding its last field.
  void drop() {
    const std::size_t comma = m_rest.find(',');
    if (comma != std::string::npos) m_rest.erase(0, comma + 1);
  }
  const std::string& rest() const { return m_rest; }

 private:
  std::string m_rest;
};

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

// A count from line 2, in the width of the model. Negative counts read no
// channel lines, so any negative value below the type's range may as well be
// its minimum; counts above kMaxChannels are rejected by the caller.
int16_t narrow_count(int count) {
  if (count < INT16_MIN) return INT16_MIN;
  if (count > INT16_MAX) return INT16_MAX;
  return static_cast<int16_t>(count);
}

}  // namespace

int ComTrade_format::Get_cmtr_cfg_info() {
  AI_VEC.clear();
  DI_VEC.clear();
  const std::string cfg_path = m_fileName + ".cfg";
  const std::string open_path = platform::resolve_case_insensitive(cfg_path);
  // Anything but a regular file (a FIFO, a device, a folder) is no record: a
  // FIFO would block the one I/O thread and a device may never end.
  std::ifstream in;
  if (platform::is_regular_file(open_path)) in.open(open_path, std::ios::binary);
  if (!in.is_open()) {
    std::cout << "check no such file: " << cfg_path << '\n';
    return kCfgReadFailed;
  }
  std::cout << "check file success: " << cfg_path << '\n';

  std::string line;
  if (!read_line(in, line)) {
    std::cout << "read file line failure:" << cfg_path << '\n';
    return kCfgReadFailed;
  }
  const std::string station = line.substr(0, line.find(','));
  store_text(m_cfg_info.station_name, sizeof m_cfg_info.station_name, station);
  // The station line is deliberately not ended: the counts follow on it.
  std::cout << "station_name: " << station;

  if (read_line(in, line)) {
    const std::size_t comma = line.find(',');
    const std::size_t pos_a = line.find('A');
    const std::size_t pos_d = line.find('D');
    const std::string analog_text =
        slice(line, comma == std::string::npos ? 0 : comma + 1, pos_a);
    std::cout << "ai_num: " << analog_text;
    const int analog_count = std::stoi(analog_text);
    const std::string digital_text =
        slice(line, pos_a == std::string::npos ? 1 : pos_a + 2, pos_d);
    std::cout << kGbkFullWidthComma << "di_num: " << digital_text << '\n';
    const int digital_count = std::stoi(digital_text);
    if (analog_count > kMaxChannels || digital_count > kMaxChannels) {
      // The tables cannot hold the record; a half-read model would only
      // mislead, so the record counts as unreadable.
      std::memset(&m_cfg_info, 0, sizeof m_cfg_info);
      return kCfgReadFailed;
    }
    m_cfg_info.ai_num = narrow_count(analog_count);
    m_cfg_info.di_num = narrow_count(digital_count);
  }

  for (int i = 0; i < m_cfg_info.ai_num; ++i) {
    if (!read_line(in, line)) continue;
    analog_info& analog = m_cfg_info.analogs[i];
    FieldCursor fields(std::move(line));
    // No try/catch on the conversions: a bad number aborts the whole request,
    // and the dispatcher is the one place that decides what the client sees.
    analog.index = std::stoi(fields.take());
    fields.drop();
    const std::string name = fields.take();
    std::cout << i + 1 << " ana_desc: " << name;
    AI_VEC.push_back(cut_name(name));
    store_text(analog.name, sizeof analog.name, name);
    std::cout << " ,m_cfg_info.analogs[i].name :" << analog.name;
    fields.drop();
    fields.drop();  // phase
    fields.drop();  // circuit component
    fields.drop();  // unit
    std::string text = fields.take();
    std::cout << " ,factor_a: " << text;
    analog.factor_a = std::stod(text);
    fields.drop();
    text = fields.take();
    std::cout << ", factor_b:" << text;
    analog.factor_b = std::stod(text);
    fields.drop();
    fields.drop();  // skew
    text = fields.take();
    std::cout << ", smp_min:" << text;
    analog.smp_min = static_cast<double>(std::stoi(text)) * analog.factor_a + analog.factor_b;
    fields.drop();
    text = fields.take();
    std::cout << ", smp_max:" << text << '\n';
    analog.smp_max = static_cast<double>(std::stoi(text)) * analog.factor_a + analog.factor_b;
  }
  std::cout << "AI_VEC.size(): " << AI_VEC.size() << '\n';

  for (int j = 0; j < m_cfg_info.di_num; ++j) {
    if (!read_line(in, line)) continue;
    digital_info& digital = m_cfg_info.digitals[j];
    FieldCursor fields(std::move(line));
    std::string text = fields.take();
    std::cout << text;
    digital.index = std::stoi(text);
    fields.drop();
    const std::string name = fields.take();
    std::cout << ",dig_desc: " << name;
    DI_VEC.push_back(cut_name(name));
    store_text(digital.name, sizeof digital.name, name);
    fields.drop();
    // Nothing after the name's comma leaves no character to take: the state
    // stays 0 rather than reading before the text.
    std::cout << ",state: ";
    if (!fields.rest().empty()) {
      digital.state = fields.rest().back();
      std::cout << digital.state;
    }
    std::cout << '\n';
  }
  std::cout << "DI_VEC.size(): " << DI_VEC.size() << '\n';

  read_line(in, line);  // line frequency, not used
  long long rates = 1;
  if (read_line(in, line)) rates = rate_count(line);
  // Every rate line is read so that the time stamps after them land in their
  // own fields; the last one gives the number of the last sample.
  bool have_rate = false;
  std::string rate_line;
  for (long long r = 0; r < rates && read_line(in, line); ++r) {
    rate_line.swap(line);
    have_rate = true;
  }
  if (have_rate) {
    const std::size_t comma = rate_line.find(',');
    const std::string text = comma == std::string::npos ? rate_line : rate_line.substr(comma + 1);
    std::cout << "samp_count:" << text << '\n';
    m_cfg_info.samp_count = std::stoi(text);
  }

  if (read_line(in, line)) {
    std::cout << "start_time:" << line << '\n';
    store_text(m_cfg_info.start_time, sizeof m_cfg_info.start_time, line);
  }
  if (read_line(in, line)) {
    std::cout << "end_time: " << line << '\n';
    store_text(m_cfg_info.end_time, sizeof m_cfg_info.end_time, line);
  }
  if (read_line(in, line)) {
    std::cout << "file_type: " << line << '\n';
    store_text(m_cfg_info.file_type, sizeof m_cfg_info.file_type, line);
  }

  LOG_WRITE(LOG_INFO,
            "fileName:%s ,AI_VEC.size(): %d , DI_VEC.size(): %d seamp_count: %d, start_time: %s",
            m_fileName.c_str(), static_cast<int>(AI_VEC.size()), static_cast<int>(DI_VEC.size()),
            m_cfg_info.samp_count, m_cfg_info.start_time);
  return kCfgReadOk;
}

int ComTrade_format::Get_file_type() const {
  const char* type = m_cfg_info.file_type;
  if (std::strcmp(type, "ASCII") == 0 || std::strcmp(type, "ascii") == 0) return kFileTypeAscii;
  if (std::strcmp(type, "binary") == 0 || std::strcmp(type, "BINARY") == 0) return kFileTypeBinary;
  std::cout << "Get_file_type error!!" << '\n';
  return kFileTypeUnknown;
}
