// The plain conversions of log messages against vsnprintf.
#include "logger/log_format.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

struct Formatted {
  int length;
  std::string text;
};

Formatted plain(std::size_t room, const char* format, ...) {
  std::string out(room + 1, '#');
  va_list args;
  va_start(args, format);
  const int length = format_plain(out.data(), room, format, args);
  va_end(args);
  return {length, length < 0 ? std::string() : std::string(out.c_str())};
}

Formatted library(std::size_t room, const char* format, ...) {
  std::string out(room + 1, '#');
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(out.data(), room, format, args);
  va_end(args);
  return {length, std::string(out.c_str())};
}

#define EXPECT_AS_LIBRARY(room, ...)                          \
  do {                                                        \
    const Formatted ours = plain(room, __VA_ARGS__);          \
    const Formatted theirs = library(room, __VA_ARGS__);      \
    EXPECT_EQ(theirs.length, ours.length) << #__VA_ARGS__;    \
    EXPECT_EQ(theirs.text, ours.text) << #__VA_ARGS__;        \
  } while (false)

TEST(LogFormatTest, WritesThePlainConversionsAsTheLibraryDoes) {
  EXPECT_AS_LIBRARY(512, "1 recive station_name:%s,vol_str:%s", "North", "all");
  EXPECT_AS_LIBRARY(512, "i: %d, fileName: %s", -2147483647 - 1, "N_20260112_100000");
  EXPECT_AS_LIBRARY(512, "0TimeStamp: %ld-loadBinaryData Start", LONG_MIN);
  EXPECT_AS_LIBRARY(512, "bytes %zu of %zu", SIZE_MAX, std::size_t{0});
  EXPECT_AS_LIBRARY(512, "100%% of %s%%", "it");
  EXPECT_AS_LIBRARY(512, "no conversion at all");
  EXPECT_AS_LIBRARY(512, "");
  EXPECT_AS_LIBRARY(512, "%s|%s", "", static_cast<const char*>(nullptr));
  // Cut to the room as the library cuts, the whole length still counted.
  EXPECT_AS_LIBRARY(8, "station %s, %d records", "North", 12345);
  EXPECT_AS_LIBRARY(1, "%d", 7);
  EXPECT_AS_LIBRARY(6, "abcde%s", "f");
}

TEST(LogFormatTest, LeavesEveryOtherConversionToTheLibrary) {
  for (const char* format : {"%u", "%5d", "%lu", "%lld", "%f", "%x", "%c", "%.3s", "%-s", "%", "a %l"}) {
    EXPECT_EQ(-1, plain(64, format, 1).length) << format;
  }
}

}  // namespace
