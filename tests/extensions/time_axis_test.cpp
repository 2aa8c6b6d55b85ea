// Time stamps of a .cfg: differences and moved stamps must be exact to the
// digit written, whatever the year.
#include "extensions/time_axis.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(TimeAxisTest, TakesStampDifferencesToTheDigitWritten) {
  const struct {
    const char* from;
    const char* to;
    bool month_first;
    std::optional<double> us;
  } cases[] = {
      {"01/01/2020,23:59:59.900000", "02/01/2020,00:00:00.150000", false, 250000},
      // Two-digit years, month first: counted from year 15 the difference
      // came out 4 us off.
      {"09/17/15,10:52:52.987545", "09/17/15,10:52:53.065045", true, 77500},
      {"31/12/9999,00:00:00.000000", "31/12/9999,00:00:00.000007", false, 7},
      {"01/01/2026,00:00:00.000000000", "01/01/2026,00:00:00.000001500", false, 1.5},
      {"28/02/2000,23:59:59", "01/03/2000, 00:00:00.5\r", false, 86401.5e6},  // over a leap day
      {" 17/09/2015 , 10:52:52.5", "09/17/2015,10:52:52.25", false, -0.25e6},  // a swapped order
      {"01/01/2026,00:00:00", "01/01/2026,00:00:00.0\"1", false, std::nullopt},
      {"01/01/2026,00:00:00", "bogus", false, std::nullopt},
      {"01/13/2026,00:00:00", "01/01/2026,24:00:00", false, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<Stamp> from = read_stamp(c.from, c.month_first);
    const std::optional<Stamp> to = read_stamp(c.to, c.month_first);
    ASSERT_EQ(c.us.has_value(), from && to) << c.from << " " << c.to;
    if (c.us) {
      EXPECT_EQ(*c.us, stamp_difference_us(*from, *to)) << c.from << " " << c.to;
    }
  }
}

TEST(TimeAxisTest, MovesStampsInThe2013FormToTheirOwnPrecision) {
  const struct {
    const char* text;
    bool month_first;
    double moved_us;
    const char* written;
  } cases[] = {
      {"09/17/15,10:52:52.987545", true, 8333.333, "17/09/2015,10:52:52.995878"},
      {"01/02/99,00:00:00.000000", true, 0, "02/01/1999,00:00:00.000000"},
      {"01/01/2026,00:00:00.000001500", false, 0, "01/01/2026,00:00:00.000001500"},
      {"01/01/2026,00:00:00.000001500", false, 0.25, "01/01/2026,00:00:00.000001750"},
      {"31/12/2019,23:59:59.999999", false, 1.4, "01/01/2020,00:00:00.000000"},
      {"28/02/2000,23:59:59.5", false, 1e6, "29/02/2000,00:00:00.500000"},
      {"01/01/9999,00:00:00.001000", false, 0, "01/01/9999,00:00:00.001000"},
      {"01/01/2020,00:00:00.000000", false, 40 * 365.25 * 86400e6 + 3, "01/01/2060,00:00:00.000003"},
  };
  for (const auto& c : cases) {
    const std::optional<Stamp> stamp = read_stamp(c.text, c.month_first);
    ASSERT_TRUE(stamp) << c.text;
    EXPECT_EQ(c.written, format_stamp(*stamp, c.moved_us)) << c.text << " + " << c.moved_us;
  }
}

}  // namespace
