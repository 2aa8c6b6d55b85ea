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

// Microseconds of a .cfg time stamp "dd/mm/yyyy,hh:mm:ss.ffffff" (month
// first when `month_first`, as 1991 files write it) from an arbitrary day;
// nullopt when the text is not one. Writers mix the two orders up, so a
// "month" above 12 is taken as the day. Only differences are meaningful.
std::optional<double> stamp_us(const std::string& text, bool month_first);

// `us` of stamp_us as the 2013 form "dd/mm/yyyy,hh:mm:ss.ffffff".
std::string format_stamp(double us);

// The trigger time after the record's start time, in microseconds; nullopt
// when either does not parse.
std::optional<double> trigger_offset_us(const ComTrade_format& record);

#endif  // EXTENSIONS_TIME_AXIS_H_
