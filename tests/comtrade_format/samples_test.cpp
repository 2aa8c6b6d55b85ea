// Real records from other recorders: the readers must take all of them
// without throwing, and give one value per sample for every channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

struct Sample {
  std::string base;  // path without extension
  std::string dat;   // the data file as found
};

std::vector<Sample> samples_with_data() {
  std::vector<Sample> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(COMTRADE_SAMPLES_DIR, error), end; !error && it != end;
       it.increment(error)) {
    const fs::path path = it->path();
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (!it->is_regular_file() || extension != ".cfg") continue;
    const std::string base = (path.parent_path() / path.stem()).string();
    const std::string dat = platform::resolve_case_insensitive(base + ".dat");
    if (fs::exists(dat)) found.push_back({base, dat});
  }
  std::sort(found.begin(), found.end(), [](const Sample& a, const Sample& b) { return a.base < b.base; });
  return found;
}

// Sample lines of an ASCII file: lines with anything but blanks, CR, 0x1A.
long long ascii_sample_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  long long lines = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r\x1A") != std::string::npos) ++lines;
  }
  return lines;
}

// This record's 36th analog channel gives its maximum as 2147483648, one
// past the 32-bit range, so reading its configuration throws by design.
const std::string kOutOfRangeRecord = "ExampleSet2/5";

long long values_in(const std::string& text) {
  return static_cast<long long>(std::count(text.begin(), text.end(), ',')) + 1;
}

TEST(SamplesTest, ReadsEveryRealRecordWithOneValuePerSample) {
  if (!fs::is_directory(COMTRADE_SAMPLES_DIR)) GTEST_SKIP() << "no sample records here";
  const std::vector<Sample> samples = samples_with_data();
  ASSERT_FALSE(samples.empty());
  int data_checked = 0;
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.base);
    ComTrade_format rec(sample.base);
    if (sample.base.size() >= kOutOfRangeRecord.size() &&
        sample.base.compare(sample.base.size() - kOutOfRangeRecord.size(), std::string::npos,
                            kOutOfRangeRecord) == 0) {
      EXPECT_THROW(rec.Get_cmtr_cfg_info(), std::out_of_range);
      continue;
    }
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
      present = ascii_sample_lines(sample.dat);
    } else if (type == kFileTypeBinary) {
      EXPECT_EQ(0, rec.loadBinaryData());
      const int words = cfg.di_num / 16 + (cfg.di_num % 16 != 0);
      present = static_cast<long long>(fs::file_size(sample.dat)) / (8 + 2 * cfg.ai_num + 2 * words);
    } else {
      continue;  // BINARY32, FLOAT32: not data this service reads
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
