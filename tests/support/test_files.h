// Temporary folders and the files tests put in them; no test framework and
// no service needed, so every test library can link it.
#ifndef TESTS_SUPPORT_TEST_FILES_H_
#define TESTS_SUPPORT_TEST_FILES_H_

#include <filesystem>
#include <optional>
#include <string>

namespace e2e {

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  // path() / relative, as a string.
  std::string operator/(const std::string& relative) const;

 private:
  std::filesystem::path m_path;
};

// Writes `text` to `path`, creating missing parent folders; returns `path`
// as a string. Binary-safe.
std::string write_file(const std::filesystem::path& path, const std::string& text);
// Writes the pair <folder>/<name>.cfg and <folder>/<name>.dat.
void write_record_files(const std::filesystem::path& folder, const std::string& name,
                        const std::string& cfg, const std::string& dat);
// The whole file, or nullopt when it cannot be read.
std::optional<std::string> read_file(const std::filesystem::path& path);
// The whole file, or "" when it cannot be read.
std::string file_text(const std::filesystem::path& path);

}  // namespace e2e

#endif  // TESTS_SUPPORT_TEST_FILES_H_
