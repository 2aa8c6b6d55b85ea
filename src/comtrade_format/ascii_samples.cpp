// The samples of an ASCII data section over windows: one walk over the
// lines up to the last window's end, only the lines inside a window parsed.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/window_samples.h"
#include "comtrade_format/working_lists.h"

namespace comtrade_detail {

namespace {

// Collects parsed lines into a run and hands it on when it is full or the
// lines stop being consecutive.
class SampleRun {
 public:
  SampleRun(const cmtr_cfg_info& cfg, SampleSink& sink)
      : m_locator(cfg), m_sink(sink), m_analog_selected(cfg.sel_ai_num), m_width(cfg.sel_list.size()),
        m_values(static_cast<std::size_t>(kColumnLines) * m_width, std::numeric_limits<double>::quiet_NaN()),
        m_stamps(kColumnLines) {}

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
    m_stamps[static_cast<std::size_t>(m_count)] = line_stamp(p, end);
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
  std::int64_t m_first = 0;
  std::int64_t m_count = 0;
};

}  // namespace

int load_ascii_samples(const cmtr_cfg_info& cfg, const DataSection& section,
                       const std::vector<SampleWindow>& windows, SampleSink& sink) {
  BlockFile file;
  if (!file.open(section.path, section.offset)) return 1;
  if (windows.empty()) return 0;
  const std::int64_t to = std::min<std::int64_t>(windows.back().to, cfg.samp_count);
  if (to <= 0) return 0;
  // Only worth the second thread when the walk is long.
  file.read_ahead(bytes_after(section));
  SampleRun run(cfg, sink);
  std::size_t next = 0;  // the first window not yet passed
  std::int64_t line = 0;
  walk_sample_lines(file, section.ends_at_section_line, longest_sample_line(cfg),
                    [&](const char* begin, const char* end) {
                      while (next < windows.size() && windows[next].to <= line) ++next;
                      if (next < windows.size() && windows[next].from <= line) run.parse(line, begin, end);
                      return ++line < to;
                    });
  run.flush();
  return 0;
}

}  // namespace comtrade_detail
