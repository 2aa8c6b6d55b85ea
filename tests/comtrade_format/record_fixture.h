// A fresh temporary folder per test and small helpers to put record files in
// it, so each case builds the bytes it reads; and the .dat readers' fixture
// over the two data formats, whose traits write a sample and call the load.
#ifndef TESTS_COMTRADE_FORMAT_RECORD_FIXTURE_H_
#define TESTS_COMTRADE_FORMAT_RECORD_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
#include "comtrade_format/sample_sink.h"
#include "support/test_files.h"

class RecordTest : public ::testing::Test {
 protected:
  // Writes `bytes` to `name` inside the folder; returns its full path.
  std::string write_file(const std::string& name, const std::string& bytes) {
    return e2e::write_file(m_dir / name, bytes);
  }
  // Writes "<base>.cfg" and returns the record path without extension.
  std::string write_cfg(const std::string& base, const std::string& text) {
    write_file(base + ".cfg", text);
    return (m_dir / base).string();
  }
  std::string write_dat(const std::string& base, const std::string& bytes) {
    write_file(base + ".dat", bytes);
    return (m_dir / base).string();
  }

  e2e::TempDir m_temp;
  const std::filesystem::path& m_dir = m_temp.path();
};

// Little-endian integers appended to a byte string, for binary records.
inline std::string& put_u16(std::string& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
  return bytes;
}
inline std::string& put_u32(std::string& bytes, std::uint32_t value) {
  put_u16(bytes, static_cast<std::uint16_t>(value & 0xFFFF));
  return put_u16(bytes, static_cast<std::uint16_t>(value >> 16));
}

// A .cfg with one channel A1.. per (a, b) of `factors` and `digitals`
// channels D1.., one rate line ending in `samples`, and `type`.
inline std::string make_cfg(const std::vector<std::pair<double, double>>& factors, int digitals,
                            int samples, const std::string& type) {
  const int analogs = static_cast<int>(factors.size());
  std::string text = "ST,DEV,1999\n" + std::to_string(analogs + digitals) + "," +
                     std::to_string(analogs) + "A," + std::to_string(digitals) + "D\n";
  char line[256];
  for (int i = 1; i <= analogs; ++i) {
    std::snprintf(line, sizeof line, "%d,A%d,,,V,%.17g,%.17g,0,-32768,32767,1,1,S\n", i, i,
                  factors[i - 1].first, factors[i - 1].second);
    text += line;
  }
  for (int j = 1; j <= digitals; ++j) text += std::to_string(j) + ",D" + std::to_string(j) + ",,,0\n";
  text += "50\n1\n1000," + std::to_string(samples) + "\n";
  text += "01/01/2020,00:00:00.000000\n01/01/2020,00:00:00.001000\n" + type + "\n1\n";
  return text;
}
// The same with `analogs` channels of one a and b.
inline std::string make_cfg(int analogs, int digitals, int samples, const std::string& type,
                            double factor_a = 1, double factor_b = 0) {
  return make_cfg(std::vector<std::pair<double, double>>(analogs, {factor_a, factor_b}), digitals,
                  samples, type);
}

// Std::cout diagnostics of `action`, as written.
template <typename Action>
std::string captured_stdout(Action action) {
  std::cout.flush();
  ::testing::internal::CaptureStdout();
  action();
  std::cout.flush();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

// The two data formats as the typed reader cases see them.
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

// Every sample's selected values, or only those a change load hands on.
struct RowsSeen : SampleSink {
  void take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
            const double* stamps) override {
    for (std::int64_t i = 0; i < count; ++i) {
      rows.emplace_back(first + i, std::vector<double>(values + i * width, values + (i + 1) * width));
      this->stamps.push_back(stamps[i]);
    }
  }
  std::vector<std::pair<std::int64_t, std::vector<double>>> rows;
  std::vector<double> stamps;
};

#endif  // TESTS_COMTRADE_FORMAT_RECORD_FIXTURE_H_
