// The samples of the selected channels over a list of windows, for either
// kind of data file: the reading behind the analysis queries. Internal to
// this module.
#ifndef COMTRADE_FORMAT_WINDOW_SAMPLES_H_
#define COMTRADE_FORMAT_WINDOW_SAMPLES_H_

#include <cstdint>
#include <vector>

#include "comtrade_format/ascii_sample_lanes.h"
#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/sample_sink.h"
#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// Windows in rising order that do not overlap. Binary files are read only
// over each window (a seek to its first record); ASCII files are walked up
// to the end of the last window, the lines outside the windows counted, not
// parsed. Return 0 when the data was read, 1 when it cannot be opened.
int load_binary_samples(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const std::vector<SampleWindow>& windows, SampleSink& sink);
// Only the records of `window` whose selected status channels differ from
// the record before, and its first: the analog channels are not handed on.
int load_binary_changes(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const SampleWindow& window, SampleSink& sink);
// A walk over `two_lanes_from` bytes or more goes in two lanes.
int load_ascii_samples(const cmtr_cfg_info& cfg, const DataSection& section,
                       const std::vector<SampleWindow>& windows, SampleSink& sink,
                       std::uint64_t two_lanes_from = kTwoLanesFromBytes);
// The lines of `window` whose status fields differ in text from the line
// before, and its first, all selected channels parsed.
int load_ascii_changes(const cmtr_cfg_info& cfg, const DataSection& section, const SampleWindow& window,
                       SampleSink& sink, std::uint64_t two_lanes_from = kTwoLanesFromBytes);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_WINDOW_SAMPLES_H_
