// Temporary folders and the files tests put in them; no test framework and
// no service needed, so every test library can use it.
#ifndef TESTS_SUPPORT_TEST_FILES_H_
#define TESTS_SUPPORT_TEST_FILES_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace e2e {

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "comtrade-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  // path() / relative, as a string.
  std::string operator/(const std::string& relative) const { return (m_path / relative).string(); }

 private:
  std::filesystem::path m_path;
};

// Writes `text` to `path`, creating missing parent folders; returns `path`
// as a string. Binary-safe.
inline std::string write_file(const std::filesystem::path& path, const std::string& text) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return path.string();
}

// Writes the pair <folder>/<name>.cfg and <folder>/<name>.dat.
inline void write_record_files(const std::filesystem::path& folder, const std::string& name,
                               const std::string& cfg, const std::string& dat) {
  write_file(folder / (name + ".cfg"), cfg);
  write_file(folder / (name + ".dat"), dat);
}

// The whole file, or nullopt when it cannot be read.
inline std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The whole file, or "" when it cannot be read.
inline std::string file_text(const std::filesystem::path& path) { return read_file(path).value_or(""); }

}  // namespace e2e

#endif  // TESTS_SUPPORT_TEST_FILES_H_
