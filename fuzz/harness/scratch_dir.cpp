// The per-process scratch directory of the fuzz harnesses.
#include "harness/scratch_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fuzz_harness {

namespace {

std::filesystem::path make_scratch_dir() {
  std::error_code ec;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
    base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
  }
  // The pid keeps parallel fuzzing jobs and test binaries apart.
  for (int attempt = 0;; ++attempt) {
    std::filesystem::path dir =
        base / ("comtrade-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(dir, ec)) return dir;
    if (attempt > 100) {
      std::fprintf(stderr, "cannot create a scratch directory under %s\n", base.c_str());
      std::abort();
    }
  }
}

}  // namespace

const std::string& scratch_dir() {
  // Never destroyed: the exit action still needs the name after static
  // objects have gone.
  static const std::string* const dir = new std::string(make_scratch_dir().string());
  static const bool cleanup_registered = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*dir, ignored);
    });
    return true;
  }();
  (void)cleanup_registered;
  return *dir;
}

bool write_file(const std::string& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

bool write_file(const std::string& path, const std::string& text) {
  return write_file(path, text.data(), text.size());
}

void write_or_die(const std::string& path, const std::string& text) {
  if (!write_file(path, text)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

std::string little_endian(long value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

}  // namespace fuzz_harness
