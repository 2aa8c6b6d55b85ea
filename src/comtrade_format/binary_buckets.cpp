// Min/max buckets over a window of a binary data section: only the window's
// records are read (a seek to its first), and 16-bit channels whose scaling
// keeps order take their extremes on the raw samples, eight at a time.
#include "comtrade_format/binary_buckets.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "comtrade_format/binary_layout.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/bucket_builder.h"

namespace comtrade_detail {

namespace {


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
                      BucketBuilder& buckets) {
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
                      BucketBuilder& buckets) {
  static_assert(kWindowBytes <= static_cast<std::int64_t>(kReadAheadBytes),
                "a window load must stay within the bytes a block may load");
  std::size_t channels[BucketBuilder::kMostInGroup];
  std::size_t lanes[BucketBuilder::kMostInGroup];
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
                      std::int64_t done, BucketBuilder& buckets) {
  std::size_t channels[BucketBuilder::kMostInGroup];
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
                  BucketBuilder& buckets) {
  const std::int64_t record_bytes = layout.record_bytes;
  std::vector<const AnalogColumn*> scaled;
  for (const AnalogColumn& analog : analogs) {
    if (scales_monotonically<kDecode>(analog)) scaled.push_back(&analog);
  }
  walk_records(file, record_bytes, wanted,
               [&](const unsigned char* records, std::int64_t count, std::int64_t done) {
                 buckets.add_stamps(done, count,
                                    [&](std::int64_t i) { return record_stamp(records + i * record_bytes); });
#if defined(__SSE2__)
                 if constexpr (kDecode == Decode::kInt16) {
                   // Columns come in record order, so a window's columns are neighbours.
                   for (std::size_t c = 0; c < scaled.size();) {
                     std::size_t e = c + 1;
                     while (e < scaled.size() && e - c < BucketBuilder::kMostInGroup &&
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
