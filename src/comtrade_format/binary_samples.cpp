// The samples of a binary data section over windows: a seek and one read a
// run of records, each record's selected columns decoded in place.
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
  for (const SampleWindow& window : windows) {
    const std::int64_t from = std::clamp<std::int64_t>(window.from, 0, std::max<std::int64_t>(total, 0));
    const std::int64_t to = std::clamp<std::int64_t>(window.to, from, std::max<std::int64_t>(total, from));
    if (from == to) continue;
    for (std::int64_t first = from; first < to;) {
      const std::int64_t count = std::min(kRunRecords, to - first);
      bytes.resize(static_cast<std::size_t>(count * record_bytes));
      // Each window is one positioned read for the short cycles of a
      // phasor query, thousands of them.
      const std::uint64_t at =
          section.offset + static_cast<std::uint64_t>(first) * static_cast<std::uint64_t>(record_bytes);
      const std::size_t got = file.read_at(at, reinterpret_cast<char*>(bytes.data()), bytes.size());
      const std::int64_t whole = static_cast<std::int64_t>(got) / record_bytes;
      if (whole > 0) {
        switch (layout.decode) {
          case Decode::kInt16:
            decode_run<Decode::kInt16>(bytes.data(), whole, record_bytes, analogs, digitals, cfg.sel_ai_num, width,
                                       values.data(), stamps.data());
            break;
          case Decode::kInt32:
            decode_run<Decode::kInt32>(bytes.data(), whole, record_bytes, analogs, digitals, cfg.sel_ai_num, width,
                                       values.data(), stamps.data());
            break;
          case Decode::kFloat32:
            decode_run<Decode::kFloat32>(bytes.data(), whole, record_bytes, analogs, digitals, cfg.sel_ai_num,
                                         width, values.data(), stamps.data());
            break;
        }
        sink.take(first, whole, width, values.data(), stamps.data());
      }
      // A file that ends early ends every later window too.
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
