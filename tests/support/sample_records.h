// The public sample records beside the project (../shared/samples): which of
// them have their data, and how many samples their data holds, worked out
// from the files without the service's readers.
#ifndef TESTS_SUPPORT_SAMPLE_RECORDS_H_
#define TESTS_SUPPORT_SAMPLE_RECORDS_H_

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace samples {

namespace fs = std::filesystem;

struct Sample {
  std::string base;  // path without extension
  std::string dat;   // the data file as found; the .cff itself for a combined record
};

// Under `root`, sorted by path.
inline std::vector<Sample> samples_with_data(const std::string& root) {
  std::vector<Sample> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
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
inline bool is_section_line(const std::string& line) {
  return line.compare(0, 1, "-") == 0 && line.find("file type") != std::string::npos;
}

// Sample lines of an ASCII file: lines with anything but blanks, CR, 0x1A;
// in a .cff those of its DAT section.
inline long long ascii_sample_lines(const std::string& path, bool combined) {
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
inline long long binary_data_bytes(const Sample& sample, bool combined) {
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

}  // namespace samples

#endif  // TESTS_SUPPORT_SAMPLE_RECORDS_H_
