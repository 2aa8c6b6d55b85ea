// Min/max buckets of a BINARY, BINARY32 or FLOAT32 data section, read only
// over the window: the reading behind a waveform of such a record. Internal
// to this module.
#ifndef COMTRADE_FORMAT_BINARY_BUCKETS_H_
#define COMTRADE_FORMAT_BINARY_BUCKETS_H_

#include <cstdint>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// The buckets of `step` samples over `window` of the selected channels (the
// loadBuckets of ComTrade_format for the binary file types).
int load_binary_buckets(const cmtr_cfg_info& cfg, int file_type, const DataSection& section,
                        const SampleWindow& window, std::int64_t step, Buckets& out);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_BINARY_BUCKETS_H_
