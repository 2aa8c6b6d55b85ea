// The data section of a slice of a record: the samples of a window and of
// the selected channels, renumbered from 1, their time stamps kept, in the
// record's own form, ASCII fields copied as written and binary samples as
// their raw bytes, so that nothing is rounded. Internal to this module.
#ifndef COMTRADE_FORMAT_SLICE_DATA_H_
#define COMTRADE_FORMAT_SLICE_DATA_H_

#include <cstdint>
#include <string>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// Append the slice's data to `out`; return the samples written, or -1 when
// the data cannot be opened.
std::int64_t write_binary_slice(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                                const SampleWindow& window, std::string& out);
std::int64_t write_ascii_slice(const cmtr_cfg_info& cfg, const DataSection& section, const SampleWindow& window,
                               std::string& out);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_SLICE_DATA_H_
