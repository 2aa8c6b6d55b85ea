// How a binary .dat (BINARY, BINARY32 or FLOAT32) becomes one value text per
// selected channel, in the same form the ASCII reader leaves (the buckets of
// a waveform are binary_buckets.cpp). The three types share one record layout
// (binary_layout.h) and differ only in the width and decoding of an analog
// sample. Record offsets of the selected channels are worked out once, so
// each record costs only the channels asked for.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "comtrade_format/binary_layout.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/channel_store.h"
#include "comtrade_format/sample_texts.h"
#include "comtrade_format/text_writer.h"
#include "comtrade_format/two_lanes.h"
#include "comtrade_format/working_lists.h"

namespace {

using namespace comtrade_detail;

// Records ahead of the slot guess whose bytes are asked for.
constexpr std::int64_t kRecordsAhead = 32;

// Adds the values of `count` records starting at `record` to one channel's
// text; `first` when the first of them is the first of the file.
template <Decode kDecode>
void add_analog_column(const AnalogColumn& analog, const unsigned char* record,
                       std::int64_t record_bytes, std::int64_t count, bool first, TextWriter& text) {
  const unsigned char* at = record + analog.offset;
  const auto value = [&](std::int64_t r) {
    return raw_sample<kDecode>(at + r * record_bytes) * analog.factor_a + analog.factor_b;
  };
  std::int64_t r = 0;
  if (first && count > 0) {
    std::int16_t sample;
    if (analog.texts != nullptr && as_int16<kDecode>(at, sample)) {
      text.add_sample(*analog.texts, sample, true);
    } else {
      text.add_value(value(0), true);
    }
    r = 1;
  }
  if (analog.texts == nullptr) {
    for (; r < count; ++r) text.add_value(value(r), false);
    return;
  }
  at += r * record_bytes;
  text.add_table_samples(
      *analog.texts, count - r,
      [&](std::int64_t i, std::int16_t& sample) { return as_int16<kDecode>(at + i * record_bytes, sample); },
      [&](std::int64_t i) {
        // The guess reads a sample that far ahead, which then waits for its
        // record: a column is one sample every record_bytes, and a block
        // is too large to stay in the nearest caches for all its columns.
        comtrade_detail::prefetch(at + std::min(i + kRecordsAhead, count - r - 1) * record_bytes);
        return slot_guess<kDecode>(at + i * record_bytes);
      },
      value);
}

// Adds the statuses of `count` records to the texts of a group of channels
// that share one status byte, eight records at a time: the eight bytes are
// loaded once for the whole group, and a channel's eight statuses become one
// 16-byte copy of their ready text.
void add_digital_group(const DigitalColumn* group, std::size_t size, const unsigned char* record,
                       std::int64_t record_bytes, std::int64_t count, bool first,
                       std::vector<TextWriter>& texts) {
  constexpr std::size_t kStatusesPerByte = 8;
  constexpr std::int64_t kRun = 512;
  const unsigned char* status = record + group[0].offset;
  const auto add_scalar = [&](std::int64_t from, std::int64_t n, bool very_first) {
    for (std::size_t c = 0; c < size; ++c) {
      const unsigned mask = group[c].mask;
      const unsigned char* at = status + from * record_bytes;
      texts[group[c].slot].add_bits(n, very_first,
                                    [&](std::int64_t i) { return (at[i * record_bytes] & mask) != 0; });
    }
  };
  std::int64_t r = 0;
  if (first && count > 0) {
    add_scalar(0, 1, true);
    r = 1;
  }
  const StatusPairs& pairs = status_pairs();
  unsigned shift[kStatusesPerByte];
  char* out[kStatusesPerByte];
  for (std::size_t c = 0; c < size; ++c) {
    shift[c] = 0;
    while ((group[c].mask >> shift[c]) != 1u) ++shift[c];
  }
  while (count - r >= 8) {
    const std::int64_t eights = std::min<std::int64_t>((count - r) / 8, kRun / 8);
    for (std::size_t c = 0; c < size; ++c) {
      out[c] = texts[group[c].slot].run(static_cast<std::size_t>(eights) * 16);
    }
    for (std::int64_t e = 0; e < eights; ++e, r += 8) {
      const unsigned char* at = status + r * record_bytes;
      std::uint64_t bytes = 0;
      for (int k = 0; k < 8; ++k) bytes |= std::uint64_t{at[k * record_bytes]} << (8 * k);
      for (std::size_t c = 0; c < size; ++c) {
        // Bit shift[c] of each byte, gathered into bit k for record k.
        const std::uint64_t bits = (bytes >> shift[c]) & 0x0101010101010101ULL;
        const unsigned m = static_cast<unsigned>((bits * 0x0102040810204080ULL) >> 56);
        std::memcpy(out[c], pairs.text[m], 16);
        out[c] += 16;
      }
    }
    for (std::size_t c = 0; c < size; ++c) texts[group[c].slot].ran(out[c]);
  }
  add_scalar(r, count - r, false);
}

// Gives each column a lane so that the two lanes' work is about even, judged
// by what a value costs: a table copy, a formatted number, a status bit.
// Columns that share a table share its lane, so no table is ever filled from
// two threads.
void balance_lanes(std::vector<AnalogColumn>& analogs, std::vector<DigitalColumn>& digitals) {
  constexpr double kTableCost = 3;
  constexpr double kFormatCost = 8;
  constexpr double kBitCost = 1;
  double load[2] = {0, 0};
  std::map<const SampleTexts*, int> table_lane;
  for (AnalogColumn& analog : analogs) {
    if (analog.texts != nullptr) {
      const auto known = table_lane.find(analog.texts);
      if (known != table_lane.end()) {
        analog.lane = known->second;
        load[analog.lane] += kTableCost;
        continue;
      }
    }
    analog.lane = load[1] < load[0] ? 1 : 0;
    load[analog.lane] += analog.texts != nullptr ? kTableCost : kFormatCost;
    if (analog.texts != nullptr) table_lane.emplace(analog.texts, analog.lane);
  }
  // Channels of one status byte are built together, so they share a lane.
  for (std::size_t d = 0; d < digitals.size(); ++d) {
    DigitalColumn& digital = digitals[d];
    const bool joins = d > 0 && digitals[d - 1].offset == digital.offset;
    digital.lane = joins ? digitals[d - 1].lane : load[1] < load[0] ? 1 : 0;
    load[digital.lane] += kBitCost;
  }
}

template <Decode kDecode>
std::int64_t read_texts(BlockFile& file, const Layout& layout, std::int64_t wanted,
                        const std::vector<AnalogColumn>& analogs,
                        const std::vector<DigitalColumn>& digitals,
                        std::vector<TextWriter>& analog_texts, std::vector<TextWriter>& digital_texts) {
  const std::int64_t record_bytes = layout.record_bytes;
  comtrade_detail::SecondLane second_lane;
  // Columns that all share one table all go to the first lane; a second
  // thread would then only wait.
  const bool second_has_work =
      std::any_of(analogs.begin(), analogs.end(), [](const AnalogColumn& c) { return c.lane == 1; }) ||
      std::any_of(digitals.begin(), digitals.end(), [](const DigitalColumn& c) { return c.lane == 1; });
  return walk_records(file, record_bytes, wanted,
                      [&](const unsigned char* records, std::int64_t count, std::int64_t done) {
                        // Channel by channel through the block: one channel's
                        // table and text stay in the cache while its column
                        // is walked; a large block's columns go two ways.
                        const bool first = done == 0;
                        const auto values = count * static_cast<std::int64_t>(analogs.size() + digitals.size());
                        const bool parallel = second_has_work && comtrade_detail::worth_two_lanes(values);
                        second_lane.run(parallel, [&](int lane) {
                          for (const AnalogColumn& analog : analogs) {
                            if (analog.lane != lane) continue;
                            add_analog_column<kDecode>(analog, records, record_bytes, count, first,
                                                       analog_texts[analog.slot]);
                          }
                          for_each_status_group(digitals, [&](const DigitalColumn* group, std::size_t size) {
                            if (group[0].lane != lane) return;
                            add_digital_group(group, size, records, record_bytes, count, first, digital_texts);
                          });
                        });
                      });
}

}  // namespace

int ComTrade_format::loadBinaryData() {
  clear_channel_store();
  const DataSection section = data_section();
  BlockFile file;
  if (!file.open(section.path, section.offset, section.length.value_or(UINT64_MAX))) {
    std::cout << "check no such binary file: " << section.shown_path << '\n';
    return 1;
  }
  std::cout << "check binary file success: " << section.shown_path << '\n';
  // The file type says how wide an analog sample is; a type this reader does
  // not know is read as BINARY, as the caller only sends the binary types.
  const Layout layout = layout_of(m_cfg_info, comtrade_detail::file_type_code(m_cfg_info.file_type));
  std::cout << "dat_count: " << layout.record_bytes << ", semp_count: " << m_cfg_info.samp_count << '\n';
  if (layout.record_bytes < 1) return 1;

  const std::int64_t wanted = m_cfg_info.samp_count;
  const std::int64_t expected =
      std::max<std::int64_t>(0, std::min(wanted, section_bytes(section) / layout.record_bytes));
  std::vector<AnalogColumn> analogs;
  std::vector<DigitalColumn> digitals;
  columns_of(m_cfg_info, layout, analogs, digitals);
  if (analogs.empty() && digitals.empty()) return 0;
  std::vector<SampleTexts> tables;
  tables.reserve(analogs.size());  // columns point into it
  comtrade_detail::share_tables(expected, analogs, tables);
  balance_lanes(analogs, digitals);

  std::vector<TextWriter> analog_texts, digital_texts;
  comtrade_detail::prepare_working_lists(m_cfg_info, expected, analog_texts, digital_texts);
  file.read_ahead(static_cast<std::uint64_t>(expected * layout.record_bytes));
  std::int64_t records_read = 0;
  switch (layout.decode) {
    case Decode::kInt16:
      records_read = read_texts<Decode::kInt16>(file, layout, wanted, analogs, digitals, analog_texts,
                                                digital_texts);
      break;
    case Decode::kInt32:
      records_read = read_texts<Decode::kInt32>(file, layout, wanted, analogs, digitals, analog_texts,
                                                digital_texts);
      break;
    case Decode::kFloat32:
      records_read = read_texts<Decode::kFloat32>(file, layout, wanted, analogs, digitals,
                                                  analog_texts, digital_texts);
      break;
  }
  for (auto& text : analog_texts) text.close();
  for (auto& text : digital_texts) text.close();
  comtrade_detail::hand_over_texts(m_cfg_info, records_read);
  return 0;
}
