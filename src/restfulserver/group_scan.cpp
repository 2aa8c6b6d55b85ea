// The group listing over the fixed group directory.
#include "restfulserver/group_scan.h"

#include <cstdio>
#include <optional>

#include "platform/platform.h"

const char kGroupDir[] = "D:/mirel/tools/files/comTradeFiles/test";

std::size_t g_dir_vec_size = 0;

void scan_group_dirs(const std::string& dir) {
  std::optional<std::vector<platform::DirEntry>> entries = platform::list_dir(dir);
  if (!entries) return;
  for (const platform::DirEntry& entry : *entries) {
    if (!entry.is_dir) continue;
    std::printf("%s\t<dir>\n", entry.name.c_str());
    ++g_dir_vec_size;
  }
  std::printf("DIR_VEC.size: %zu\n", g_dir_vec_size);
}
