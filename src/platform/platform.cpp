// POSIX implementation of the operating-system layer.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#ifdef _WIN32
// TODO: Windows branch (_access, _stat64, _findfirst64 and friends); it needs a
// Windows toolchain to build and test, which this project does not have yet.
#error "platform: the Windows implementation is not written yet"
#else
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

// Splits at the separator, dropping empty components; `absolute` tells
// whether the path started at the root.
std::vector<std::string> split_components(const std::string& path, bool* absolute) {
  std::vector<std::string> parts;
  *absolute = !path.empty() && path[0] == kPathSeparator;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(kPathSeparator, start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::optional<std::string> get_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool is_regular_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<FileIdentity> file_identity(const std::string& path) {
#if defined(STATX_SIZE)
  // Size and inode only. A query that reads a file's times makes the next
  // write to it stamp a new, finer time, which costs that write a journalled
  // inode update: the log is asked before each of its lines. Where the call
  // is missing or refused, the plain query below answers.
  struct statx extended;
  if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_SIZE | STATX_INO, &extended) == 0) {
    if ((extended.stx_mask & (STATX_SIZE | STATX_INO)) == (STATX_SIZE | STATX_INO)) {
      return FileIdentity{static_cast<std::uint64_t>(extended.stx_size),
                          static_cast<std::uint64_t>(makedev(extended.stx_dev_major, extended.stx_dev_minor)),
                          static_cast<std::uint64_t>(extended.stx_ino)};
    }
  } else if (errno != ENOSYS && errno != EPERM) {
    return std::nullopt;
  }
#endif
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  const std::optional<FileIdentity> identity = file_identity(path);
  if (!identity) return std::nullopt;
  return identity->size;
}

namespace {

std::size_t read_fd_at(int fd, std::uint64_t offset, char* buffer, std::size_t size) {
  if (fd < 0 || size == 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : static_cast<std::size_t>(n);
  }
}

FileStamp stamp_of(const struct stat& info) {
  return FileStamp{static_cast<std::uint64_t>(info.st_size),
                   static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                   static_cast<std::uint64_t>(info.st_ino),
                   static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

}  // namespace

std::optional<FileStamp> regular_file_stamp(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return stamp_of(info);
}

std::optional<FileStamp> file_stamp(std::FILE* file) {
  struct stat info;
  if (file == nullptr || ::fstat(::fileno(file), &info) != 0) return std::nullopt;
  return stamp_of(info);
}

std::size_t read_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size) {
  return file == nullptr ? 0 : read_fd_at(::fileno(file), offset, buffer, size);
}

bool seek_to(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::string join_path(const std::string& dir, const std::string& name) {
  std::string joined;
  joined.reserve(dir.size() + 1 + name.size());
  joined += dir;
  joined += kPathSeparator;
  joined += name;
  return joined;
}

std::optional<std::string> executable_path() {
  // The link's target has no size known in advance; grow until it fits.
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void keep_freed_memory() {
#if defined(__GLIBC__)
  // The largest mapping threshold the C library accepts: texts up to it come
  // from the heap and are reused; only larger ones are mapped afresh.
  ::mallopt(M_MMAP_THRESHOLD, 12 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
}

void keep_apart(std::thread& helper) {
#if defined(__linux__)
  const int here = ::sched_getcpu();
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (here < 0 || here >= CPU_SETSIZE || ::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  CPU_CLR(here, &allowed);
  if (CPU_COUNT(&allowed) == 0) return;
  // Best effort: where the mask is refused, the thread runs wherever it may.
  (void)::pthread_setaffinity_np(helper.native_handle(), sizeof allowed, &allowed);
#else
  (void)helper;
#endif
}

void release_free_memory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

std::optional<std::uint64_t> held_free_memory() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
  return static_cast<std::uint64_t>(::mallinfo2().fordblks);
#else
  return std::nullopt;
#endif
}

bool rename_replacing(const std::string& from, const std::string& to) {
  // A handle on the file about to be replaced keeps its blocks after its name
  // goes; they are freed when the handle closes. Never blocks on a FIFO.
  const int held = ::open(to.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  // Onto a free name first: ext4 writes out all of a file that is renamed
  // over another one before the rename returns (its guard for programs that
  // replace a file by renaming a new one over it), milliseconds for a log of
  // 50 MB. Where the name is taken, it is freed just before the rename.
  bool renamed = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
  if (!renamed && errno == EEXIST) {
    ::unlink(to.c_str());
    renamed = ::rename(from.c_str(), to.c_str()) == 0;
  } else if (!renamed && (errno == EINVAL || errno == ENOSYS)) {
    renamed = ::rename(from.c_str(), to.c_str()) == 0;  // a file system without the flag
  }
  if (held >= 0) {
    try {
      std::thread([held] { ::close(held); }).detach();
    } catch (const std::system_error&) {
      ::close(held);  // no thread to be had: freed here
    }
  }
  return renamed;
}

void ignore_broken_pipes() { ::signal(SIGPIPE, SIG_IGN); }

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path) {
  close();
  m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (m_fd < 0) {
    m_error = std::strerror(errno);
    return false;
  }
  struct stat info;
  if (::fstat(m_fd, &info) == 0) {
    m_device = static_cast<std::uint64_t>(info.st_dev);
    m_inode = static_cast<std::uint64_t>(info.st_ino);
  }
  return true;
}

bool AppendFile::is(const FileIdentity& identity) const {
  return m_fd >= 0 && identity.device == m_device && identity.inode == m_inode;
}

bool AppendFile::write(const std::string_view* pieces, std::size_t count, bool* some_written) {
  if (some_written != nullptr) *some_written = false;
  if (m_fd < 0) return false;
  // One writev for the whole line; a short write (a full disk, a signal) goes
  // on from where it stopped.
  constexpr std::size_t kMostPieces = 8;
  struct iovec parts[kMostPieces];
  std::size_t used = 0;
  for (std::size_t i = 0; i < count && used < kMostPieces; ++i) {
    if (pieces[i].empty()) continue;
    parts[used].iov_base = const_cast<char*>(pieces[i].data());
    parts[used].iov_len = pieces[i].size();
    ++used;
  }
  struct iovec* next = parts;
  while (used > 0) {
    const ssize_t written = ::writev(m_fd, next, static_cast<int>(used));
    if (written < 0) {
      if (errno == EINTR) continue;
      m_error = std::strerror(errno);
      return false;
    }
    if (written > 0 && some_written != nullptr) *some_written = true;
    std::size_t left = static_cast<std::size_t>(written);
    while (used > 0 && left >= next->iov_len) {
      left -= next->iov_len;
      ++next;
      --used;
    }
    if (used > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + left;
      next->iov_len -= left;
    }
  }
  return true;
}

void AppendFile::close() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
}

ReadFile::~ReadFile() { close(); }

bool ReadFile::open(const std::string& path, bool regular_only) {
  close();
  m_ended = false;
  m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0 || !regular_only) return m_fd >= 0;
  struct stat info;
  if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) close();
  return m_fd >= 0;
}

bool ReadFile::seek(std::uint64_t offset) {
  if (m_fd < 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
  // A short read before the seek said nothing of the bytes from here on.
  m_ended = false;
  return true;
}

std::size_t ReadFile::read(char* buffer, std::size_t size) {
  if (m_fd < 0 || m_ended || size == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_ended = true;
      return 0;
    }
    if (static_cast<std::size_t>(n) < size) m_ended = true;
    return static_cast<std::size_t>(n);
  }
}

std::size_t ReadFile::read_at(std::uint64_t offset, char* buffer, std::size_t size) {
  return read_fd_at(m_fd, offset, buffer, size);
}

void ReadFile::close() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
}

std::optional<std::string> read_whole_file(const std::string& path, bool regular_only) {
  ReadFile file;
  if (!file.open(path, regular_only)) return std::nullopt;
  // Read through the stack, so that a small file costs one small block of
  // the heap: a large one makes the allocator tidy up all its small ones.
  char buffer[4096];
  std::string content;
  while (const std::size_t n = file.read(buffer, sizeof buffer)) content.append(buffer, n);
  return content;
}

std::int64_t now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

LocalTime local_time(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts;
  std::memset(&parts, 0, sizeof parts);
  if (::localtime_r(&t, &parts) == nullptr) {
    // Out of the range the C library can convert: report the epoch rather
    // than uninitialised fields.
    return LocalTime{1970, 1, 1, 0, 0, 0};
  }
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::optional<std::vector<DirEntry>> list_dir(const std::string& dir) {
  // getdents64 straight into a stack buffer: opendir would add a status query
  // and a heap buffer to every station listing, one per request.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<DirEntry> entries;
  alignas(8) char buffer[16384];
  for (;;) {
    const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      // The kernel's record layout: inode, offset, record length, type, name.
      unsigned short length;
      std::memcpy(&length, buffer + at + 16, sizeof length);
      const unsigned char type = static_cast<unsigned char>(buffer[at + 18]);
      const char* name = buffer + at + 19;
      at += length;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      bool is_dir = false;
      if (type == DT_DIR) {
        is_dir = true;
      } else if (type == DT_UNKNOWN) {
        // Some file systems do not fill the type; lstat so that a link to a
        // directory still does not count as one.
        struct stat info;
        is_dir = ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
      }
      entries.push_back(DirEntry{name, is_dir});
    }
  }
  ::close(fd);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return listing_less(a.name, b.name); });
  return entries;
}

std::string resolve_case_insensitive(const std::string& path) {
  if (path.empty() || file_exists(path)) return path;
  bool absolute = false;
  std::vector<std::string> parts = split_components(path, &absolute);
  std::string resolved = absolute ? std::string(1, kPathSeparator) : std::string();
  for (const std::string& part : parts) {
    std::string candidate;
    if (resolved.empty()) {
      candidate = part;
    } else if (resolved.back() == kPathSeparator) {
      candidate = resolved + part;
    } else {
      candidate = join_path(resolved, part);
    }
    if (part == "." || part == ".." || file_exists(candidate)) {
      resolved = candidate;
      continue;
    }
    const std::string parent = resolved.empty() ? std::string(".") : resolved;
    std::optional<std::vector<DirEntry>> entries = list_dir(parent);
    if (!entries) return path;
    auto match = std::find_if(entries->begin(), entries->end(), [&](const DirEntry& e) {
      return equals_ignoring_case(e.name, part);
    });
    if (match == entries->end()) return path;
    if (resolved.empty()) {
      resolved = match->name;
    } else if (resolved.back() == kPathSeparator) {
      resolved += match->name;
    } else {
      resolved = join_path(resolved, match->name);
    }
  }
  return resolved;
}

}  // namespace platform
