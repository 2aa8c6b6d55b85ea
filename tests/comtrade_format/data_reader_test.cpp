// What both .dat readers share: the samp count bounds the samples read, and
// each load starts from an empty store whatever the file holds.
#include <string>

#include "record_fixture.h"

namespace {

struct FormatName {
  template <typename Format>
  static std::string GetName(int) {
    return Format::kType;
  }
};

using Formats = ::testing::Types<AsciiData, BinaryData>;
TYPED_TEST_SUITE(DataReaderTest, Formats, FormatName);

TYPED_TEST(DataReaderTest, ReadsNoSamplePastSampCount) {
  using F = TypeParam;
  this->write_cfg("r", make_cfg(1, 1, 2, F::kType));
  this->write_dat("r", F::sample(1, {1}, {0}) + F::sample(2, {2}, {1}) + F::sample(3, {3}, {0}) +
                           F::sample(4, {4}, {1}));
  EXPECT_EQ(0, this->load("r", {"A1", "D1"}));
  EXPECT_EQ("1.0000,2.0000", this->text_of("A1"));
  EXPECT_EQ("0,1", this->text_of("D1"));

  if constexpr (kIsBinary<F>) {
    // A cut last record is no sample either.
    this->write_cfg("r", make_cfg(1, 1, 3, F::kType));
    this->write_dat("r", F::sample(1, {1}, {1}) + F::sample(2, {2}, {0}) +
                             F::sample(3, {3}, {1}).substr(0, 9));
    EXPECT_EQ(0, this->load("r", {"A1", "D1"}));
    EXPECT_EQ("1.0000,2.0000", this->text_of("A1"));
    EXPECT_EQ("1,0", this->text_of("D1"));
  }
}

TYPED_TEST(DataReaderTest, SecondLoadStartsFromAnEmptyStore) {
  using F = TypeParam;
  this->write_cfg("r", make_cfg(2, 1, 1, F::kType));
  this->write_dat("r", F::sample(1, {1, 2}, {1}));
  this->write_cfg("s", make_cfg(2, 1, 1, F::kType));
  this->write_dat("s", F::sample(1, {3, 4}, {0}));
  EXPECT_EQ(0, this->load("r", {"A1", "A2", "D1"}));
  EXPECT_EQ(0, this->load("s", {"A2"}));
  EXPECT_EQ(1u, CHAN_DATA_MAP.size());
  EXPECT_EQ("4.0000", this->text_of("A2"));
  // The same file with other samples: nothing of the first read stays.
  this->write_dat("r", F::sample(1, {8, 9}, {0}));
  EXPECT_EQ(0, this->load("r", {"D1"}));
  EXPECT_EQ(1u, CHAN_DATA_MAP.size());
  EXPECT_EQ("0", this->text_of("D1"));
}

// Error paths

TYPED_TEST(DataReaderTest, DataWithoutAWholeSampleGivesNoEntryAtAll) {
  using F = TypeParam;
  this->write_cfg("r", make_cfg(1, 1, 5, F::kType));
  for (const std::string& dat : {std::string(), F::no_whole_sample()}) {
    this->write_dat("r", dat);
    EXPECT_EQ(0, this->load("r", {"A1", "D1"})) << dat.size();
    EXPECT_TRUE(CHAN_DATA_MAP.empty()) << dat.size();
    EXPECT_TRUE(AI_DATA_VEC.empty()) << dat.size();
    EXPECT_TRUE(DI_DATA_VEC.empty()) << dat.size();
  }
}

TYPED_TEST(DataReaderTest, MissingDataFileEmptiesTheStore) {
  using F = TypeParam;
  this->write_cfg("r", make_cfg(1, 0, 1, F::kType));
  this->write_dat("r", F::sample(1, {1}, {}));
  ASSERT_EQ(0, this->load("r", {"A1"}));
  ASSERT_FALSE(CHAN_DATA_MAP.empty());
  const std::string base = this->write_cfg("q", make_cfg(1, 0, 1, F::kType));
  std::string out = captured_stdout([&] { EXPECT_EQ(1, this->load("q", {"A1"})); });
  EXPECT_NE(std::string::npos, out.find(F::kMissingMessage + base + ".dat\n"));
  EXPECT_TRUE(CHAN_DATA_MAP.empty());
}

}  // namespace
