// The value texts of 16-bit analog samples, formatted once per distinct
// sample and shared by channels with the same factors. Internal to the data
// readers.
#ifndef COMTRADE_FORMAT_SAMPLE_TEXTS_H_
#define COMTRADE_FORMAT_SAMPLE_TEXTS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/fixed4.h"

namespace comtrade_detail {

// The "%.4f" texts of sample * factor_a + factor_b for every 16-bit sample of
// one analog channel, each formatted the first time it occurs. The text
// depends on nothing but the sample, and a long record repeats its samples
// many times, so most values cost a copy instead of a conversion. The text is
// format_fixed4 of the very same double, so it is exact by construction.
class SampleTexts {
 public:
  // One entry: a "," and the text, padded to a size copied in one move.
  struct Slot {
    char text[15];
    // Bytes of text[] in use, comma included; 0 until formatted, kTooLong
    // for a text that does not fit (formatted anew on every use).
    std::uint8_t length;
  };
  static constexpr std::uint8_t kTooLong = 0xFF;

  // A table pays for clearing it and formatting its distinct samples from
  // this many values on. The tables of one load stay few: each is a megabyte
  // that is read at random, and their memory comes on top of the answer's.
  static constexpr std::int64_t kMinSamples = 8192;
  static constexpr std::size_t kMostTables = 24;

  SampleTexts(double factor_a, double factor_b);

  double value(std::int32_t sample) const {
    return static_cast<double>(sample) * m_factor_a + m_factor_b;
  }
  const Slot& slot(std::int16_t sample) {
    Slot& entry = m_slots[static_cast<std::uint16_t>(sample)];
    if (entry.length == 0) fill(entry, sample);
    return entry;
  }
  // The slots themselves, indexed by the sample as unsigned, for loops that
  // keep the table in a register; such a loop fills a slot of length 0.
  Slot* slots() { return m_slots.get(); }
  void fill(Slot& entry, std::int16_t sample);

 private:
  double m_factor_a;
  double m_factor_b;
  std::unique_ptr<Slot[]> m_slots;
};

// Gives analog columns their text tables when `samples` values make tables
// worth it: channels with the very same factors share one table (a record's
// three phase currents usually do), up to `most` tables. `tables` must have
// room reserved for one table per column: the columns point into it.
// `wanted(column)` tells which columns are analog ones.
template <typename Column, typename Wanted>
void share_tables(std::int64_t samples, std::vector<Column>& columns, std::vector<SampleTexts>& tables,
                  Wanted wanted, std::size_t most = SampleTexts::kMostTables) {
  if (samples < SampleTexts::kMinSamples) return;
  std::vector<std::pair<std::pair<double, double>, SampleTexts*>> made;
  for (Column& column : columns) {
    if (!wanted(column)) continue;
    const std::pair<double, double> factors(column.factor_a, column.factor_b);
    // Bit for bit: -0.0 and 0.0 give different texts.
    const auto same = std::find_if(made.begin(), made.end(), [&](const auto& entry) {
      return std::memcmp(&entry.first, &factors, sizeof factors) == 0;
    });
    if (same != made.end()) {
      column.texts = same->second;
    } else if (tables.size() < most) {
      tables.emplace_back(column.factor_a, column.factor_b);
      column.texts = &tables.back();
      made.emplace_back(factors, column.texts);
    }
  }
}
template <typename Column>
void share_tables(std::int64_t samples, std::vector<Column>& columns, std::vector<SampleTexts>& tables) {
  share_tables(samples, columns, tables, [](const Column&) { return true; });
}

// Bytes the longest value text of a 16-bit sample of this channel takes, its
// comma included: "%.4f" grows with the magnitude, and s * a + b has its
// largest magnitudes at the ends of the sample range.
std::size_t int16_value_bytes(double factor_a, double factor_b);

// Bytes one analog value is expected to take in its text (with its comma),
// judged from the channel's scaled range and the 16-bit sample range.
std::size_t analog_value_bytes(const analog_info& analog);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_SAMPLE_TEXTS_H_
