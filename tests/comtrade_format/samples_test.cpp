// Real records from other recorders: the readers must take all of them
// without throwing, and give one value per sample for every channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
#include "platform/platform.h"
#include "support/sample_records.h"

namespace {

namespace fs = std::filesystem;
using samples::Sample;
using samples::samples_with_data;

long long values_in(const std::string& text) {
  return static_cast<long long>(std::count(text.begin(), text.end(), ',')) + 1;
}

TEST(SamplesTest, ReadsEveryRealRecordWithOneValuePerSample) {
  if (!fs::is_directory(COMTRADE_SAMPLES_DIR)) GTEST_SKIP() << "no sample records here";
  const std::vector<Sample> samples = samples_with_data(COMTRADE_SAMPLES_DIR);
  ASSERT_FALSE(samples.empty());
  int data_checked = 0;
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.base);
    ComTrade_format rec(sample.base);
    const bool combined = sample.dat.size() > 4 && sample.dat.compare(sample.dat.size() - 4, 4, ".cff") == 0;
    int result = kCfgReadFailed;
    ASSERT_NO_THROW(result = rec.Get_cmtr_cfg_info());
    ASSERT_EQ(kCfgReadOk, result);
    const cmtr_cfg_info& cfg = rec.cfg();
    EXPECT_EQ(static_cast<std::size_t>(cfg.ai_num), AI_VEC.size());
    EXPECT_EQ(static_cast<std::size_t>(cfg.di_num), DI_VEC.size());
    EXPECT_GT(cfg.samp_count, 0);

    std::vector<std::string> all = AI_VEC;
    all.insert(all.end(), DI_VEC.begin(), DI_VEC.end());
    rec.Select_channels(all, static_cast<int>(all.size()));
    long long present = 0;
    const int type = rec.Get_file_type();
    if (type == kFileTypeAscii) {
      EXPECT_EQ(0, rec.loadAsciiData());
      present = samples::ascii_sample_lines(sample.dat, combined);
    } else {
      ASSERT_NE(kFileTypeUnknown, type);
      EXPECT_EQ(0, rec.loadBinaryData());
      const int words = cfg.di_num / 16 + (cfg.di_num % 16 != 0);
      const int sample_bytes = type == kFileTypeBinary ? 2 : 4;
      present = samples::binary_data_bytes(sample, combined) / (8 + sample_bytes * cfg.ai_num + 2 * words);
    }
    ++data_checked;
    const long long expected = std::min<long long>(cfg.samp_count, present);
    ASSERT_GT(expected, 0);
    for (int i = 0; i < cfg.ai_num; ++i) {
      auto it = CHAN_DATA_MAP.find(cfg.analogs[i].name);
      ASSERT_NE(CHAN_DATA_MAP.end(), it) << cfg.analogs[i].name;
      EXPECT_EQ(expected, values_in(it->second)) << cfg.analogs[i].name;
    }
    // The last digital field of an ASCII line runs to the line end, so only
    // the others are sure to hold no comma of their own.
    for (int j = 0; j + 1 < cfg.di_num; ++j) {
      auto it = CHAN_DATA_MAP.find(cfg.digitals[j].name);
      ASSERT_NE(CHAN_DATA_MAP.end(), it) << cfg.digitals[j].name;
      if (it->second.empty()) continue;
      EXPECT_EQ(expected, values_in(it->second)) << cfg.digitals[j].name;
    }
  }
  EXPECT_GT(data_checked, 0);
}

}  // namespace
