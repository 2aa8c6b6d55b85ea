// Min/max buckets filled from samples as they are read. Internal to the
// data readers.
#ifndef COMTRADE_FORMAT_BUCKET_BUILDER_H_
#define COMTRADE_FORMAT_BUCKET_BUILDER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// Fills a Buckets from samples that arrive in order, a channel's run of
// samples at a time: `step` samples to a bucket, counted from the window's
// first sample. Values that are not finite are left out.
class BucketBuilder {
 public:
  BucketBuilder(Buckets& out, std::size_t channels, std::int64_t step);
  // Samples of the window from `first` (counted from the window start) on,
  // `count` of them, whose time stamps are `stamp(i)` for i in [0, count).
  template <typename Stamp>
  void add_stamps(std::int64_t first, std::int64_t count, Stamp stamp) {
    for (std::int64_t i = bucket_start_at_or_after(first); i < first + count; i += m_step) {
      m_out.first_stamps.push_back(stamp(i - first));
    }
  }
  // The values of channel `channel` for the samples from `first` on, given
  // as `value(i)` for i in [0, count). Every channel gets the same runs.
  template <typename Value>
  void add_values(std::size_t channel, std::int64_t first, std::int64_t count, Value value) {
    add_runs(channel, first, count, [&](std::int64_t i, std::int64_t run, double& low, double& high) {
      for (std::int64_t k = 0; k < run; ++k) {
        const double v = value(i + k);
        if (!(v - v == 0)) continue;  // NaN and the infinities
        if (!(v >= low)) low = v;     // also when low is still NaN
        if (!(v <= high)) high = v;
      }
    });
  }
  // Records that `count` more samples were read.
  void add_samples(std::int64_t count) { m_out.samples += count; }
  // Gives every channel a value pair for every bucket (NaN where it got no
  // values at all, as a channel outside a record's layout does).
  void finish();

  // Splits the samples [first, first + count) of the window into runs that
  // lie in one bucket each; `extremes(i, run, low, high)` sets the smallest
  // and largest value of the run from sample i (left NaN when it has no
  // finite one), and they join their bucket.
  template <typename Extremes>
  void add_runs(std::size_t channel, std::int64_t first, std::int64_t count, Extremes extremes) {
    add_group_runs(&channel, 1, first, count,
                   [&](std::int64_t i, std::int64_t run, double* low, double* high) {
                     extremes(i, run, low[0], high[0]);
                   });
  }
  // The same for up to kMostInGroup channels at once, so that a record's
  // samples of all of them are read together: `extremes(i, run, low, high)`
  // sets low[k] and high[k] for channel channels[k], k < size.
  static constexpr std::size_t kMostInGroup = 8;
  template <typename Extremes>
  void add_group_runs(const std::size_t* channels, std::size_t size, std::int64_t first, std::int64_t count,
                      Extremes extremes) {
    for (std::int64_t i = 0; i < count;) {
      const std::int64_t sample = first + i;
      const std::int64_t bucket = sample / m_step;
      const std::int64_t run = std::min(count - i, (bucket + 1) * m_step - sample);
      double low[kMostInGroup];
      double high[kMostInGroup];
      std::fill(low, low + kMostInGroup, kNaN);
      std::fill(high, high + kMostInGroup, kNaN);
      extremes(i, run, low, high);
      for (std::size_t k = 0; k < size; ++k) join(m_out.channels[channels[k]], bucket, low[k], high[k]);
      i += run;
    }
  }

 private:
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  // A run's extremes join its bucket.
  static void join(Buckets::Channel& series, std::int64_t bucket, double low, double high) {
    if (static_cast<std::size_t>(bucket) == series.min.size()) {
      series.min.push_back(low);
      series.max.push_back(high);
      return;
    }
    // A run without a finite value (NaN) changes nothing; a bucket still
    // without one (NaN) takes whatever the run found.
    double& min = series.min.back();
    double& max = series.max.back();
    if (low == low && !(low >= min)) min = low;
    if (high == high && !(high <= max)) max = high;
  }
  std::int64_t bucket_start_at_or_after(std::int64_t sample) const {
    return (sample + m_step - 1) / m_step * m_step;
  }

  Buckets& m_out;
  std::int64_t m_step;
};

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_BUCKET_BUILDER_H_
