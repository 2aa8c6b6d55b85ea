// The samples of a binary data section over windows: one positioned read a
// run of records (or a group of windows close together), each record's
// selected columns decoded in place.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "comtrade_format/binary_layout.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/window_samples.h"
#include "platform/platform.h"

namespace comtrade_detail {

namespace {

// Records decoded and handed on at once: enough to make the calls cheap,
// few enough to keep the run in the cache.
constexpr std::int64_t kRunRecords = 4096;
// Windows less than this apart are read together, up to a read of
// kJoinedReadBytes: where a system call costs several microseconds, as on a
// virtual machine, copying tens of kilobytes between them costs less.
constexpr std::int64_t kJoinGapBytes = 64 * 1024;
constexpr std::int64_t kJoinedReadBytes = 1024 * 1024;

template <Decode kDecode>
void decode_run(const unsigned char* records, std::int64_t count, std::int64_t record_bytes,
                const std::vector<AnalogColumn>& analogs, const std::vector<DigitalColumn>& digitals,
                int analog_selected, std::size_t width, double* values, double* stamps) {
  for (std::int64_t i = 0; i < count; ++i) {
    const unsigned char* record = records + i * record_bytes;
    double* row = values + static_cast<std::size_t>(i) * width;
    for (const AnalogColumn& analog : analogs) {
      row[analog.slot] = raw_sample<kDecode>(record + analog.offset) * analog.factor_a + analog.factor_b;
    }
    for (const DigitalColumn& digital : digitals) {
      row[static_cast<std::size_t>(analog_selected + digital.slot)] =
          (record[digital.offset] & digital.mask) != 0 ? 1.0 : 0.0;
    }
    stamps[i] = record_stamp(record);
  }
}

}  // namespace

int load_binary_samples(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const std::vector<SampleWindow>& windows, SampleSink& sink) {
  const Layout layout = layout_of(cfg, file_type);
  if (layout.record_bytes < 1) return 1;
  platform::ReadFile file;
  if (!file.open(section.path, false)) return 1;
  const std::int64_t total = std::min<std::int64_t>(cfg.samp_count, section_bytes(section) / layout.record_bytes);
  std::vector<AnalogColumn> analogs;
  std::vector<DigitalColumn> digitals;
  columns_of(cfg, layout, analogs, digitals);
  const std::size_t width = cfg.sel_list.size();
  const std::int64_t record_bytes = layout.record_bytes;
  std::vector<unsigned char> bytes;
  // A channel without a place in the layout stays NaN.
  std::vector<double> values(static_cast<std::size_t>(kRunRecords) * width,
                             std::numeric_limits<double>::quiet_NaN());
  std::vector<double> stamps(static_cast<std::size_t>(kRunRecords));
  // Decodes `count` records from `records` on, the first of them sample `first`.
  const auto hand_on = [&](const unsigned char* records, std::int64_t first, std::int64_t count) {
    if (count <= 0) return;
    switch (layout.decode) {
      case Decode::kInt16:
        decode_run<Decode::kInt16>(records, count, record_bytes, analogs, digitals, cfg.sel_ai_num, width,
                                   values.data(), stamps.data());
        break;
      case Decode::kInt32:
        decode_run<Decode::kInt32>(records, count, record_bytes, analogs, digitals, cfg.sel_ai_num, width,
                                   values.data(), stamps.data());
        break;
      case Decode::kFloat32:
        decode_run<Decode::kFloat32>(records, count, record_bytes, analogs, digitals, cfg.sel_ai_num, width,
                                     values.data(), stamps.data());
        break;
    }
    sink.take(first, count, width, values.data(), stamps.data());
  };
  // Reads records [from, from + count) into `bytes`; returns the whole ones got.
  const auto read_records = [&](std::int64_t from, std::int64_t count) {
    bytes.resize(static_cast<std::size_t>(count * record_bytes));
    const std::uint64_t at =
        section.offset + static_cast<std::uint64_t>(from) * static_cast<std::uint64_t>(record_bytes);
    return static_cast<std::int64_t>(file.read_at(at, reinterpret_cast<char*>(bytes.data()), bytes.size())) /
           record_bytes;
  };

  std::vector<SampleWindow> wanted;
  for (const SampleWindow& window : windows) {
    const std::int64_t from = std::clamp<std::int64_t>(window.from, 0, std::max<std::int64_t>(total, 0));
    const std::int64_t to = std::clamp<std::int64_t>(window.to, from, std::max<std::int64_t>(total, from));
    if (from < to) wanted.push_back({from, to});
  }
  for (std::size_t next = 0; next < wanted.size();) {
    // Windows close behind each other are read together: the short cycles
    // of a phasor query are thousands, and a read per cycle cost more than
    // copying the records between them.
    std::int64_t span_to = wanted[next].to;
    std::size_t end = next + 1;
    while (end < wanted.size() && wanted[end].from >= wanted[next].from &&
           (wanted[end].from - span_to) * record_bytes < kJoinGapBytes &&
           (std::max(span_to, wanted[end].to) - wanted[next].from) * record_bytes <= kJoinedReadBytes) {
      span_to = std::max(span_to, wanted[end].to);
      ++end;
    }
    if (end > next + 1) {
      const std::int64_t span_from = wanted[next].from;
      const std::int64_t got_to = span_from + read_records(span_from, span_to - span_from);
      for (; next < end; ++next) {
        const SampleWindow& window = wanted[next];
        const std::int64_t to = std::min(window.to, got_to);
        for (std::int64_t first = window.from; first < to; first += kRunRecords) {
          hand_on(bytes.data() + (first - span_from) * record_bytes, first, std::min(kRunRecords, to - first));
        }
        // A file that ends early ends every later window too.
        if (to < window.to) return 0;
      }
      continue;
    }
    const SampleWindow& window = wanted[next++];
    for (std::int64_t first = window.from; first < window.to;) {
      const std::int64_t count = std::min(kRunRecords, window.to - first);
      const std::int64_t whole = read_records(first, count);
      hand_on(bytes.data(), first, whole);
      if (whole < count) return 0;
      first += count;
    }
  }
  return 0;
}

namespace {

// The watched status bits of a record as one 64-bit word: where they lie
// within 8 bytes of a record of 8 bytes or more, the word loaded from
// `offset` masked by `mask` holds them all.
struct StatusWord {
  bool fits = false;
  std::int64_t offset = 0;
  std::uint64_t mask = 0;
};

StatusWord status_word(const std::vector<std::pair<std::int64_t, unsigned>>& watched, std::int64_t record_bytes) {
  StatusWord word;
  if (watched.empty() || record_bytes < 8) return word;
  std::int64_t low = watched.front().first, high = low;
  for (const auto& byte : watched) {
    low = std::min(low, byte.first);
    high = std::max(high, byte.first);
  }
  if (high - low >= 8) return word;
  word.offset = std::min(low, record_bytes - 8);  // the load stays inside the record
  // Built byte by byte and loaded like the records, so it holds whatever
  // the byte order.
  unsigned char mask[8] = {};
  for (const auto& byte : watched) mask[byte.first - word.offset] |= static_cast<unsigned char>(byte.second);
  std::memcpy(&word.mask, mask, sizeof mask);
  word.fits = true;
  return word;
}

}  // namespace

int load_binary_changes(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const SampleWindow& window, SampleSink& sink) {
  const Layout layout = layout_of(cfg, file_type);
  if (layout.record_bytes < 1) return 1;
  const std::int64_t total = std::min<std::int64_t>(cfg.samp_count, section_bytes(section) / layout.record_bytes);
  const std::int64_t from = std::clamp<std::int64_t>(window.from, 0, std::max<std::int64_t>(total, 0));
  const std::int64_t to = std::clamp<std::int64_t>(window.to, from, std::max<std::int64_t>(total, from));
  const std::int64_t record_bytes = layout.record_bytes;
  BlockFile file;
  if (!file.open(section.path, section.offset + static_cast<std::uint64_t>(from * record_bytes),
                 static_cast<std::uint64_t>((to - from) * record_bytes))) {
    return 1;
  }
  file.read_ahead(static_cast<std::uint64_t>((to - from) * record_bytes));
  std::vector<AnalogColumn> analogs;
  std::vector<DigitalColumn> digitals;
  columns_of(cfg, layout, analogs, digitals);
  // The status bytes that hold a selected channel, and which of their bits:
  // a record changes a selected state only where these bits differ.
  std::vector<std::pair<std::int64_t, unsigned>> watched;
  for_each_status_group(digitals, [&](const DigitalColumn* group, std::size_t size) {
    unsigned mask = 0;
    for (std::size_t c = 0; c < size; ++c) mask |= group[c].mask;
    watched.emplace_back(group[0].offset, mask);
  });
  const std::size_t width = cfg.sel_list.size();
  std::vector<double> row(width, std::numeric_limits<double>::quiet_NaN());
  double stamp = 0;
  const auto hand_on = [&](const unsigned char* record, std::int64_t sample) {
    decode_run<Decode::kInt16>(record, 1, record_bytes, {}, digitals, cfg.sel_ai_num, width, row.data(), &stamp);
    sink.take(sample, 1, width, row.data(), &stamp);
  };
  const StatusWord word = status_word(watched, record_bytes);
  bool first = true;
  if (word.fits) {
    // Each channel's bit within the loaded word, built as the word's mask
    // is: a changed record then sets only the statuses whose bits differ,
    // the rest of its row still holding the record before's.
    std::vector<std::pair<std::size_t, std::uint64_t>> bits_of;
    for (const DigitalColumn& digital : digitals) {
      unsigned char bytes[8] = {};
      bytes[digital.offset - word.offset] = static_cast<unsigned char>(digital.mask);
      std::uint64_t bit;
      std::memcpy(&bit, bytes, sizeof bytes);
      bits_of.emplace_back(static_cast<std::size_t>(cfg.sel_ai_num + digital.slot), bit);
    }
    // Nearly every record changes nothing: one load, mask and comparison
    // passes it.
    std::uint64_t last = 0;
    walk_records(file, record_bytes, to - from,
                 [&](const unsigned char* records, std::int64_t count, std::int64_t done) {
      for (std::int64_t i = 0; i < count; ++i) {
        const unsigned char* record = records + i * record_bytes;
        std::uint64_t bits;
        std::memcpy(&bits, record + word.offset, sizeof bits);
        bits &= word.mask;
        if (bits == last && !first) continue;
        const std::uint64_t changed = first ? ~std::uint64_t{0} : bits ^ last;
        first = false;
        last = bits;
        for (const auto& [slot, bit] : bits_of) {
          if ((changed & bit) != 0) row[slot] = (bits & bit) != 0 ? 1.0 : 0.0;
        }
        stamp = record_stamp(record);
        sink.take(from + done + i, 1, width, row.data(), &stamp);
      }
    });
    return 0;
  }
  std::vector<unsigned char> last(watched.size());
  walk_records(file, record_bytes, to - from,
               [&](const unsigned char* records, std::int64_t count, std::int64_t done) {
    for (std::int64_t i = 0; i < count; ++i) {
      const unsigned char* record = records + i * record_bytes;
      bool changed = first;
      for (std::size_t w = 0; w < watched.size(); ++w) {
        const unsigned char bits = static_cast<unsigned char>(record[watched[w].first] & watched[w].second);
        changed = changed || bits != last[w];
        last[w] = bits;
      }
      if (!changed) continue;
      first = false;
      hand_on(record, from + done + i);
    }
  });
  return 0;
}

}  // namespace comtrade_detail
