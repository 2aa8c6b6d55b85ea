// Cycles of the line frequency in a record's samples, and what one cycle's
// samples give: the phasor of the fundamental or of a harmonic, and the true
// RMS. The arithmetic of the analysis queries, free of requests and files.
#ifndef EXTENSIONS_LINE_CYCLES_H_
#define EXTENSIONS_LINE_CYCLES_H_

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "comtrade_format/record_header.h"

// The cycle that ends at a sample.
struct Cycle {
  // Samples in one cycle at the rate of the segment holding the end,
  // round(rate / f); 0 when the rates give no time.
  int samples = 0;
  // Whether its samples may be used: at least 4 of them, the first no
  // earlier than sample 0, all in the end's rate segment.
  bool whole = false;
  std::int64_t first = 0;    // its first sample
  double end_us = 0;         // time of its last sample after the record's first
  double step_us = 0;        // time between two of its samples
  bool approximate = false;  // rate / f more than 1% from `samples`
};

// Finds the cycles that end at samples asked for in rising order, in one
// pass over the rate segments (a .cfg may hold thousands of them).
class CycleFinder {
 public:
  // `rates` must outlive the finder; `frequency` is positive.
  CycleFinder(const std::vector<SampleRate>& rates, double frequency);
  // The cycle ending at sample `end` (from 0), no smaller than any asked
  // before.
  Cycle ending_at(std::int64_t end);

 private:
  const std::vector<SampleRate>& m_rates;
  double m_frequency;
  bool m_timed;
  RateClock m_clock;
  std::size_t m_segment = 0;
  std::int64_t m_segment_first = 0;  // the first sample of m_segment
};

// The phasors (√2 / N) · Σ x_k · exp(-j·2π·h·f·(t_k + skew_c)) of `channels`
// channels over one cycle of N = `count` samples taken at t_k = first_s +
// k · step_s seconds, x_k of channel c being rows[k * width + slots[c]]: for
// x = A·√2·cos(2π·f·t + φ) and h = 1 the magnitude is A and the angle φ.
// The channels share the cycle's exp(-j·ω·t_k), so one of them costs a
// multiply-add a sample. With `rms`, rms[c] is channel c's cycle_rms, taken
// in the same pass.
void cycle_phasors(const double* rows, std::size_t width, const std::size_t* slots, const double* skews_s,
                   std::size_t channels, int count, double first_s, double step_s, double frequency, int harmonic,
                   std::complex<double>* out, double* rms = nullptr);

// The same for one series of values[k * stride] without skew.
std::complex<double> cycle_phasor(const double* values, std::size_t stride, int count, double first_s,
                                  double step_s, double frequency, int harmonic);

// The root of the mean square of the same values.
double cycle_rms(const double* values, std::size_t stride, int count);

// The angle of `z` in degrees, in (-180, 180].
double angle_degrees(std::complex<double> z);

#endif  // EXTENSIONS_LINE_CYCLES_H_
