// The record layout shared by the BINARY, BINARY32 and FLOAT32 readers:
// where each selected channel lies in a record, how an analog sample of each
// type decodes, and the walk over whole records block by block. Internal to
// the binary data readers.
#ifndef COMTRADE_FORMAT_BINARY_LAYOUT_H_
#define COMTRADE_FORMAT_BINARY_LAYOUT_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>
#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include "comtrade_format/block_file.h"
#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/file_types.h"
#include "comtrade_format/sample_texts.h"
#include "comtrade_format/working_lists.h"

namespace comtrade_detail {

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
inline Layout layout_of(const cmtr_cfg_info& cfg, int file_type) {
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

inline std::uint32_t le32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
// The time stamp of a record, unscaled, or NaN where the recorder left it out.
inline double record_stamp(const unsigned char* record) {
  const std::uint32_t stamp = le32(record + 4);
  return stamp == kMissingStamp ? std::numeric_limits<double>::quiet_NaN() : static_cast<double>(stamp);
}
inline std::int16_t int16_at(const unsigned char* at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | (at[1] << 8)));
}
inline std::int32_t int32_at(const unsigned char* at) { return static_cast<std::int32_t>(le32(at)); }
inline float float32_at(const unsigned char* at) {
  const std::uint32_t bits = le32(at);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline std::uint32_t float_bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// `value` without its fraction, and for NaN and values beyond 32 bits some
// number outside the 16-bit range, without a branch where the processor
// offers a conversion that never fails: every float sample passes here.
inline std::int32_t truncated(float value) {
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
inline bool as_int16(const unsigned char* at, std::int16_t& sample) {
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
inline std::uint16_t slot_guess(const unsigned char* at) {
  if constexpr (kDecode == Decode::kFloat32) {
    return static_cast<std::uint16_t>(truncated(float32_at(at)));
  } else {
    // A 32-bit sample's low half is its slot when it has one.
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
  }
}

template <Decode kDecode>
inline double raw_sample(const unsigned char* at) {
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
inline void columns_of(const cmtr_cfg_info& cfg, const Layout& layout, std::vector<AnalogColumn>& analogs,
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
inline void for_each_status_group(const std::vector<DigitalColumn>& digitals, Visit visit) {
  for (std::size_t d = 0; d < digitals.size();) {
    std::size_t e = d + 1;
    while (e < digitals.size() && digitals[e].offset == digitals[d].offset) ++e;
    visit(&digitals[d], e - d);
    d = e;
  }
}

// Bytes of the binary data: its section's count, or the rest of the file.
inline std::int64_t section_bytes(const DataSection& section) {
  return static_cast<std::int64_t>(
      std::min<std::uint64_t>(section.length.value_or(bytes_after(section)), INT64_MAX));
}

// Calls `visit(records, count, first)` for whole records, block by block,
// until `wanted` records were visited or the data ends (a record cut short
// at the end is never used); `first` counts the records visited before.
// Returns the number of records visited.
template <typename Visit>
inline std::int64_t walk_records(BlockFile& file, std::int64_t record_bytes, std::int64_t wanted, Visit visit) {
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
  file.check_intact();
  return records_read;
}

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_BINARY_LAYOUT_H_
