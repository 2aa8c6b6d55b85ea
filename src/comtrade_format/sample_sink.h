// What a sample load hands on: the scaled samples of the selected channels
// over chosen windows, a run of samples at a time, so that a query reading a
// whole record never holds more than a run of it.
#ifndef COMTRADE_FORMAT_SAMPLE_SINK_H_
#define COMTRADE_FORMAT_SAMPLE_SINK_H_

#include <cstddef>
#include <cstdint>

class SampleSink {
 public:
  virtual ~SampleSink() = default;
  // `count` samples from sample `first` (0-based). values[i * width + slot]
  // is the scaled value of sel_list entry `slot` at sample first + i, width
  // being the size of sel_list: analog values a * x + b, status values 0 or
  // 1, NaN for a channel the record's layout has no place for. stamps[i] is
  // the data file's time stamp, unscaled, NaN where the file leaves it out.
  // Runs arrive in rising sample order.
  virtual void take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
                    const double* stamps) = 0;
  // False when the sink never looks at the stamps: an ASCII load then
  // leaves them NaN instead of converting a field a line.
  virtual bool wants_stamps() const { return true; }
};

#endif  // COMTRADE_FORMAT_SAMPLE_SINK_H_
