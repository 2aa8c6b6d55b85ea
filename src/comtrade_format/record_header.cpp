// The time axis the rate lines give.
#include "comtrade_format/record_header.h"

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;

}  // namespace

bool rates_give_time(const std::vector<SampleRate>& rates) {
  if (rates.empty()) return false;
  for (const SampleRate& rate : rates) {
    if (!rate.rate || !(*rate.rate > 0)) return false;
  }
  return true;
}

std::optional<double> sample_offset_us(const std::vector<SampleRate>& rates, std::int64_t index) {
  if (!rates_give_time(rates) || index < 0) return std::nullopt;
  return RateClock(rates).offset_us(index);
}

double RateClock::offset_us(std::int64_t index) {
  // A segment is summed whole once a sample past its last one is asked for;
  // a segment without a last sample number, or the last segment, takes
  // every remaining sample. A last number below the samples already summed
  // adds nothing.
  while (m_segment + 1 < m_rates.size() && m_rates[m_segment].last && *m_rates[m_segment].last < index) {
    const std::int64_t end = *m_rates[m_segment].last;
    if (end > m_counted) {
      m_offset += static_cast<double>(end - m_counted) * kMicrosecondsPerSecond / *m_rates[m_segment].rate;
      m_counted = end;
    }
    ++m_segment;
  }
  if (index <= m_counted) return m_offset;
  return m_offset + static_cast<double>(index - m_counted) * kMicrosecondsPerSecond / *m_rates[m_segment].rate;
}
