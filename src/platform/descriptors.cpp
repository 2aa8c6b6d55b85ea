// Descriptor counting on POSIX: the limit from getrlimit, the open ones from
// the process's descriptor folder.
#include "platform/descriptors.h"

#include <dirent.h>
#include <sys/resource.h>

#include <cstdint>

namespace platform {

namespace {

std::size_t descriptor_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return static_cast<std::size_t>(limit.rlim_cur);
}

// Reading the folder takes a descriptor itself, which is given back; when
// none is left the folder cannot be read and every descriptor is taken.
std::size_t open_descriptors(std::size_t limit) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return limit;
  std::size_t open = 0;
  while (const struct dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++open;
  }
  ::closedir(dir);
  // The folder's own descriptor was counted.
  return open > 0 ? open - 1 : 0;
}

}  // namespace

DescriptorRoom descriptor_room() {
  const std::size_t limit = descriptor_limit();
  const std::size_t open = open_descriptors(limit);
  return {limit, open < limit ? limit - open : 0};
}

DescriptorRoom make_room_for_descriptors() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  return descriptor_room();
}

}  // namespace platform
