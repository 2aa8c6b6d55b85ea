// Where every kMarkLines-th sample line of an ASCII data section starts,
// remembered across requests, so that a window late in a large record is
// reached without walking every line before it. Only positions are kept,
// never samples. Internal to the ASCII data readers.
#ifndef COMTRADE_FORMAT_LINE_MARKS_H_
#define COMTRADE_FORMAT_LINE_MARKS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "comtrade_format/data_section.h"
#include "platform/platform.h"

namespace comtrade_detail {

// A mark every this many sample lines: walking on from one to a window's
// start reads about a hundred kilobytes of a usual record, and the marks of
// a million lines take eight.
constexpr std::int64_t kMarkLines = 1024;

// The data whose lines were marked: which lines are samples depends on the
// file's bytes, where its section starts, and how long a sample line of its
// configuration may be. A file is taken for the same while its stamp is:
// every write moves its change time, which cannot be set back.
struct MarkedData {
  std::string path;
  std::uint64_t section_offset = 0;
  std::int64_t longest_line = 0;
  bool ends_at_section_line = false;
  platform::FileStamp stamp{};
};

// Sample line `line` starts `byte` bytes after the section's start.
struct LineMark {
  std::int64_t line = 0;
  std::uint64_t byte = 0;
};

// The latest mark known for `data` at or before sample line `line`; the
// section's start when none is.
LineMark mark_before(const MarkedData& data, std::int64_t line);
// Forgets the marks of `data`: one of them did not fall on a line start.
void forget_marks(const MarkedData& data);

// Notes the marks a walk passes, from `start` on, and hands them to the
// store when the walk is kept.
class MarkRecorder {
 public:
  MarkRecorder(MarkedData data, LineMark start);
  // A sample line starting `byte` bytes after the section's start; called
  // for every sample line in order.
  void pass(std::uint64_t byte) {
    if (m_until_next == 0) {
      m_bytes.push_back(byte);
      m_until_next = kMarkLines;
    }
    --m_until_next;
  }
  // Adds the marks noted to those known: the walk read its lines to the end
  // it wanted without failing.
  void keep();

 private:
  MarkedData m_data;
  std::int64_t m_first_mark;  // the index of m_bytes[0]
  std::int64_t m_until_next;  // lines to pass before the next mark
  std::vector<std::uint64_t> m_bytes;
};

class BlockFile;

// Moves the start of `file`, just opened on `section`, to the last mark
// known before sample line `from`, and readies `marks` to note the marks of
// the lines the walk then passes. Returns the mark it starts at (the
// section's start when none is known or the file's version cannot be told).
LineMark start_at_mark(BlockFile& file, const DataSection& section, std::int64_t longest_line, std::int64_t from,
                       std::optional<MarkRecorder>& marks);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_LINE_MARKS_H_
