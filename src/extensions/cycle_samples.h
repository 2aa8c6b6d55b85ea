// The samples of chosen cycles, gathered from a sample load: each cycle is
// handed on whole as soon as its last sample has been read, and only the
// samples a later cycle still needs are kept.
#ifndef EXTENSIONS_CYCLE_SAMPLES_H_
#define EXTENSIONS_CYCLE_SAMPLES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "comtrade_format/sample_sink.h"
#include "comtrade_format/sample_window.h"

// Samples [first, end] of one cycle; `point` says whose it is.
struct CycleSpan {
  std::int64_t first;
  std::int64_t end;
  std::size_t point;
};

class CycleSamples : public SampleSink {
 public:
  // `rows` holds the cycle's samples, rows[k * width + slot] for its k-th.
  using Visit = std::function<void(const CycleSpan& span, const double* rows, std::size_t width)>;

  // `spans` in rising order of both ends.
  CycleSamples(std::vector<CycleSpan> spans, Visit visit);

  // The windows to load: the spans, overlapping ones joined.
  std::vector<SampleWindow> windows() const;

  void take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
            const double* stamps) override;
  // Cycles are timed by the record's rates alone.
  bool wants_stamps() const override { return false; }

 private:
  std::vector<CycleSpan> m_spans;
  Visit m_visit;
  std::size_t m_next = 0;     // the first span not yet handed on
  std::int64_t m_base = 0;    // the sample of the first row kept
  std::vector<double> m_rows;
  std::size_t m_width = 0;
};

#endif  // EXTENSIONS_CYCLE_SAMPLES_H_
