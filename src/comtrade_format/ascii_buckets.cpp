// Min/max buckets over a window of an ASCII data section: every line up to
// the window's end is walked, those before it counted, not parsed.
#include "comtrade_format/ascii_buckets.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "comtrade_format/ascii_fields.h"
#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/block_file.h"
#include "comtrade_format/bucket_builder.h"
#include "comtrade_format/working_lists.h"

namespace comtrade_detail {

namespace {

// Adds each line's values to min/max buckets, a column of lines at a time.
class AsciiBucketParser {
 public:
  AsciiBucketParser(const cmtr_cfg_info& cfg, BucketBuilder& buckets)
      : m_locator(cfg), m_buckets(buckets), m_analog_selected(cfg.sel_ai_num),
        m_columns(m_locator.size(), std::vector<double>(kColumnLines)), m_stamps(kColumnLines) {}

  void parse(const char* p, const char* end) {
    m_locator.locate(p, end);
    const std::vector<SelectedField>& fields = m_locator.fields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const SelectedField& field = fields[k];
      const std::int32_t sample = parse_sample(m_locator.begin(k), m_locator.end(k));
      m_columns[k][m_buffered] = field.analog ? static_cast<double>(sample) * field.factor_a + field.factor_b
                                              : (sample != 0 ? 1.0 : 0.0);
    }
    m_stamps[m_buffered] = line_stamp(p, end);
    if (++m_buffered == kColumnLines) flush();
  }

  void flush() {
    if (m_buffered == 0) return;
    const std::vector<double>& stamps = m_stamps;
    m_buckets.add_stamps(m_done, m_buffered, [&](std::int64_t i) { return stamps[i]; });
    const std::vector<SelectedField>& fields = m_locator.fields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const std::vector<double>& column = m_columns[k];
      const std::size_t channel =
          fields[k].analog ? static_cast<std::size_t>(fields[k].slot)
                           : static_cast<std::size_t>(m_analog_selected + fields[k].slot);
      m_buckets.add_values(channel, m_done, m_buffered, [&](std::int64_t i) { return column[i]; });
    }
    m_buckets.add_samples(m_buffered);
    m_done += m_buffered;
    m_buffered = 0;
  }

 private:
  FieldLocator m_locator;
  BucketBuilder& m_buckets;
  int m_analog_selected;
  std::vector<std::vector<double>> m_columns;  // per selected field
  std::vector<double> m_stamps;
  std::int64_t m_buffered = 0;
  std::int64_t m_done = 0;
};

}  // namespace


int load_ascii_buckets(const cmtr_cfg_info& cfg, const DataSection& section, const SampleWindow& window,
                       std::int64_t step, Buckets& out) {
  BucketBuilder buckets(out, cfg.sel_list.size(), step);
  BlockFile file;
  if (!file.open(section.path, section.offset)) return 1;
  const std::int64_t to = std::min<std::int64_t>(window.to, cfg.samp_count);
  const std::int64_t from = std::max<std::int64_t>(window.from, 0);
  AsciiBucketParser parser(cfg, buckets);
  if (from < to) {
    // Lines before the window are counted, not parsed.
    walk_lines_from_mark(file, cfg, section, from, [&](std::int64_t line, const char* begin, const char* end) {
      if (line >= from) parser.parse(begin, end);
      return line + 1 < to;
    });
  }
  parser.flush();
  buckets.finish();
  return 0;
}

}  // namespace comtrade_detail
