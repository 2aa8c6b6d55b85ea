// A window of a record's samples and the min/max buckets it is reduced to:
// what a waveform load is asked for and what it gives back.
#ifndef COMTRADE_FORMAT_SAMPLE_WINDOW_H_
#define COMTRADE_FORMAT_SAMPLE_WINDOW_H_

#include <cstdint>
#include <limits>
#include <vector>

// Samples from `from` (0-based) up to `to` (exclusive).
struct SampleWindow {
  std::int64_t from = 0;
  std::int64_t to = std::numeric_limits<std::int64_t>::max();
};

// A window of samples reduced to buckets of `step` consecutive samples: for
// every selected channel the smallest and the largest value of each bucket,
// so a peak one sample wide survives any reduction.
struct Buckets {
  std::int64_t samples = 0;  // samples of the window that were read
  // The data file's time stamp of each bucket's first sample, unscaled; NaN
  // where the file leaves it out.
  std::vector<double> first_stamps;
  struct Channel {
    // Scaled values (status channels 0 and 1); NaN for a bucket without a
    // finite value.
    std::vector<double> min;
    std::vector<double> max;
  };
  // One per entry of sel_list, in its order.
  std::vector<Channel> channels;
};

#endif  // COMTRADE_FORMAT_SAMPLE_WINDOW_H_
