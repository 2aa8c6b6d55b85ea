// The record scan: which files of a station directory are records.
#include "comtrade_format/record_scan.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"

std::vector<std::string> g_station_vec;

namespace {

// Whether `text` is `extension` in any letter case.
bool is_extension(std::string_view text, const char* extension) {
  return platform::equals_ignoring_case(text, extension);
}

// The text after the first "." of a file name; the whole text after it must
// be the extension, so a.b.cfg is not a record. nullopt without a ".": such a
// name is never a record.
std::optional<std::string_view> extension_of(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return name.substr(dot + 1);
}

// Walks `dir` depth first; records count only when `collect` is set, since
// a client can open a record only directly inside its station directory.
void walk(const std::string& dir, bool collect);

// The walk of `dir`, whose entries are `entries`.
void walk_entries(const std::string& dir, const std::vector<platform::DirEntry>& entries, bool collect) {
  // A record kept both as a pair and as one .cff is listed once, as the pair.
  // Names match without regard to case, as they do when the record is opened.
  // Made at the first .cff only: most stations hold none.
  std::optional<std::set<std::string>> pairs;
  const auto is_pair = [&](std::string_view base) {
    if (!pairs) {
      pairs.emplace();
      for (const platform::DirEntry& entry : entries) {
        const std::optional<std::string_view> extension = extension_of(entry.name);
        if (!entry.is_dir && extension && is_extension(*extension, "cfg")) {
          pairs->insert(platform::fold_case(std::string_view(entry.name).substr(0, entry.name.find('.'))));
        }
      }
    }
    return pairs->count(platform::fold_case(base)) > 0;
  };
  for (const platform::DirEntry& entry : entries) {
    const std::string& name = entry.name;
    if (entry.is_dir) {
      std::cout << name << "\t<dir>\n";
      walk(platform::join_path(dir, name), false);
      continue;
    }
    const std::size_t underscore = name.find('_');
    const std::string_view shown = std::string_view(name).substr(underscore == std::string::npos ? 0 : underscore + 1);
    // One write a line: the stream's bookkeeping costs more than the bytes.
    char line[16] = "val: ";
    const std::size_t shown_bytes = std::min<std::size_t>(shown.size(), 4);
    shown.copy(line + 5, shown_bytes);
    line[5 + shown_bytes] = '\n';
    std::cout.write(line, static_cast<std::streamsize>(6 + shown_bytes));
    const std::optional<std::string_view> extension = extension_of(name);
    if (!collect || !extension) continue;
    const std::string_view base = std::string_view(name).substr(0, name.find('.'));
    // The 2013 combined form holds the whole record in one .cff.
    if (is_extension(*extension, "cfg") || (is_extension(*extension, "cff") && !is_pair(base))) {
      g_station_vec.emplace_back(base);
    }
  }
}

void walk(const std::string& dir, bool collect) {
  const auto entries = platform::list_dir(dir);
  if (entries) walk_entries(dir, *entries, collect);
}

}  // namespace

void scan_cfg_files(const std::string& dir) {
  g_station_vec.clear();
  // The name as given nearly always is the folder; listing it first spares
  // the look for a name that differs in case on every request.
  if (const auto entries = platform::list_dir(dir)) {
    walk_entries(dir, *entries, true);
    return;
  }
  walk(platform::resolve_case_insensitive(dir), true);
}
