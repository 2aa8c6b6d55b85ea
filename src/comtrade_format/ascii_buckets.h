// Min/max buckets of an ASCII data section: the reading behind a waveform
// of an ASCII record. Internal to this module.
#ifndef COMTRADE_FORMAT_ASCII_BUCKETS_H_
#define COMTRADE_FORMAT_ASCII_BUCKETS_H_

#include <cstdint>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// The buckets of `step` samples over `window` of the selected channels (the
// loadBuckets of ComTrade_format for ASCII records).
int load_ascii_buckets(const cmtr_cfg_info& cfg, const DataSection& section,
                       const SampleWindow& window, std::int64_t step, Buckets& out);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_ASCII_BUCKETS_H_
