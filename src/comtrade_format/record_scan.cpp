// The record scan: which files of a station directory are records.
#include "comtrade_format/record_scan.h"

#include <iostream>

#include "platform/platform.h"

std::vector<std::string> g_station_vec;

namespace {

bool is_cfg_extension(const std::string& text) {
  if (text.size() != 3) return false;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(text[0]) == 'c' && lower(text[1]) == 'f' && lower(text[2]) == 'g';
}

// Walks `dir` depth first; records count only when `collect` is set, since
// a client can open a record only directly inside its station directory.
void walk(const std::string& dir, bool collect) {
  const auto entries = platform::list_dir(dir);
  if (!entries) return;
  for (const platform::DirEntry& entry : *entries) {
    const std::string& name = entry.name;
    if (entry.is_dir) {
      std::cout << name << "\t<dir>\n";
      walk(platform::join_path(dir, name), false);
      continue;
    }
    const std::size_t underscore = name.find('_');
    std::cout << "val: "
              << (underscore == std::string::npos ? name.substr(0, 4) : name.substr(underscore + 1, 4))
              << '\n';
    // The whole text after the first "." must be the extension: a.b.cfg is
    // not a record, and a name without any "." never is.
    const std::size_t dot = name.find('.');
    if (collect && dot != std::string::npos && is_cfg_extension(name.substr(dot + 1))) {
      g_station_vec.push_back(name.substr(0, dot));
    }
  }
}

}  // namespace

void scan_cfg_files(const std::string& dir) {
  g_station_vec.clear();
  walk(platform::resolve_case_insensitive(dir), true);
}
