// How a BINARY .dat becomes one value text per selected channel, in the same
// form the ASCII reader leaves. Record offsets of the selected channels are
// worked out once, so each record costs only the channels asked for.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/data_reader_support.h"
#include "platform/platform.h"

namespace {

// Every record opens with a 4-byte sample number and a 4-byte time stamp;
// the analog words start after them.
constexpr int kRecordHeaderBytes = 4 + 4;

struct AnalogSlot {
  int offset;
  int slot;
  double factor_a;
  double factor_b;
};

struct DigitalSlot {
  int offset;  // byte of the status area, from the record start
  unsigned mask;
  int slot;
};

}  // namespace

int ComTrade_format::loadBinaryData() {
  clear_channel_store();
  const std::string dat_path = m_fileName + ".dat";
  const std::string open_path = platform::resolve_case_insensitive(dat_path);
  comtrade_detail::BlockFile file;
  if (!file.open(open_path)) {
    std::cout << "check no such binary file: " << dat_path << '\n';
    return 1;
  }
  std::cout << "check binary file success: " << dat_path << '\n';
  const int analog_count = m_cfg_info.ai_num;
  const int digital_count = m_cfg_info.di_num;
  // Each started group of 16 digital channels takes one 16-bit status word.
  const int status_words = digital_count / 16 + (digital_count % 16 != 0 ? 1 : 0);
  const int record_bytes = kRecordHeaderBytes + 2 * analog_count + 2 * status_words;
  std::cout << "dat_count: " << record_bytes << ", semp_count: " << m_cfg_info.samp_count << '\n';
  if (record_bytes < 1) return 1;

  // Slots follow the selection order, so a channel left out below still
  // keeps every later channel on its own text. Only a negative count of the
  // other kind can put a channel outside the record; it then gets no values.
  std::vector<AnalogSlot> analogs;
  int slot = 0;
  for (int i = 0; i < analog_count; ++i) {
    const analog_info& analog = m_cfg_info.analogs[i];
    if (analog.sel_pos <= 0) continue;
    const int offset = kRecordHeaderBytes + 2 * i;
    if (offset + 2 <= record_bytes) {
      analogs.push_back({offset, slot, analog.factor_a, analog.factor_b});
    }
    ++slot;
  }
  // Byte w of the status area holds channels 8w+1..8w+8, least significant
  // bit first; bits past di_num are never looked at.
  std::vector<DigitalSlot> digitals;
  const int status_offset = kRecordHeaderBytes + 2 * analog_count;
  slot = 0;
  for (int j = 0; j < digital_count; ++j) {
    if (m_cfg_info.digitals[j].sel_pos <= 0) continue;
    const int offset = status_offset + j / 8;
    if (offset >= 0 && offset < record_bytes) digitals.push_back({offset, 1u << (j % 8), slot});
    ++slot;
  }
  const std::int64_t wanted = m_cfg_info.samp_count;
  if (analogs.empty() && digitals.empty()) return 0;

  const std::int64_t file_bytes =
      static_cast<std::int64_t>(platform::file_size(open_path).value_or(0));
  std::vector<comtrade_detail::TextWriter> analog_texts, digital_texts;
  comtrade_detail::prepare_working_lists(
      m_cfg_info, std::max<std::int64_t>(0, std::min(wanted, file_bytes / record_bytes)),
      analog_texts, digital_texts);

  std::int64_t records_read = 0;
  std::size_t keep = 0;
  while (records_read < wanted) {
    // A record cut short at the end of the file is never used.
    if (file.refill(keep) == 0) break;
    const unsigned char* record = reinterpret_cast<const unsigned char*>(file.data());
    const std::size_t available = file.size();
    const std::int64_t whole = static_cast<std::int64_t>(available / record_bytes);
    const std::int64_t use = std::min(whole, wanted - records_read);
    for (std::int64_t r = 0; r < use; ++r, record += record_bytes) {
      const bool first = records_read == 0;
      for (const AnalogSlot& analog : analogs) {
        const auto sample = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(record[analog.offset] | (record[analog.offset + 1] << 8)));
        analog_texts[analog.slot].add_value(
            static_cast<double>(sample) * analog.factor_a + analog.factor_b, first);
      }
      for (const DigitalSlot& digital : digitals) {
        const char bit = (record[digital.offset] & digital.mask) != 0 ? '1' : '0';
        digital_texts[digital.slot].add_bytes(&bit, 1, first);
      }
      ++records_read;
    }
    keep = available - static_cast<std::size_t>(whole) * record_bytes;
  }

  for (auto& text : analog_texts) text.close();
  for (auto& text : digital_texts) text.close();
  comtrade_detail::hand_over_texts(m_cfg_info, records_read);
  return 0;
}
