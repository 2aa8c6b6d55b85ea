// When each sample of a record was taken, in microseconds after its first
// sample: by the rate lines, or, for records sampled at rate 0, by the data
// file's time stamps times the time multiplier.
#ifndef EXTENSIONS_TIME_AXIS_H_
#define EXTENSIONS_TIME_AXIS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "comtrade_format/comtrade_format.h"

// The time of the first sample of each bucket of `buckets`, read from
// `record` over a window starting at sample `from` in buckets of `step`;
// nullopt where the data file leaves a time stamp out.
std::vector<std::optional<double>> bucket_times_us(const ComTrade_format& record, const Buckets& buckets,
                                                   std::int64_t from, std::int64_t step);

// The time of the record's last sample; nullopt when it has no sample or its
// time is unknown. Reads the data file for records sampled at rate 0.
std::optional<double> last_sample_offset_us(ComTrade_format& record);

// A .cfg time stamp "dd/mm/yyyy,hh:mm:ss.ffffff" read exactly: its day,
// counted from 1970-01-01, the nanoseconds into it, and how many fraction
// digits it was written with (2013 records may give nanoseconds). Kept in
// whole numbers: microseconds counted in a double from a day centuries away
// lose their last digits.
struct Stamp {
  std::int64_t day = 0;
  std::int64_t ns = 0;
  int fraction_digits = 0;
};

// The stamp of `text` (month first when `month_first`, as 1991 files write
// it); nullopt when the text is not wholly one. Writers mix the two orders
// up, so a "month" above 12 is taken as the day; a year of one or two digits
// is 1969-2068, as 1991 files meant it.
std::optional<Stamp> read_stamp(const std::string& text, bool month_first);

// Whether the record's stamps are written month first: 1991 files, and those
// that name no revision, do.
bool stamps_month_first(const RecordHeader& header);

// Microseconds from `from` to `to`.
double stamp_difference_us(const Stamp& from, const Stamp& to);

// `stamp` moved by `us`, in the 2013 form "dd/mm/yyyy,hh:mm:ss.ffffff", with
// nine fraction digits when it was written with more than six.
std::string format_stamp(const Stamp& stamp, double us);

// The trigger time after the record's start time, in microseconds; nullopt
// when either does not parse.
std::optional<double> trigger_offset_us(const ComTrade_format& record);

#endif  // EXTENSIONS_TIME_AXIS_H_
