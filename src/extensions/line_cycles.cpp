// Where the line's cycles lie and what their samples give.
#include "extensions/line_cycles.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

CycleFinder::CycleFinder(const std::vector<SampleRate>& rates, double frequency)
    : m_rates(rates), m_frequency(frequency), m_timed(rates_give_time(rates)), m_clock(rates) {}

Cycle CycleFinder::ending_at(std::int64_t end) {
  Cycle cycle;
  if (!m_timed) return cycle;
  // Segment i holds the samples numbered up to its "last" (from 1), so the
  // sample of index `end` belongs to the first segment whose last number is
  // above `end`; the last segment takes every later sample. A last number
  // below the samples already passed adds nothing, as on the time axis.
  while (m_segment + 1 < m_rates.size() && m_rates[m_segment].last && *m_rates[m_segment].last <= end) {
    m_segment_first = std::max(m_segment_first, *m_rates[m_segment].last);
    ++m_segment;
  }
  const double rate = *m_rates[m_segment].rate;
  const double per_cycle = rate / m_frequency;
  const double rounded = std::round(per_cycle);
  cycle.samples = rounded > 0 && rounded < 1e9 ? static_cast<int>(rounded) : 0;
  cycle.approximate = cycle.samples > 0 && std::fabs(per_cycle - rounded) > 0.01 * rounded;
  cycle.first = end - cycle.samples + 1;
  cycle.whole = cycle.samples >= 4 && cycle.first >= 0 && cycle.first >= m_segment_first;
  cycle.end_us = m_clock.offset_us(end);
  cycle.step_us = 1e6 / rate;
  return cycle;
}

void cycle_phasors(const double* rows, std::size_t width, const std::size_t* slots, const double* skews_s,
                   std::size_t channels, int count, double first_s, double step_s, double frequency, int harmonic,
                   std::complex<double>* out, double* rms) {
  const double omega = 2 * kPi * frequency * harmonic;
  // exp(-j·ω·t_k) once for the cycle, as the k-th power of exp(-j·ω·step)
  // from exp(-j·ω·t_0), set again from sin and cos every few samples so
  // that the powers stay exact; a sin and cos a sample would cost most of
  // the query. Plain doubles: complex products check for NaN on every
  // multiplication.
  thread_local std::vector<double> tw_re;
  thread_local std::vector<double> tw_im;
  const std::size_t n = static_cast<std::size_t>(count);
  tw_re.resize(n);
  tw_im.resize(n);
  const double turn_re = std::cos(omega * step_s);
  const double turn_im = -std::sin(omega * step_s);
  double re = 1;
  double im = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (k % 32 == 0) {
      const double phase = omega * (first_s + static_cast<double>(k) * step_s);
      re = std::cos(phase);
      im = -std::sin(phase);
    }
    tw_re[k] = re;
    tw_im[k] = im;
    const double next = re * turn_re - im * turn_im;
    im = re * turn_im + im * turn_re;
    re = next;
  }
  const double scale = std::sqrt(2.0) / count;
  for (std::size_t c = 0; c < channels; ++c) {
    const double* x = rows + slots[c];
    const double* re_k = tw_re.data();
    const double* im_k = tw_im.data();
    double sum_re = 0;
    double sum_im = 0;
    double squares = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const double value = x[k * width];
      sum_re += value * re_k[k];
      sum_im += value * im_k[k];
      squares += value * value;
    }
    if (rms != nullptr) rms[c] = std::sqrt(squares / count);
    // The skew moves every sample of the channel by the same time: one
    // turn of the sum.
    const double skew_phase = -omega * skews_s[c];
    const double skew_re = std::cos(skew_phase);
    const double skew_im = std::sin(skew_phase);
    out[c] = std::complex<double>((sum_re * skew_re - sum_im * skew_im) * scale,
                                  (sum_re * skew_im + sum_im * skew_re) * scale);
  }
}

std::complex<double> cycle_phasor(const double* values, std::size_t stride, int count, double first_s,
                                  double step_s, double frequency, int harmonic) {
  const std::size_t slot = 0;
  const double skew = 0;
  std::complex<double> out;
  cycle_phasors(values, stride, &slot, &skew, 1, count, first_s, step_s, frequency, harmonic, &out);
  return out;
}

double cycle_rms(const double* values, std::size_t stride, int count) {
  double sum = 0;
  for (int k = 0; k < count; ++k) {
    const double x = values[static_cast<std::size_t>(k) * stride];
    sum += x * x;
  }
  return std::sqrt(sum / count);
}

double angle_degrees(std::complex<double> z) {
  const double degrees = std::arg(z) * 180 / kPi;
  return degrees <= -180 ? degrees + 360 : degrees;
}
