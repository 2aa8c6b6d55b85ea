// A fresh temporary folder per test and small helpers to put record files in
// it, so each case builds the bytes it reads.
#ifndef TESTS_COMTRADE_FORMAT_RECORD_FIXTURE_H_
#define TESTS_COMTRADE_FORMAT_RECORD_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
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

#endif  // TESTS_COMTRADE_FORMAT_RECORD_FIXTURE_H_
