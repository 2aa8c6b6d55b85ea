// The time axis the rate lines give.
#include "comtrade_format/record_header.h"

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;

}  // namespace

bool rates_give_time(const std::vector<SampleRate>& rates) {
  if (rates.empty()) return false;
  for (const SampleRate& rate : rates) {
    if (!rate.rate || !(*rate.rate > 0)) return false;
  }
  return true;
}

std::optional<double> sample_offset_us(const std::vector<SampleRate>& rates, std::int64_t index) {
  if (!rates_give_time(rates) || index < 0) return std::nullopt;
  double offset = 0;
  std::int64_t counted = 0;  // samples before `index` already summed
  for (std::size_t i = 0; i < rates.size() && counted < index; ++i) {
    const bool last_segment = i + 1 == rates.size();
    // A segment without a last sample number, or the last segment, takes
    // every remaining sample.
    std::int64_t end = index;
    if (!last_segment && rates[i].last && *rates[i].last < index) end = *rates[i].last;
    if (end <= counted) continue;
    offset += static_cast<double>(end - counted) * kMicrosecondsPerSecond / *rates[i].rate;
    counted = end;
  }
  return offset;
}
