// Where the settings file lives, how its values are checked, and how a
// handler reads the record root.
#include "restfulserver/settings.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include <INIReader.h>

#include "platform/platform.h"

std::string settings_file_path(const std::string& root) {
  return platform::join_path(platform::join_path(root, "cfg"), "ComTrade.ini");
}

void report_long_settings_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() <= kSettingsLineLimit) continue;
    std::fprintf(stderr, "%s: line %zu is longer than %zu bytes; the settings reader ignores the rest of it\n",
                 path.c_str(), number, kSettingsLineLimit);
  }
}

std::uint64_t reply_budget_bytes(const std::string& text) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  constexpr std::uint64_t kMostMiB = UINT64_MAX / kMiB;
  std::uint64_t mib = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kDefaultReplyBudgetMB * kMiB;
    mib = mib > kMostMiB ? mib : mib * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (mib == 0) return kDefaultReplyBudgetMB * kMiB;
  return mib > kMostMiB ? UINT64_MAX : mib * kMiB;
}

std::optional<std::string> read_record_root() {
  std::optional<std::string> root = platform::get_env("TAVROOT");
  if (!root) return std::nullopt;
  // Read anew every time, so an edit of "fileDir" holds from the next request
  // on. The reader is given the bytes rather than the name: its own stream
  // takes twice the system calls. It stops at the first NUL byte of a text,
  // though, where it reads a file line by line; such a file it reads itself.
  const std::string path = settings_file_path(*root);
  const std::optional<std::string> text = platform::read_whole_file(path);
  if (!text) return std::string();
  if (text->find('\0') != std::string::npos) return INIReader(path).Get("base", "fileDir", "");
  // The value follows from the text alone, and the text nearly always is
  // the one read for the request before: parsing it again would be a tenth
  // of a small query.
  thread_local std::optional<std::pair<std::string, std::string>> last;  // text, fileDir
  if (!last || last->first != *text) {
    last.emplace(*text, INIReader(text->data(), text->size()).Get("base", "fileDir", ""));
  }
  return last->second;
}
