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

// How many records ahead a table slot is asked for: about as many as the
// memory system keeps in flight.
constexpr std::int64_t kPrefetchDistance = 32;

struct AnalogSlot {
  int offset;
  int slot;
  comtrade_detail::SampleTexts* texts;  // null: every value formatted anew
  double factor_a;
  double factor_b;
};

struct DigitalSlot {
  int offset;  // byte of the status area, from the record start
  unsigned mask;
  int slot;
};

// Adds the values of `count` records starting at `record` to one channel's
// text; `first` when the first of them is the first of the file.
void add_analog_column(const AnalogSlot& analog, const unsigned char* record, int record_bytes,
                       std::int64_t count, bool first, comtrade_detail::TextWriter& text) {
  const auto sample_at = [&analog](const unsigned char* at) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(at[analog.offset] | (at[analog.offset + 1] << 8)));
  };
  for (std::int64_t r = 0; r < count; ++r, record += record_bytes) {
    const std::int16_t sample = sample_at(record);
    if (analog.texts != nullptr) {
      if (r + kPrefetchDistance < count) {
        analog.texts->prefetch(sample_at(record + kPrefetchDistance * record_bytes));
      }
      text.add_sample(*analog.texts, sample, first && r == 0);
    } else {
      text.add_value(static_cast<double>(sample) * analog.factor_a + analog.factor_b,
                     first && r == 0);
    }
  }
}

void add_digital_column(const DigitalSlot& digital, const unsigned char* record, int record_bytes,
                        std::int64_t count, bool first, comtrade_detail::TextWriter& text) {
  for (std::int64_t r = 0; r < count; ++r, record += record_bytes) {
    const char bit = (record[digital.offset] & digital.mask) != 0 ? '1' : '0';
    text.add_bytes(&bit, 1, first && r == 0);
  }
}

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
  const std::int64_t wanted = m_cfg_info.samp_count;
  const std::int64_t file_bytes =
      static_cast<std::int64_t>(platform::file_size(open_path).value_or(0));
  const std::int64_t expected = std::max<std::int64_t>(0, std::min(wanted, file_bytes / record_bytes));
  std::vector<AnalogSlot> analogs;
  std::vector<comtrade_detail::SampleTexts> tables;
  tables.reserve(static_cast<std::size_t>(std::max(analog_count, 0)));  // slots point into it
  int slot = 0;
  for (int i = 0; i < analog_count; ++i) {
    const analog_info& analog = m_cfg_info.analogs[i];
    if (analog.sel_pos <= 0) continue;
    const int offset = kRecordHeaderBytes + 2 * i;
    if (offset + 2 <= record_bytes) {
      comtrade_detail::SampleTexts* texts = nullptr;
      if (comtrade_detail::SampleTexts::pays_off(expected, tables.size())) {
        tables.emplace_back(analog.factor_a, analog.factor_b);
        texts = &tables.back();
      }
      analogs.push_back({offset, slot, texts, analog.factor_a, analog.factor_b});
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
  if (analogs.empty() && digitals.empty()) return 0;

  std::vector<comtrade_detail::TextWriter> analog_texts, digital_texts;
  comtrade_detail::prepare_working_lists(m_cfg_info, expected, analog_texts, digital_texts);

  std::int64_t records_read = 0;
  std::size_t keep = 0;
  while (records_read < wanted) {
    // A record cut short at the end of the file is never used.
    if (file.refill(keep) == 0) break;
    const unsigned char* record = reinterpret_cast<const unsigned char*>(file.data());
    const std::size_t available = file.size();
    const std::int64_t whole = static_cast<std::int64_t>(available / record_bytes);
    const std::int64_t use = std::min(whole, wanted - records_read);
    // Channel by channel through the block: one channel's table and text
    // stay in the cache while its column is walked.
    const bool first = records_read == 0;
    for (const AnalogSlot& analog : analogs) {
      add_analog_column(analog, record, record_bytes, use, first, analog_texts[analog.slot]);
    }
    for (const DigitalSlot& digital : digitals) {
      add_digital_column(digital, record, record_bytes, use, first, digital_texts[digital.slot]);
    }
    records_read += use;
    keep = available - static_cast<std::size_t>(whole) * record_bytes;
  }

  for (auto& text : analog_texts) text.close();
  for (auto& text : digital_texts) text.close();
  comtrade_detail::hand_over_texts(m_cfg_info, records_read);
  return 0;
}
