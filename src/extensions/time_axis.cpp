// The time axis of a record.
#include "extensions/time_axis.h"

#include <cmath>

namespace {

std::optional<double> stamp_time(const ComTrade_format& record, double stamp) {
  if (std::isnan(stamp)) return std::nullopt;
  return stamp * record.header().time_multiplier;
}

}  // namespace

std::vector<std::optional<double>> bucket_times_us(const ComTrade_format& record, const Buckets& buckets,
                                                   std::int64_t from, std::int64_t step) {
  const std::vector<SampleRate>& rates = record.header().rates;
  const std::size_t count = buckets.first_stamps.size();
  const bool by_rates = rates_give_time(rates);
  RateClock clock(rates);
  std::vector<std::optional<double>> times;
  times.reserve(count);
  for (std::size_t b = 0; b < count; ++b) {
    if (by_rates) {
      times.push_back(clock.offset_us(from + static_cast<std::int64_t>(b) * step));
    } else {
      times.push_back(stamp_time(record, buckets.first_stamps[b]));
    }
  }
  return times;
}

std::optional<double> last_sample_offset_us(ComTrade_format& record) {
  const std::int64_t samples = record.cfg().samp_count;
  if (samples <= 0) return std::nullopt;
  const std::vector<SampleRate>& rates = record.header().rates;
  if (rates_give_time(rates)) return sample_offset_us(rates, samples - 1);
  // Sampled at rate 0: the last sample's own time stamp says when it was.
  Buckets last;
  record.Select_channels({}, 0);
  if (record.loadBuckets(SampleWindow{samples - 1, samples}, 1, last) != 0 || last.first_stamps.empty()) {
    return std::nullopt;
  }
  return stamp_time(record, last.first_stamps.front());
}
