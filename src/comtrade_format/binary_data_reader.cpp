// How a binary .dat (BINARY, BINARY32 or FLOAT32) becomes one value text per
// selected channel, in the same form the ASCII reader leaves, or min/max
// buckets over a window. The three types share one record layout and differ
// only in the width and decoding of an analog sample. Record offsets of the
// selected channels are worked out once, so each record costs only the
// channels asked for.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/binary_buckets.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/bucket_builder.h"
#include "comtrade_format/sample_texts.h"
#include "comtrade_format/text_writer.h"
#include "comtrade_format/two_lanes.h"
#include "comtrade_format/working_lists.h"
#include "platform/platform.h"

namespace {

using comtrade_detail::BlockFile;
using comtrade_detail::SampleTexts;
using comtrade_detail::StatusPairs;
using comtrade_detail::status_pairs;
using comtrade_detail::TextWriter;

// Every record opens with a 4-byte sample number and a 4-byte time stamp;
// the analog samples start after them.
constexpr std::int64_t kRecordHeaderBytes = 4 + 4;
// A time stamp of all ones means the recorder left it out.
constexpr std::uint32_t kMissingStamp = 0xFFFFFFFFu;

enum class Decode { kInt16, kInt32, kFloat32 };

struct Layout {
  Decode decode;
  std::int64_t analog_bytes;
  std::int64_t record_bytes;
  std::int64_t status_offset;  // first status byte, from the record start
};

// Counts may be anything a .cfg says, so the sizes are worked out in 64 bits;
// only negative counts can make a record size below 1.
Layout layout_of(const cmtr_cfg_info& cfg, int file_type) {
  Layout layout;
  layout.decode = file_type == kFileTypeBinary32  ? Decode::kInt32
                  : file_type == kFileTypeFloat32 ? Decode::kFloat32
                                                  : Decode::kInt16;
  layout.analog_bytes = layout.decode == Decode::kInt16 ? 2 : 4;
  const std::int64_t digital_count = cfg.di_num;
  // Each started group of 16 digital channels takes one 16-bit status word.
  const std::int64_t status_words = digital_count / 16 + (digital_count % 16 != 0 ? 1 : 0);
  layout.status_offset = kRecordHeaderBytes + layout.analog_bytes * cfg.ai_num;
  layout.record_bytes = layout.status_offset + 2 * status_words;
  return layout;
}

std::uint32_t le32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
std::int16_t int16_at(const unsigned char* at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | (at[1] << 8)));
}
std::int32_t int32_at(const unsigned char* at) { return static_cast<std::int32_t>(le32(at)); }
float float32_at(const unsigned char* at) {
  const std::uint32_t bits = le32(at);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::uint32_t float_bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// `value` without its fraction, and for NaN and values beyond 32 bits some
// number outside the 16-bit range, without a branch where the processor
// offers a conversion that never fails: every float sample passes here.
std::int32_t truncated(float value) {
#if defined(__SSE__) || defined(_M_X64)
  return _mm_cvtt_ss2si(_mm_set_ss(value));
#else
  if (!(value > -2147483648.0f && value < 2147483648.0f)) return INT32_MIN;
  return static_cast<std::int32_t>(value);
#endif
}

// A sample that a 16-bit table can give the text of: `sample` * a + b is
// then the very same double as the table's.
template <Decode kDecode>
bool as_int16(const unsigned char* at, std::int16_t& sample) {
  if constexpr (kDecode == Decode::kInt16) {
    sample = int16_at(at);
    return true;
  } else if constexpr (kDecode == Decode::kInt32) {
    const std::int32_t value = int32_at(at);
    if (value < INT16_MIN || value > INT16_MAX) return false;
    sample = static_cast<std::int16_t>(value);
    return true;
  } else {
    // Recorders often store counts as floats. Whole values in range use the
    // table; -0.0 does not, since -0.0 * a + b may keep its sign. The float
    // made back from the whole value has the very same bits only for such a
    // value: one integer comparison leaves out fractions, NaN and -0.0.
    const float value = float32_at(at);
    const std::int32_t whole = truncated(value);
    sample = static_cast<std::int16_t>(whole);
    return static_cast<std::uint32_t>(whole) + 32768u <= UINT16_MAX &&
           float_bits(static_cast<float>(whole)) == float_bits(value);
  }
}

// The table slot a sample probably has, found without the checks of
// as_int16: a wrong guess only brings a useless slot into the cache.
template <Decode kDecode>
std::uint16_t slot_guess(const unsigned char* at) {
  if constexpr (kDecode == Decode::kFloat32) {
    return static_cast<std::uint16_t>(truncated(float32_at(at)));
  } else {
    // A 32-bit sample's low half is its slot when it has one.
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
  }
}

template <Decode kDecode>
double raw_sample(const unsigned char* at) {
  if constexpr (kDecode == Decode::kInt16) return int16_at(at);
  if constexpr (kDecode == Decode::kInt32) return int32_at(at);
  return static_cast<double>(float32_at(at));
}

struct AnalogColumn {
  std::int64_t offset;
  int slot;
  SampleTexts* texts;  // null: every value formatted anew
  double factor_a;
  double factor_b;
  int lane = 0;  // which of the two lanes builds its text
};

struct DigitalColumn {
  std::int64_t offset;  // byte of the status area, from the record start
  unsigned mask;
  int slot;
  int lane = 0;
};

// The record offsets of the selected channels. Slots follow the selection
// order, so a channel left out still keeps every later channel on its own
// text. Only a negative count of the other kind can put a channel outside
// the record; it then gets no values.
void columns_of(const cmtr_cfg_info& cfg, const Layout& layout, std::vector<AnalogColumn>& analogs,
                std::vector<DigitalColumn>& digitals) {
  int slot = 0;
  for (std::size_t i = 0; i < cfg.analogs.size(); ++i) {
    const analog_info& analog = cfg.analogs[i];
    if (analog.sel_pos <= 0) continue;
    const std::int64_t offset = kRecordHeaderBytes + layout.analog_bytes * static_cast<std::int64_t>(i);
    if (offset + layout.analog_bytes <= layout.record_bytes) {
      analogs.push_back({offset, slot, nullptr, analog.factor_a, analog.factor_b});
    }
    ++slot;
  }
  // Byte w of the status area holds channels 8w+1..8w+8, least significant
  // bit first; bits past di_num are never looked at.
  slot = 0;
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    if (cfg.digitals[j].sel_pos <= 0) continue;
    const std::int64_t offset = layout.status_offset + static_cast<std::int64_t>(j / 8);
    if (offset >= 0 && offset < layout.record_bytes) {
      digitals.push_back({offset, 1u << (j % 8), slot});
    }
    ++slot;
  }
}

// Calls `visit(group, size)` for each run of selected digital columns that
// share one status byte (columns_of keeps them in channel order, so such
// columns lie next to each other).
template <typename Visit>
void for_each_status_group(const std::vector<DigitalColumn>& digitals, Visit visit) {
  for (std::size_t d = 0; d < digitals.size();) {
    std::size_t e = d + 1;
    while (e < digitals.size() && digitals[e].offset == digitals[d].offset) ++e;
    visit(&digitals[d], e - d);
    d = e;
  }
}

// Bytes of the binary data: its section's count, or the rest of the file.
std::int64_t section_bytes(const DataSection& section) {
  return static_cast<std::int64_t>(
      std::min<std::uint64_t>(section.length.value_or(comtrade_detail::bytes_after(section)), INT64_MAX));
}

// Calls `visit(records, count, first)` for whole records, block by block,
// until `wanted` records were visited or the data ends (a record cut short
// at the end is never used); `first` counts the records visited before.
// Returns the number of records visited.
template <typename Visit>
std::int64_t walk_records(BlockFile& file, std::int64_t record_bytes, std::int64_t wanted, Visit visit) {
  std::int64_t records_read = 0;
  std::size_t keep = 0;
  while (records_read < wanted) {
    if (file.refill(keep) == 0) break;
    const unsigned char* records = reinterpret_cast<const unsigned char*>(file.data());
    const std::size_t available = file.size();
    const std::int64_t whole = static_cast<std::int64_t>(available) / record_bytes;
    const std::int64_t use = std::min(whole, wanted - records_read);
    if (use > 0) visit(records, use, records_read);
    records_read += use;
    keep = available - static_cast<std::size_t>(whole * record_bytes);
  }
  return records_read;
}

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

// Integer samples scale monotonically when the factors are plain numbers
// (a * 2^31 stays finite, a is no zero): the extreme samples of a run give
// its extreme values, so a run scales two samples instead of every one.
template <Decode kDecode>
bool scales_monotonically(const AnalogColumn& analog) {
  if constexpr (kDecode == Decode::kFloat32) {
    return false;
  } else {
    return analog.factor_a != 0 && std::fabs(analog.factor_a) < 1e290 && std::isfinite(analog.factor_b);
  }
}

// The values of a column's lowest and highest sample of a run, as the run's
// lowest and highest value.
void scale_extremes(const AnalogColumn& analog, std::int32_t lowest, std::int32_t highest, double& low,
                    double& high) {
  const double at_lowest = static_cast<double>(lowest) * analog.factor_a + analog.factor_b;
  const double at_highest = static_cast<double>(highest) * analog.factor_a + analog.factor_b;
  low = analog.factor_a > 0 ? at_lowest : at_highest;
  high = analog.factor_a > 0 ? at_highest : at_lowest;
}

// Adds the extremes of a group of up to four monotonically scaling analog
// columns to their buckets. A record's samples of the group are read
// together, so the block is walked once for the group, not once a column;
// the extremes are found as integers, in registers.
template <Decode kDecode>
void add_scaled_group(const AnalogColumn* const* group, std::size_t size, const unsigned char* records,
                      std::int64_t record_bytes, std::int64_t count, std::int64_t done,
                      comtrade_detail::BucketBuilder& buckets) {
  constexpr std::size_t kWidth = 4;
  std::size_t channels[kWidth];
  std::int64_t offsets[kWidth];
  for (std::size_t c = 0; c < kWidth; ++c) {
    // Unused places repeat the first column: the same work, never reported.
    const AnalogColumn& analog = *group[c < size ? c : 0];
    channels[c] = static_cast<std::size_t>(analog.slot);
    offsets[c] = analog.offset;
  }
  const auto sample = [](const unsigned char* at) -> std::int32_t {
    if constexpr (kDecode == Decode::kInt16) return int16_at(at);
    return int32_at(at);
  };
  buckets.add_group_runs(channels, size, done, count,
                         [&](std::int64_t i, std::int64_t run, double* low, double* high) {
                           const unsigned char* record = records + i * record_bytes;
                           std::int32_t lowest[kWidth];
                           std::int32_t highest[kWidth];
                           for (std::size_t c = 0; c < kWidth; ++c) {
                             lowest[c] = highest[c] = sample(record + offsets[c]);
                           }
                           for (std::int64_t k = 1; k < run; ++k) {
                             record += record_bytes;
                             for (std::size_t c = 0; c < kWidth; ++c) {
                               const std::int32_t s = sample(record + offsets[c]);
                               lowest[c] = std::min(lowest[c], s);
                               highest[c] = std::max(highest[c], s);
                             }
                           }
                           for (std::size_t c = 0; c < size; ++c) {
                             scale_extremes(*group[c], lowest[c], highest[c], low[c], high[c]);
                           }
                         });
}

#if defined(__SSE2__)
// Columns of 16-bit samples that lie within one 16-byte load of the first:
// a record's samples of all of them are one load, and a run's extremes one
// vector minimum and maximum a record.
constexpr std::int64_t kWindowBytes = 16;

// Adds the extremes of such a group of up to kMostInGroup columns, the
// first of them lowest in the record, to their buckets. The load may reach
// past the last record of a block by less than kWindowBytes, which a block
// always has room for; those bytes never reach a column.
void add_int16_window(const AnalogColumn* const* group, std::size_t size, const unsigned char* records,
                      std::int64_t record_bytes, std::int64_t count, std::int64_t done,
                      comtrade_detail::BucketBuilder& buckets) {
  static_assert(kWindowBytes <= static_cast<std::int64_t>(comtrade_detail::kReadAheadBytes),
                "a window load must stay within the bytes a block may load");
  std::size_t channels[comtrade_detail::BucketBuilder::kMostInGroup];
  std::size_t lanes[comtrade_detail::BucketBuilder::kMostInGroup];
  const std::int64_t base = group[0]->offset;
  for (std::size_t c = 0; c < size; ++c) {
    channels[c] = static_cast<std::size_t>(group[c]->slot);
    lanes[c] = static_cast<std::size_t>((group[c]->offset - base) / 2);
  }
  const unsigned char* const first = records + base;
  buckets.add_group_runs(channels, size, done, count,
                         [&](std::int64_t i, std::int64_t run, double* low, double* high) {
                           const unsigned char* at = first + i * record_bytes;
                           __m128i lowest = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
                           __m128i highest = lowest;
                           for (std::int64_t k = 1; k < run; ++k) {
                             at += record_bytes;
                             const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
                             lowest = _mm_min_epi16(lowest, samples);
                             highest = _mm_max_epi16(highest, samples);
                           }
                           alignas(16) std::int16_t lows[8];
                           alignas(16) std::int16_t highs[8];
                           _mm_store_si128(reinterpret_cast<__m128i*>(lows), lowest);
                           _mm_store_si128(reinterpret_cast<__m128i*>(highs), highest);
                           for (std::size_t c = 0; c < size; ++c) {
                             scale_extremes(*group[c], lows[lanes[c]], highs[lanes[c]], low[c], high[c]);
                           }
                         });
}
#endif

// Adds the extremes of the digital columns that share one status byte: a
// run's statuses are all set when their AND is, and one is set when their OR
// is, so the byte's two reductions serve the whole group.
void add_status_group(const DigitalColumn* group, std::size_t size, int analog_selected,
                      const unsigned char* records, std::int64_t record_bytes, std::int64_t count,
                      std::int64_t done, comtrade_detail::BucketBuilder& buckets) {
  std::size_t channels[comtrade_detail::BucketBuilder::kMostInGroup];
  for (std::size_t c = 0; c < size; ++c) channels[c] = static_cast<std::size_t>(analog_selected + group[c].slot);
  const unsigned char* at = records + group[0].offset;
  buckets.add_group_runs(channels, size, done, count,
                         [&](std::int64_t i, std::int64_t run, double* low, double* high) {
                           unsigned all = 0xFF;
                           unsigned any = 0;
                           for (std::int64_t k = 0; k < run; ++k) {
                             const unsigned byte = at[(i + k) * record_bytes];
                             all &= byte;
                             any |= byte;
                           }
                           for (std::size_t c = 0; c < size; ++c) {
                             low[c] = (all & group[c].mask) != 0 ? 1 : 0;
                             high[c] = (any & group[c].mask) != 0 ? 1 : 0;
                           }
                         });
}

template <Decode kDecode>
void read_buckets(BlockFile& file, const Layout& layout, std::int64_t wanted, int analog_selected,
                  const std::vector<AnalogColumn>& analogs, const std::vector<DigitalColumn>& digitals,
                  comtrade_detail::BucketBuilder& buckets) {
  const std::int64_t record_bytes = layout.record_bytes;
  std::vector<const AnalogColumn*> scaled;
  for (const AnalogColumn& analog : analogs) {
    if (scales_monotonically<kDecode>(analog)) scaled.push_back(&analog);
  }
  walk_records(file, record_bytes, wanted,
               [&](const unsigned char* records, std::int64_t count, std::int64_t done) {
                 buckets.add_stamps(done, count, [&](std::int64_t i) {
                   const std::uint32_t stamp = le32(records + i * record_bytes + 4);
                   return stamp == kMissingStamp ? std::numeric_limits<double>::quiet_NaN()
                                                 : static_cast<double>(stamp);
                 });
#if defined(__SSE2__)
                 if constexpr (kDecode == Decode::kInt16) {
                   // Columns come in record order, so a window's columns are neighbours.
                   for (std::size_t c = 0; c < scaled.size();) {
                     std::size_t e = c + 1;
                     while (e < scaled.size() && e - c < comtrade_detail::BucketBuilder::kMostInGroup &&
                            scaled[e]->offset > scaled[e - 1]->offset &&
                            scaled[e]->offset + 2 - scaled[c]->offset <= kWindowBytes) {
                       ++e;
                     }
                     add_int16_window(&scaled[c], e - c, records, record_bytes, count, done, buckets);
                     c = e;
                   }
                 } else
#endif
                 {
                   for (std::size_t c = 0; c < scaled.size(); c += 4) {
                     add_scaled_group<kDecode>(&scaled[c], std::min<std::size_t>(4, scaled.size() - c),
                                               records, record_bytes, count, done, buckets);
                   }
                 }
                 for (const AnalogColumn& analog : analogs) {
                   if (scales_monotonically<kDecode>(analog)) continue;
                   const unsigned char* at = records + analog.offset;
                   buckets.add_values(analog.slot, done, count, [&](std::int64_t i) {
                     return raw_sample<kDecode>(at + i * record_bytes) * analog.factor_a + analog.factor_b;
                   });
                 }
                 for_each_status_group(digitals, [&](const DigitalColumn* group, std::size_t size) {
                   add_status_group(group, size, analog_selected, records, record_bytes, count, done, buckets);
                 });
                 buckets.add_samples(count);
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

namespace comtrade_detail {

int load_binary_buckets(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const SampleWindow& window, std::int64_t step, Buckets& out) {
  BucketBuilder buckets(out, cfg.sel_list.size(), step);
  const Layout layout = layout_of(cfg, file_type);
  if (layout.record_bytes < 1) return 1;
  const std::int64_t total = std::min<std::int64_t>(cfg.samp_count, section_bytes(section) / layout.record_bytes);
  const std::int64_t from = std::clamp<std::int64_t>(window.from, 0, std::max<std::int64_t>(total, 0));
  const std::int64_t to = std::clamp<std::int64_t>(window.to, from, std::max<std::int64_t>(total, from));
  // Only the bytes of the window are read: the first record is sought, and
  // the read stops with the last.
  const std::uint64_t record_bytes = static_cast<std::uint64_t>(layout.record_bytes);
  BlockFile file;
  if (!file.open(section.path, section.offset + static_cast<std::uint64_t>(from) * record_bytes,
                 static_cast<std::uint64_t>(to - from) * record_bytes)) {
    return 1;
  }
  std::vector<AnalogColumn> analogs;
  std::vector<DigitalColumn> digitals;
  columns_of(cfg, layout, analogs, digitals);
  switch (layout.decode) {
    case Decode::kInt16:
      read_buckets<Decode::kInt16>(file, layout, to - from, cfg.sel_ai_num, analogs, digitals, buckets);
      break;
    case Decode::kInt32:
      read_buckets<Decode::kInt32>(file, layout, to - from, cfg.sel_ai_num, analogs, digitals, buckets);
      break;
    case Decode::kFloat32:
      read_buckets<Decode::kFloat32>(file, layout, to - from, cfg.sel_ai_num, analogs, digitals, buckets);
      break;
  }
  buckets.finish();
  return 0;
}

}  // namespace comtrade_detail
