// The samples of a long ASCII walk over windows in two lanes: the data cut
// at a line end, each part walked and parsed on a core of its own. A line's
// sample is its place among the sample lines, which the second lane cannot
// count; it takes it from the sample number its first line carries, holds
// what it parses, and the first lane's count says whether that was right:
// when it was, the held samples follow the first lane's, and when not, the
// second part is walked again, numbered from the count. Internal to the
// ASCII data readers.
#ifndef COMTRADE_FORMAT_ASCII_SAMPLE_LANES_H_
#define COMTRADE_FORMAT_ASCII_SAMPLE_LANES_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/ascii_sample_run.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/sample_sink.h"
#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// A walk over less data than this stays in one lane: a second one costs a
// thread and, when the numbers of the lines are not their places, a second
// walk over its part.
constexpr std::uint64_t kTwoLanesFromBytes = 16 * 1024 * 1024;

// Where the second lane starts (bytes after the section's start, just past
// a line end), so that the lanes have about the same work; none when the
// walk up to sample `to` is shorter than `two_lanes_from` bytes or the
// second lane would hold too many samples.
std::optional<std::uint64_t> lane_split(const cmtr_cfg_info& cfg, const DataSection& section,
                                        const std::vector<SampleWindow>& windows, std::int64_t to,
                                        std::uint64_t two_lanes_from);

// Walks one part of the data (walk_numbered's `first` and `report`),
// parsing into the run what the load wants of it.
using PartWalk = std::function<WalkedLines(BlockFile& file, std::int64_t first, SampleRun& run,
                                           LongLineReport report)>;

// Hands what `walk` parses up to sample `to` to `sink`, in order: in two
// lanes where lane_split (over `windows`) finds a cut and a second thread
// can be had, otherwise in `file`, open at the data's start.
void load_by_walk(const cmtr_cfg_info& cfg, const DataSection& section, BlockFile& file,
                  const std::vector<SampleWindow>& windows, std::int64_t to, std::uint64_t two_lanes_from,
                  SampleSink& sink, const PartWalk& walk);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_ASCII_SAMPLE_LANES_H_
