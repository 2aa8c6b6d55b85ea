// Gathering the samples of cycles from the runs of a sample load.
#include "extensions/cycle_samples.h"

#include <algorithm>
#include <utility>

CycleSamples::CycleSamples(std::vector<CycleSpan> spans, Visit visit)
    : m_spans(std::move(spans)), m_visit(std::move(visit)) {}

std::vector<SampleWindow> CycleSamples::windows() const {
  std::vector<SampleWindow> windows;
  for (const CycleSpan& span : m_spans) {
    if (!windows.empty() && span.first <= windows.back().to) {
      windows.back().to = std::max(windows.back().to, span.end + 1);
    } else {
      windows.push_back(SampleWindow{span.first, span.end + 1});
    }
  }
  return windows;
}

void CycleSamples::take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
                        const double*) {
  m_width = width;
  const std::int64_t kept = width > 0 ? static_cast<std::int64_t>(m_rows.size() / width) : 0;
  // A run that does not follow the rows kept starts a window of its own.
  if (first != m_base + kept) {
    m_rows.clear();
    m_base = first;
  }
  m_rows.insert(m_rows.end(), values, values + static_cast<std::size_t>(count) * width);
  const std::int64_t last = first + count - 1;
  for (; m_next < m_spans.size() && m_spans[m_next].end <= last; ++m_next) {
    const CycleSpan& span = m_spans[m_next];
    // A span whose first samples were never read (the file ended early, or
    // they were not in a window) has nothing to give.
    if (span.first < m_base) continue;
    m_visit(span, m_rows.data() + static_cast<std::size_t>(span.first - m_base) * width, width);
  }
  // Only what the next span still needs stays.
  const std::int64_t keep_from = m_next < m_spans.size() ? m_spans[m_next].first : last + 1;
  if (keep_from > m_base) {
    const std::int64_t drop = std::min<std::int64_t>(keep_from - m_base, last + 1 - m_base);
    m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(drop) * width));
    m_base += drop;
  }
}
