// Saved inputs of the record reader fuzzers, replayed through the same
// harness the fuzz targets run.
#include <string>

#include <gtest/gtest.h>

#include "comtrade_format/channel_store.h"
#include "harness/record_cases.h"
#include "seed_files.h"

namespace {

using fuzz_harness::run_ascii_case;
using fuzz_harness::run_binary_case;
using fuzz_harness::run_cfg_case;

std::string run(std::string (*fuzz_case)(const std::uint8_t*, std::size_t),
                const std::string& input) {
  return fuzz_case(bytes_of(input), input.size());
}

TEST(RecordSeedsTest, CfgSeedsKeepTheModelInvariants) {
  const auto seeds = seed_files("cfg_reader");
  ASSERT_FALSE(seeds.empty());
  for (const auto& [name, bytes] : seeds) EXPECT_EQ("", run(run_cfg_case, bytes)) << name;
}

TEST(RecordSeedsTest, DataSeedsKeepTheStoreInvariantsInBothReaders) {
  for (const char* target : {"ascii_reader", "binary_reader"}) {
    const auto seeds = seed_files(target);
    ASSERT_FALSE(seeds.empty()) << target;
    for (const auto& [name, bytes] : seeds) {
      EXPECT_EQ("", run(run_ascii_case, bytes)) << target << "/" << name;
      EXPECT_EQ("", run(run_binary_case, bytes)) << target << "/" << name;
    }
  }
}

// The harness must reach the readers, or the fuzzers test nothing.
TEST(RecordSeedsTest, BuiltinRecordsReachTheDataReaders) {
  ASSERT_EQ("", run(run_ascii_case, std::string("\x02\x00" "1,0,100,-20,0,1\n", 17)));
  ASSERT_EQ(4u, CHAN_DATA_MAP.size());
  EXPECT_EQ("49.0000", CHAN_DATA_MAP["U1"]);
  EXPECT_EQ("1", CHAN_DATA_MAP["D2"]);

  const std::string record("\x01\x00\x00\x00\x00\x00\x00\x00\x02\x00\xFE\xFF\x03\x00", 14);
  ASSERT_EQ("", run(run_binary_case, std::string("\x02\x00", 2) + record));
  EXPECT_EQ("0.0000", CHAN_DATA_MAP["U1"]);
  EXPECT_EQ("-2.0000", CHAN_DATA_MAP["U2"]);
  EXPECT_EQ("1", CHAN_DATA_MAP["D1"]);
}

// A negative analog count moves the status area in front of the record, so
// channels 1 to 16 have no bits in it. They must get no values, and the
// channels after them must keep their own: a reader that counted only the
// channels it could read gave channel 17's bits to channel 1.
TEST(RecordRegressionTest, BinaryChannelsOutsideTheRecordKeepLaterChannelsAligned) {
  std::string cfg = "S,R,1999\n32,-5A,32D\n";
  for (int j = 1; j <= 32; ++j) cfg += std::to_string(j) + ",D" + std::to_string(j) + ",,,0\n";
  cfg += "50\n1\n1000,3\n01/01/2020,00:00:00\n01/01/2020,00:00:00\nBINARY\n1\n";
  // Two-byte records: status bytes 2 and 3 of an area that starts 2 bytes
  // before the record, i.e. channels 17 to 32.
  const std::string records("\x01\x80\x00\x80\x01\x00", 6);
  ASSERT_EQ("", run(run_binary_case, std::string("\x01\x00", 2) + cfg + "\n@@@@\n" + records));
  EXPECT_EQ("", CHAN_DATA_MAP["D1"]);
  EXPECT_EQ("1,0,1", CHAN_DATA_MAP["D17"]);
  EXPECT_EQ("1,1,0", CHAN_DATA_MAP["D32"]);
}

}  // namespace
