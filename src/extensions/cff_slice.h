// A window and a channel subset of a record as a combined 2013 .cff that
// any reader opens: the configuration of the slice and its data section.
#ifndef EXTENSIONS_CFF_SLICE_H_
#define EXTENSIONS_CFF_SLICE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comtrade_format/comtrade_format.h"
#include "restfulserver/answer.h"

// The .cff of samples [from, to) of the channels selected in `record` (read
// with every channel field): the channel lines as read, renumbered from 1;
// the rates cut to the window; the start moved to the window's first sample
// (for records timed by their rates); the trigger kept; the source's file
// type; then the samples, renumbered with their time stamps kept, copied
// without rounding. The parts: the sections before the data, and the data.
// Empty when the data cannot be read.
std::vector<SharedText> cff_slice(ComTrade_format& record, std::int64_t from, std::int64_t to);

#endif  // EXTENSIONS_CFF_SLICE_H_
