// The walk over the sample lines of an ASCII data section, block by block,
// that both ASCII loads share: blank and padding lines skipped, lines too
// long to be samples dropped as they are read, a .cff's data ended at the
// next section line. Internal to the ASCII data readers.
#ifndef COMTRADE_FORMAT_ASCII_LINES_H_
#define COMTRADE_FORMAT_ASCII_LINES_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/cff_sections.h"
#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/line_marks.h"

namespace comtrade_detail {

// A sample line of n fields is never longer than this: room for a wide
// fixed-width field per field and the line's own slack. A longer line is not
// a sample, and holding it would let a file without line ends take as much
// memory as its size.
constexpr std::int64_t kLineSlackBytes = 4096;
constexpr std::int64_t kBytesPerField = 64;
constexpr std::int64_t kLongestLineCap = 64 * 1024 * 1024;

// Samples are collected for at least this many lines and then written out
// channel by channel, so that one channel's table stays in the cache while its
// column is written (line by line, every value would visit a different table).
// The buckets of a waveform are collected the same way.
constexpr int kColumnLines = 4096;

// The longest line that can still be a sample line of this record.
inline std::int64_t longest_sample_line(const cmtr_cfg_info& cfg) {
  const std::int64_t fields = 2 + std::max<std::int64_t>(cfg.ai_num, 0) + std::max<std::int64_t>(cfg.di_num, 0);
  return std::min(kLineSlackBytes + kBytesPerField * fields, kLongestLineCap);
}

// Where a walk over part of the data reports a line too long to be a
// sample: its bytes counted from `first_byte`, the data's byte at which the
// walk starts; with `met` set, not on standard output but as *met = true (a
// lane whose report would come out of order).
struct LongLineReport {
  std::uint64_t first_byte = 0;
  bool* met = nullptr;
};

// Calls `take(begin, end)` for every sample line of the data, in file order
// (line ends and a CR before them not included), until `take` returns false
// or the data ends. Blank and padding lines are no samples; neither is a line
// longer than `longest_line`, which is skipped without being held, with one
// line on standard output. In a .cff the data ends at the next section line.
// Returns true when the walk stopped before the file's end: `take` said so
// or a section line ended the data.
template <typename Take>
inline bool walk_lines_of_blocks(BlockFile& file, bool ends_at_section, std::int64_t longest_line, Take take,
                                 LongLineReport report, MarkRecorder* marks) {
  const auto too_long = [&](std::uint64_t at) {
    if (report.met != nullptr) {
      *report.met = true;
      return;
    }
    std::cout << "skip dat line at byte " << at << ": longer than " << longest_line
              << " bytes, so no sample line of this record" << '\n';
  };
  std::uint64_t base = report.first_byte;  // where file.data() starts, in bytes from the data's start
  // False when the data ends with this line.
  const auto one_line = [&](const char* begin, const char* end) {
    if (end - begin > longest_line) {
      too_long(base + static_cast<std::uint64_t>(begin - file.data()));
      return true;
    }
    if (end > begin && end[-1] == '\r') --end;
    if (is_blank_line(begin, end)) return true;
    if (ends_at_section && *begin == '-' &&
        parse_cff_section_line(std::string_view(begin, static_cast<std::size_t>(end - begin)))) {
      return false;
    }
    if (marks != nullptr) marks->pass(base + static_cast<std::uint64_t>(begin - file.data()));
    return take(begin, end);
  };
  const auto find_newline = [](const char* p, const char* end) {
    return static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  };

  bool skipping = false;  // inside a line too long to be a sample
  std::size_t keep = 0;
  std::size_t size = 0;
  for (;;) {
    base += size - keep;
    const bool at_end = file.refill(keep) == 0;
    size = file.size();
    const char* p = file.data();
    const char* const end = p + size;
    if (skipping) {
      const char* newline = find_newline(p, end);
      if (newline == nullptr) {
        if (at_end) return false;
        keep = 0;
        continue;
      }
      p = newline + 1;
      skipping = false;
    }
    LineEnds line_ends(p, end);
    for (const char* newline; (newline = line_ends.next()) != end; p = newline + 1) {
      if (!one_line(p, newline)) return true;
    }
    if (at_end) {
      // The last line may lack its line end.
      return p < end && !one_line(p, end);
    }
    if (end - p > longest_line) {
      // Not a sample, and never to be held whole: dropped as it is read.
      too_long(base + static_cast<std::uint64_t>(p - file.data()));
      skipping = true;
      keep = 0;
      continue;
    }
    keep = static_cast<std::size_t>(end - p);
  }
}
// The walk, with every sample line also passed to `marks` when it is given.
template <typename Take>
inline bool walk_sample_lines(BlockFile& file, bool ends_at_section, std::int64_t longest_line, Take take,
                              LongLineReport report = {}, MarkRecorder* marks = nullptr) {
  const bool stopped = walk_lines_of_blocks(file, ends_at_section, longest_line, take, report, marks);
  file.check_intact();
  return stopped;
}

// The walk for a window that starts at sample `from`: from the last mark
// known before it on, `take(sample, begin, end)` called for every line with
// its place among the sample lines until it returns false; the marks of the
// lines passed are kept for the walks after it.
template <typename Take>
inline void walk_lines_from_mark(BlockFile& file, const cmtr_cfg_info& cfg, const DataSection& section,
                                 std::int64_t from, Take take) {
  const std::int64_t longest_line = longest_sample_line(cfg);
  std::optional<MarkRecorder> marks;
  const LineMark start = start_at_mark(file, section, longest_line, from, marks);
  // What is left of the file as it was opened, past the mark.
  const std::uint64_t size = file.stamp() ? file.stamp()->size : 0;
  file.read_ahead(size - std::min(size, section.offset + start.byte));
  std::int64_t line = start.line;
  walk_sample_lines(
      file, section.ends_at_section_line, longest_line,
      [&](const char* begin, const char* end) { return take(line++, begin, end); }, LongLineReport{start.byte},
      marks ? &*marks : nullptr);
  if (marks) marks->keep();
}

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_ASCII_LINES_H_
