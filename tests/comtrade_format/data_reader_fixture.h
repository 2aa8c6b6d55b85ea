// The .dat readers' fixture, over the two data formats: a record's samples
// written in either format, and a load that checks the file type first.
#ifndef TESTS_COMTRADE_FORMAT_DATA_READER_FIXTURE_H_
#define TESTS_COMTRADE_FORMAT_DATA_READER_FIXTURE_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "record_fixture.h"

struct AsciiData {
  static constexpr const char* kType = "ASCII";
  static constexpr const char* kMissingMessage = "check no such file: ";
  // One sample line: number, time stamp 0, the analog fields, the statuses.
  static std::string sample(std::uint32_t number, const std::vector<int>& analogs,
                            const std::vector<int>& statuses) {
    std::string line = std::to_string(number) + ",0";
    for (int value : analogs) line += "," + std::to_string(value);
    for (int status : statuses) line += "," + std::to_string(status);
    return line + "\n";
  }
  // Bytes that hold no sample of a one-analog, one-digital record.
  static std::string no_whole_sample() { return "\n\x1A\r\n"; }
  static int load(ComTrade_format& rec) {
    EXPECT_EQ(kFileTypeAscii, rec.Get_file_type());
    return rec.loadAsciiData();
  }
};

struct BinaryData {
  static constexpr const char* kType = "BINARY";
  static constexpr const char* kMissingMessage = "check no such binary file: ";
  // One record: sample number, time stamp, the analog words, the statuses
  // packed sixteen to a word.
  static std::string sample(std::uint32_t number, const std::vector<int>& analogs,
                            const std::vector<int>& statuses) {
    std::vector<std::uint16_t> words((statuses.size() + 15) / 16, 0);
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      if (statuses[i]) words[i / 16] |= static_cast<std::uint16_t>(1u << (i % 16));
    }
    return record(number, std::vector<std::uint16_t>(analogs.begin(), analogs.end()), words);
  }
  static std::string record(std::uint32_t number, const std::vector<std::uint16_t>& analogs,
                            const std::vector<std::uint16_t>& status) {
    std::string bytes;
    put_u32(bytes, number);
    put_u32(bytes, number * 100);
    for (auto word : analogs) put_u16(bytes, word);
    for (auto word : status) put_u16(bytes, word);
    return bytes;
  }
  static std::string no_whole_sample() { return sample(1, {1}, {1}).substr(0, 11); }
  static int load(ComTrade_format& rec) {
    EXPECT_NE(kFileTypeAscii, rec.Get_file_type());
    return rec.loadBinaryData();
  }
};

template <typename Format>
constexpr bool kIsBinary = std::is_same_v<Format, BinaryData>;

template <typename Format>
class DataReaderTest : public RecordTest {
 protected:
  // Reads the record `base` (cfg and dat already written) with `names`
  // selected; returns the load's result.
  int load(const std::string& base, const std::vector<std::string>& names) {
    ComTrade_format rec((m_dir / base).string());
    EXPECT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
    rec.Select_channels(names, static_cast<int>(names.size()));
    return Format::load(rec);
  }
  static std::string text_of(const std::string& name) {
    auto it = CHAN_DATA_MAP.find(name);
    return it == CHAN_DATA_MAP.end() ? "<none>" : it->second;
  }
};

#endif  // TESTS_COMTRADE_FORMAT_DATA_READER_FIXTURE_H_
