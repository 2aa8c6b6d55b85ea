// The fields of a .cfg beyond those the record model keeps: read by the same
// pass of the configuration reader, for the queries that show a record's full
// header and its time axis.
#ifndef COMTRADE_FORMAT_RECORD_HEADER_H_
#define COMTRADE_FORMAT_RECORD_HEADER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One analog channel line beyond index, name, a and b (those stay in the
// model). Texts as written; numbers absent (or not numbers) are nullopt.
struct AnalogHeader {
  std::string phase;    // field 3
  std::string circuit;  // field 4, ccbm
  std::string unit;     // field 5
  std::optional<double> skew;       // field 8, microseconds
  std::optional<double> min;        // field 9, unscaled
  std::optional<double> max;        // field 10, unscaled
  std::optional<double> primary;    // field 11
  std::optional<double> secondary;  // field 12
  std::string ps;                   // field 13, "P" or "S"
  std::string line;                 // the whole line as read, without its end
};

struct DigitalHeader {
  std::string phase;    // field 3
  std::string circuit;  // field 4
  std::string normal;   // field 5, the normal state y, as written
  std::string line;     // the whole line as read, without its end
};

// One sampling-rate line: the rate in Hz and the number of its last sample.
struct SampleRate {
  std::optional<double> rate;
  std::optional<std::int64_t> last;
};

struct RecordHeader {
  std::string station;   // line 1, field 1
  std::string device;    // line 1, field 2
  std::string revision;  // line 1, field 3 (absent in 1991 files)
  std::optional<double> frequency;
  std::vector<SampleRate> rates;
  std::string file_type;  // as written, blanks around it trimmed
  double time_multiplier = 1;
  // Parallel to the model's channel tables: entry i belongs to analogs[i].
  std::vector<AnalogHeader> analogs;
  std::vector<DigitalHeader> digitals;
};

// The offset in microseconds of sample `index` (from 0) from the first sample:
// the sum, over the samples before it, of 1/rate of the rate segment each
// belongs to (segment i holds the samples up to its `last` sample number;
// samples past the last segment take its rate). nullopt when a rate needed is
// missing or not positive: such records carry their time in the data file.
std::optional<double> sample_offset_us(const std::vector<SampleRate>& rates, std::int64_t index);

// Whether the rate lines give every sample a time (no rate 0 or missing).
bool rates_give_time(const std::vector<SampleRate>& rates);

// The offsets of samples asked for in rising order, by the rule of
// sample_offset_us and to the same bit, in one pass over the segments: a
// .cfg may hold 100,000 rate lines, and a waveform asks the time of as many
// buckets, so a walk over the segments per sample would cost their product.
// Only for rates that give time; `rates` must outlive the clock.
class RateClock {
 public:
  explicit RateClock(const std::vector<SampleRate>& rates) : m_rates(rates) {}
  // The offset of sample `index` (from 0), no smaller than any index asked
  // before.
  double offset_us(std::int64_t index);

 private:
  const std::vector<SampleRate>& m_rates;
  std::size_t m_segment = 0;  // the first segment not yet wholly summed
  std::int64_t m_counted = 0;  // samples of the summed segments
  double m_offset = 0;         // their time
};

#endif  // COMTRADE_FORMAT_RECORD_HEADER_H_
