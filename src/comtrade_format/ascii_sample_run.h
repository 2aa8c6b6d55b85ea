// The run in which the ASCII loads collect parsed sample lines, and the walk
// over the lines of a part of the data that parses those inside windows.
// Internal to the ASCII data readers.
#ifndef COMTRADE_FORMAT_ASCII_SAMPLE_RUN_H_
#define COMTRADE_FORMAT_ASCII_SAMPLE_RUN_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/sample_sink.h"
#include "comtrade_format/sample_window.h"

namespace comtrade_detail {

// Collects parsed lines into a run and hands it on when it is full or the
// lines stop being consecutive.
class SampleRun {
 public:
  SampleRun(const cmtr_cfg_info& cfg, SampleSink& sink)
      : m_locator(cfg), m_sink(sink), m_analog_selected(cfg.sel_ai_num), m_width(cfg.sel_list.size()),
        m_values(static_cast<std::size_t>(kColumnLines) * m_width, std::numeric_limits<double>::quiet_NaN()),
        m_stamps(kColumnLines), m_wants_stamps(sink.wants_stamps()) {}

  void parse(std::int64_t line, const char* p, const char* end) {
    if (m_count > 0 && line != m_first + m_count) flush();
    if (m_count == 0) m_first = line;
    m_locator.locate(p, end);
    const std::vector<SelectedField>& fields = m_locator.fields();
    double* row = m_values.data() + static_cast<std::size_t>(m_count) * m_width;
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const SelectedField& field = fields[k];
      const std::int32_t sample = parse_sample(m_locator.begin(k), m_locator.end(k));
      if (field.analog) {
        row[field.slot] = static_cast<double>(sample) * field.factor_a + field.factor_b;
      } else {
        row[static_cast<std::size_t>(m_analog_selected + field.slot)] = sample != 0 ? 1.0 : 0.0;
      }
    }
    m_stamps[static_cast<std::size_t>(m_count)] =
        m_wants_stamps ? line_stamp(p, end) : std::numeric_limits<double>::quiet_NaN();
    if (++m_count == kColumnLines) flush();
  }

  void flush() {
    if (m_count > 0) m_sink.take(m_first, m_count, m_width, m_values.data(), m_stamps.data());
    m_count = 0;
  }

 private:
  FieldLocator m_locator;
  SampleSink& m_sink;
  int m_analog_selected;
  std::size_t m_width;
  std::vector<double> m_values;
  std::vector<double> m_stamps;
  bool m_wants_stamps;
  std::int64_t m_first = 0;
  std::int64_t m_count = 0;
};

// What a walk over part of the data found: its sample lines, whether it
// stopped before the part's end (sample `to` reached, or a section line),
// and the sample of its first line (-1 when it met none).
struct WalkedLines {
  std::int64_t lines = 0;
  bool stopped = false;
  std::int64_t first_place = -1;
};

// The place among the sample lines that a line's sample number (its first
// field, from 1) gives it.
inline std::int64_t place_by_number(const char* begin, const char* end) {
  const void* comma = std::memchr(begin, ',', static_cast<std::size_t>(end - begin));
  return std::max<std::int64_t>(parse_sample(begin, comma ? static_cast<const char*>(comma) : end), 1) - 1;
}

// Walks the sample lines of `file` as samples `first`, `first` + 1, ...
// (`first` < 0: from the place the first line's number gives), calling
// `visit(sample, begin, end)` for each until sample `to`.
template <typename Visit>
inline WalkedLines walk_numbered(BlockFile& file, const cmtr_cfg_info& cfg, const DataSection& section,
                                 std::int64_t first, std::int64_t to, LongLineReport report, Visit visit) {
  WalkedLines walked;
  if (first >= to) {
    walked.stopped = true;
    return walked;
  }
  std::int64_t line = first;
  walked.stopped = walk_sample_lines(file, section.ends_at_section_line, longest_sample_line(cfg),
                                     [&](const char* begin, const char* end) {
                                       if (line < 0) line = place_by_number(begin, end);
                                       if (walked.first_place < 0) walked.first_place = line;
                                       ++walked.lines;
                                       visit(line, begin, end);
                                       return ++line < to;
                                     },
                                     report);
  return walked;
}

// The same, parsing into `run` the lines inside `windows` (in rising order).
inline WalkedLines walk_windows(BlockFile& file, const cmtr_cfg_info& cfg, const DataSection& section,
                                const std::vector<SampleWindow>& windows, std::int64_t first, std::int64_t to,
                                SampleRun& run, LongLineReport report = {}) {
  std::size_t next = 0;  // the first window not yet passed
  return walk_numbered(file, cfg, section, first, to, report,
                       [&](std::int64_t line, const char* begin, const char* end) {
                         while (next < windows.size() && windows[next].to <= line) ++next;
                         if (next < windows.size() && windows[next].from <= line) run.parse(line, begin, end);
                       });
}

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_ASCII_SAMPLE_RUN_H_
