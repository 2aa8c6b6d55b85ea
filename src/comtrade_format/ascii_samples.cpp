// The samples of an ASCII data section over windows: one walk over the
// lines up to the last window's end, only the lines inside a window parsed;
// and the lines whose status fields differ from the line before.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/ascii_sample_lanes.h"
#include "comtrade_format/ascii_sample_run.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/window_samples.h"
#include "comtrade_format/working_lists.h"

namespace comtrade_detail {

namespace {

// Where the status fields of a sample line start: after comma `commas`
// (2 + the analog count), or null when the line has fewer.
const char* status_text(const char* begin, const char* end, std::int64_t commas) {
  CommaCursor cursor(begin, end);
  const char* comma = end;
  for (std::int64_t k = 0; k < commas; ++k) {
    comma = cursor.next();
    if (comma == end) return nullptr;
  }
  return comma + 1;
}

// Whether the line's status fields are `text` to the byte: the line ends
// with ",<text>" and that comma is comma number `commas`.
bool same_status_text(const char* begin, const char* end, const std::string& text, std::int64_t commas) {
  const std::ptrdiff_t size = static_cast<std::ptrdiff_t>(text.size());
  if (end - begin <= size) return false;
  const char* comma = end - size - 1;
  return *comma == ',' && std::memcmp(comma + 1, text.data(), text.size()) == 0 &&
         count_commas(begin, comma) == commas - 1;
}

}  // namespace

int load_ascii_samples(const cmtr_cfg_info& cfg, const DataSection& section,
                       const std::vector<SampleWindow>& windows, SampleSink& sink,
                       std::uint64_t two_lanes_from) {
  BlockFile file;
  if (!file.open(section.path, section.offset)) return 1;
  if (windows.empty()) return 0;
  const std::int64_t to = std::min<std::int64_t>(windows.back().to, cfg.samp_count);
  if (to <= 0) return 0;
  const PartWalk walk = [&](BlockFile& part, std::int64_t first, SampleRun& run, LongLineReport report) {
    return walk_windows(part, cfg, section, windows, first, to, run, report);
  };
  load_by_walk(cfg, section, file, windows, to, two_lanes_from, sink, walk);
  return 0;
}

int load_ascii_changes(const cmtr_cfg_info& cfg, const DataSection& section, const SampleWindow& window,
                       SampleSink& sink, std::uint64_t two_lanes_from) {
  BlockFile file;
  if (!file.open(section.path, section.offset)) return 1;
  const std::int64_t from = std::max<std::int64_t>(window.from, 0);
  const std::int64_t to = std::min<std::int64_t>(window.to, cfg.samp_count);
  if (from >= to) return 0;
  // States follow from the status fields' text alone, so a line whose
  // status text is the last parsed line's, byte for byte, changes nothing
  // and is passed without parsing: nearly every line of a long record. A
  // part's first line is parsed whatever the line before it.
  const std::int64_t status_commas = 2 + std::max<std::int64_t>(cfg.ai_num, 0);
  const PartWalk walk = [&](BlockFile& part, std::int64_t first, SampleRun& run, LongLineReport report) {
    std::string last_text;
    bool have_text = false;
    return walk_numbered(part, cfg, section, first, to, report,
                         [&](std::int64_t line, const char* begin, const char* end) {
                           if (line < from || (have_text && same_status_text(begin, end, last_text, status_commas))) {
                             return;
                           }
                           run.parse(line, begin, end);
                           const char* text = status_text(begin, end, status_commas);
                           have_text = text != nullptr;
                           if (have_text) last_text.assign(text, end);
                         });
  };
  load_by_walk(cfg, section, file, {}, to, two_lanes_from, sink, walk);
  return 0;
}

}  // namespace comtrade_detail
