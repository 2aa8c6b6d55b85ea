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

std::optional<Stamp> read_stamp(const std::string& text, bool month_first) {
  const char* p = text.c_str();
  const auto blanks = [&p] {
    while (*p == ' ' || *p == '\t') ++p;
  };
  // Digits, at most nine of them (the bound keeps every sum below in range);
  // -1 when there is none.
  const auto number = [&p](int& digits) -> std::int64_t {
    std::int64_t value = 0;
    for (digits = 0; *p >= '0' && *p <= '9' && digits < 9; ++digits) value = value * 10 + (*p++ - '0');
    return digits > 0 ? value : -1;
  };
  const auto separator = [&](char c) {
    blanks();
    if (*p != c) return false;
    ++p;
    blanks();
    return true;
  };
  int digits = 0;
  blanks();
  const std::int64_t first = number(digits);
  if (first < 0 || !separator('/')) return std::nullopt;
  const std::int64_t second = number(digits);
  if (second < 0 || !separator('/')) return std::nullopt;
  std::int64_t year = number(digits);
  if (year < 0) return std::nullopt;
  if (digits <= 2) year += year < 69 ? 2000 : 1900;
  if (!separator(',')) return std::nullopt;
  const std::int64_t hour = number(digits);
  if (hour < 0 || !separator(':')) return std::nullopt;
  const std::int64_t minute = number(digits);
  if (minute < 0 || !separator(':')) return std::nullopt;
  const std::int64_t second_of_minute = number(digits);
  if (second_of_minute < 0) return std::nullopt;
  Stamp stamp;
  std::int64_t fraction_ns = 0;
  if (*p == '.') {
    ++p;
    for (; *p >= '0' && *p <= '9'; ++p, ++stamp.fraction_digits) {
      if (stamp.fraction_digits < 9) fraction_ns = fraction_ns * 10 + (*p - '0');
    }
    for (int d = stamp.fraction_digits; d < 9; ++d) fraction_ns *= 10;
  }
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  if (*p != '\0') return std::nullopt;
  std::int64_t day = month_first ? second : first;
  std::int64_t month = month_first ? first : second;
  if (month > 12) std::swap(day, month);
  // Second 60 is a leap second.
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second_of_minute > 60) {
    return std::nullopt;
  }
  stamp.day = days_from_civil(year, month, day);
  stamp.ns = ((hour * 60 + minute) * 60 + second_of_minute) * 1000000000 + fraction_ns;
  return stamp;
}

double stamp_difference_us(const Stamp& from, const Stamp& to) {
  return static_cast<double>(to.day - from.day) * 86400e6 + static_cast<double>(to.ns - from.ns) / 1e3;
}

bool stamps_month_first(const RecordHeader& header) {
  std::string revision = header.revision;
  revision.erase(0, revision.find_first_not_of(" \t"));
  revision.erase(revision.find_last_not_of(" \t") + 1);
  return revision.empty() || revision == "1991";
}

std::optional<double> trigger_offset_us(const ComTrade_format& record) {
  const bool month_first = stamps_month_first(record.header());
  const std::optional<Stamp> start = read_stamp(record.cfg().start_time, month_first);
  const std::optional<Stamp> trigger = read_stamp(record.cfg().end_time, month_first);
  if (!start || !trigger) return std::nullopt;
  return stamp_difference_us(*start, *trigger);
}

std::string format_stamp(const Stamp& stamp, double us) {
  constexpr std::int64_t kPerDay = 86400LL * 1000000000LL;
  // Whole days apart from the rest, which then fits nanoseconds.
  const double whole_days = std::floor(us / 86400e6);
  if (!std::isfinite(whole_days) || std::fabs(whole_days) > 1e9) return format_stamp(stamp, 0);
  const bool nanoseconds = stamp.fraction_digits > 6;
  std::int64_t days = stamp.day + static_cast<std::int64_t>(whole_days);
  std::int64_t rest = stamp.ns + std::llround((us - whole_days * 86400e6) * 1e3);
  // Written in microseconds, the moved time is rounded to the nearest one.
  if (!nanoseconds) rest = (rest + 500) / 1000 * 1000;
  days += rest / kPerDay;
  rest %= kPerDay;
  if (rest < 0) {
    rest += kPerDay;
    --days;
  }
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  civil_from_days(days, year, month, day);
  const std::int64_t seconds = rest / 1000000000;
  const std::int64_t fraction = nanoseconds ? rest % 1000000000 : rest % 1000000000 / 1000;
  char text[80];
  std::snprintf(text, sizeof text, "%02d/%02d/%04lld,%02lld:%02lld:%02lld.%0*lld", day, month,
                static_cast<long long>(year), static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                nanoseconds ? 9 : 6, static_cast<long long>(fraction));
  return text;
}
