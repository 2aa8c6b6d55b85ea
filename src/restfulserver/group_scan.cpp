// The group listing over the fixed group directory.
#include "restfulserver/group_scan.h"

#include <cstdio>
#include <optional>

#include "platform/platform.h"

const char kGroupDir[] = "D:/mirel/tools/files/comTradeFiles/test";

std::vector<std::string> DIR_VEC;

void scan_group_dirs(const std::string& dir) {
  std::optional<std::vector<platform::DirEntry>> entries = platform::list_dir(dir);
  if (!entries) return;
  for (const platform::DirEntry& entry : *entries) {
    if (!entry.is_dir) continue;
    std::printf("%s\t%s\n", entry.name.c_str(), dir.c_str());
    DIR_VEC.push_back(entry.name);
  }
  std::printf("DIR_VEC.size: %zu\n", DIR_VEC.size());
}
