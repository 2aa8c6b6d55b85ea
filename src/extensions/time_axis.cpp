// The time axis of a record.
#include "extensions/time_axis.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace {

std::optional<double> stamp_time(const ComTrade_format& record, double stamp) {
  if (std::isnan(stamp)) return std::nullopt;
  return stamp * record.header().time_multiplier;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// The civil date of a day counted from 1970-01-01 (proleptic Gregorian).
void civil_from_days(std::int64_t days, std::int64_t& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::vector<std::optional<double>> bucket_times_us(const ComTrade_format& record, const Buckets& buckets,
                                                   std::int64_t from, std::int64_t step) {
  const std::vector<SampleRate>& rates = record.header().rates;
  const std::size_t count = buckets.first_stamps.size();
  const bool by_rates = rates_give_time(rates);
  RateClock clock(rates);
  std::vector<std::optional<double>> times;
  times.reserve(count);
  for (std::size_t b = 0; b < count; ++b) {
    if (by_rates) {
      times.push_back(clock.offset_us(from + static_cast<std::int64_t>(b) * step));
    } else {
      times.push_back(stamp_time(record, buckets.first_stamps[b]));
    }
  }
  return times;
}

std::optional<double> last_sample_offset_us(ComTrade_format& record) {
  const std::int64_t samples = record.cfg().samp_count;
  if (samples <= 0) return std::nullopt;
  const std::vector<SampleRate>& rates = record.header().rates;
  if (rates_give_time(rates)) return sample_offset_us(rates, samples - 1);
  // Sampled at rate 0: the last sample's own time stamp says when it was.
  Buckets last;
  record.Select_channels({}, 0);
  if (record.loadBuckets(SampleWindow{samples - 1, samples}, 1, last) != 0 || last.first_stamps.empty()) {
    return std::nullopt;
  }
  return stamp_time(record, last.first_stamps.front());
}

std::optional<double> stamp_us(const std::string& text, bool month_first) {
  int first = 0, second = 0, year = 0, hour = 0, minute = 0;
  double seconds = 0;
  char slash1 = 0, slash2 = 0, comma = 0, colon1 = 0, colon2 = 0;
  if (std::sscanf(text.c_str(), " %d %c %d %c %d %c %d %c %d %c %lf", &first, &slash1, &second, &slash2, &year,
                  &comma, &hour, &colon1, &minute, &colon2, &seconds) != 11 ||
      slash1 != '/' || slash2 != '/' || comma != ',' || colon1 != ':' || colon2 != ':') {
    return std::nullopt;
  }
  int day = month_first ? second : first;
  int month = month_first ? first : second;
  if (month > 12) std::swap(day, month);
  if (month < 1 || month > 12 || day < 1 || day > 31 || !std::isfinite(seconds)) return std::nullopt;
  const double whole_seconds = static_cast<double>(days_from_civil(year, month, day)) * 86400.0 +
                               hour * 3600.0 + minute * 60.0;
  return whole_seconds * 1e6 + seconds * 1e6;
}

std::optional<double> trigger_offset_us(const ComTrade_format& record) {
  std::string revision = record.header().revision;
  revision.erase(0, revision.find_first_not_of(" \t"));
  revision.erase(revision.find_last_not_of(" \t") + 1);
  const bool month_first = revision.empty() || revision == "1991";
  const std::optional<double> start = stamp_us(record.cfg().start_time, month_first);
  const std::optional<double> trigger = stamp_us(record.cfg().end_time, month_first);
  if (!start || !trigger) return std::nullopt;
  return *trigger - *start;
}

std::string format_stamp(double us) {
  const std::int64_t total = static_cast<std::int64_t>(std::llround(us));
  constexpr std::int64_t kPerDay = 86400LL * 1000000LL;
  std::int64_t days = total / kPerDay;
  std::int64_t rest = total % kPerDay;
  if (rest < 0) {
    rest += kPerDay;
    --days;
  }
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  civil_from_days(days, year, month, day);
  const std::int64_t seconds = rest / 1000000;
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04lld,%02lld:%02lld:%02lld.%06lld", day, month,
                static_cast<long long>(year), static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                static_cast<long long>(rest % 1000000));
  return text;
}
