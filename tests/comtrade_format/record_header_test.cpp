// The time axis of the rate lines: asked sample by sample in rising order,
// as the waveform asks its buckets, it must give what a fresh walk over the
// segments gives for each sample alone, to the bit, for every shape of rate
// table a .cfg can hold.
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "comtrade_format/record_header.h"

namespace {

// Sample n's offset summed sample by sample: each sample before it takes
// 1/rate of the first segment whose last sample number reaches it (a
// segment without one, and the last segment, take all that remain).
double summed_offset_us(const std::vector<SampleRate>& rates, std::int64_t index) {
  double offset = 0;
  std::size_t segment = 0;
  for (std::int64_t n = 1; n <= index; ++n) {
    while (segment + 1 < rates.size() && rates[segment].last && *rates[segment].last < n) ++segment;
    offset += 1e6 / *rates[segment].rate;
  }
  return offset;
}

TEST(RateClockTest, GivesEachSampleTheTimeOfAFreshWalkInOnePass) {
  const std::vector<std::vector<SampleRate>> tables = {
      {{1000.0, 50}},
      {{1000.0, 10}, {500.0, 20}},
      {{4000.0, 7}, {1200.0, 7}, {3.0, 9}, {100000.0, 400}},  // an empty segment
      {{4000.0, 30}, {1200.0, 12}, {50.0, 60}},               // a last number that goes back
      {{960.0, std::nullopt}, {50.0, 80}},                    // no last number: takes the rest
      {{1e308, 5}, {1e-308, 10}},                             // a time that overflows
  };
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const std::vector<SampleRate>& rates = tables[t];
    for (std::int64_t step : {1, 3, 7}) {
      RateClock clock(rates);
      for (std::int64_t index = 0; index < 90; index += step) {
        const double walked = *sample_offset_us(rates, index);
        const double clocked = clock.offset_us(index);
        EXPECT_TRUE(walked == clocked || (std::isnan(walked) && std::isnan(clocked)))
            << "table " << t << " step " << step << " sample " << index;
        if (std::isfinite(walked)) {
          EXPECT_NEAR(summed_offset_us(rates, index), walked, 1e-9 * (1 + walked)) << t << " " << index;
        }
      }
    }
  }
  EXPECT_FALSE(sample_offset_us({{0.0, 10}}, 3));
  EXPECT_FALSE(sample_offset_us({{1000.0, 10}}, -1));
}

}  // namespace
