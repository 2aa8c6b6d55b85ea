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

namespace {

namespace fs = std::filesystem;

struct Sample {
  std::string base;  // path without extension
  std::string dat;   // the data file as found; the .cff itself for a combined record
};

std::vector<Sample> samples_with_data() {
  std::vector<Sample> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(COMTRADE_SAMPLES_DIR, error), end; !error && it != end;
       it.increment(error)) {
    const fs::path path = it->path();
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (!it->is_regular_file() || (extension != ".cfg" && extension != ".cff")) continue;
    const std::string base = (path.parent_path() / path.stem()).string();
    if (extension == ".cff") {
      // A pair of the same name wins over the combined file.
      if (!fs::exists(platform::resolve_case_insensitive(base + ".cfg"))) found.push_back({base, path.string()});
      continue;
    }
    const std::string dat = platform::resolve_case_insensitive(base + ".dat");
    if (fs::exists(dat)) found.push_back({base, dat});
  }
  std::sort(found.begin(), found.end(), [](const Sample& a, const Sample& b) { return a.base < b.base; });
  return found;
}

// Whether `line` opens a section of a .cff ("--- file type: DAT ... ---").
bool is_section_line(const std::string& line) {
  return line.compare(0, 1, "-") == 0 && line.find("file type") != std::string::npos;
}

// Sample lines of an ASCII file: lines with anything but blanks, CR, 0x1A;
// in a .cff those of its DAT section.
long long ascii_sample_lines(const std::string& path, bool combined) {
  std::ifstream in(path, std::ios::binary);
  long long lines = 0;
  bool in_data = !combined;
  std::string line;
  while (std::getline(in, line)) {
    if (combined && is_section_line(line)) {
      in_data = line.find("DAT") != std::string::npos;
      continue;
    }
    if (in_data && line.find_first_not_of(" \t\r\x1A") != std::string::npos) ++lines;
  }
  return lines;
}

// Bytes of the data of a binary record: the .dat, or the count on the DAT
// section line of a .cff.
long long binary_data_bytes(const Sample& sample, bool combined) {
  if (!combined) return static_cast<long long>(fs::file_size(sample.dat));
  std::ifstream in(sample.dat, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (is_section_line(line) && line.find("DAT") != std::string::npos) {
      return std::stoll(line.substr(line.rfind(':') + 1));
    }
  }
  return 0;
}

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
      present = ascii_sample_lines(sample.dat, combined);
    } else {
      ASSERT_NE(kFileTypeUnknown, type);
      EXPECT_EQ(0, rec.loadBinaryData());
      const int words = cfg.di_num / 16 + (cfg.di_num % 16 != 0);
      const int sample_bytes = type == kFileTypeBinary ? 2 : 4;
      present = binary_data_bytes(sample, combined) / (8 + sample_bytes * cfg.ai_num + 2 * words);
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
