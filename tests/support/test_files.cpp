// Temporary folders and whole-file reads and writes for the tests.
#include "support/test_files.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace e2e {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "comtrade-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::operator/(const std::string& relative) const {
  return (m_path / relative).string();
}

std::string write_file(const std::filesystem::path& path, const std::string& text) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return path.string();
}

void write_record_files(const std::filesystem::path& folder, const std::string& name,
                        const std::string& cfg, const std::string& dat) {
  write_file(folder / (name + ".cfg"), cfg);
  write_file(folder / (name + ".dat"), dat);
}

std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string file_text(const std::filesystem::path& path) { return read_file(path).value_or(""); }

}  // namespace e2e
