// The committed fuzz seeds of one target, read back for replay.
#ifndef FUZZ_REGRESSIONS_SEED_FILES_H_
#define FUZZ_REGRESSIONS_SEED_FILES_H_

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

// (file name, bytes) of every seed of `target`, in name order.
inline std::vector<std::pair<std::string, std::string>> seed_files(const std::string& target) {
  std::vector<std::pair<std::string, std::string>> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(FUZZ_SEEDS_DIR) / target)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(entry.path().filename().string(),
                       std::string(std::istreambuf_iterator<char>(in), {}));
  }
  std::sort(seeds.begin(), seeds.end());
  return seeds;
}

inline const std::uint8_t* bytes_of(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

#endif  // FUZZ_REGRESSIONS_SEED_FILES_H_
