// The operating-system layer: everything the service needs from the OS (the
// environment, files by name, the clock, directory listings, path joining)
// goes through here, so the rest of the code never includes an OS header.
// Windows file-name semantics are kept on POSIX: listings come sorted like an
// NTFS listing and a missing name falls back to a case-insensitive match.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/gbk_name.h"

namespace platform {

// The native path separator.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The value of environment variable `name`, or nullopt when it is not set.
std::optional<std::string> get_env(const char* name);

// Whether anything exists at `path` (the existence test of `_access` mode 0).
bool file_exists(const std::string& path);

// Whether `path` names a regular file, symbolic links followed. Record files
// are opened only when it does: opening a FIFO blocks the one I/O thread
// until some writer appears, and a device such as /dev/zero never ends.
bool is_regular_file(const std::string& path);

// Size in bytes of the file at `path`, asked of the file system by name (not
// through an open stream); nullopt when the query fails.
std::optional<std::uint64_t> file_size(const std::string& path);

// Which file a name stands for, and its size.
struct FileIdentity {
  std::uint64_t size;
  std::uint64_t device;
  std::uint64_t inode;
};
// The identity of what `path` names now, asked by name in one query; nullopt
// when nothing is there or the query fails.
std::optional<FileIdentity> file_identity(const std::string& path);

// What tells one version of a file from another without reading it.
struct FileStamp {
  std::uint64_t size;
  std::int64_t modified_ns;  // the last change of its content
  std::uint64_t inode;       // a file put in its place by rename has another
  // The last change of its content or attributes: unlike the modification
  // time, nobody can set it back (a copy that keeps times, say).
  std::int64_t changed_ns;
};
// The stamp of the regular file at `path`, symbolic links followed; nullopt
// for anything else or when the query fails.
std::optional<FileStamp> regular_file_stamp(const std::string& path);
// The stamp of the open `file`: the version it reads even when its name has
// since been given to another.
std::optional<FileStamp> file_stamp(std::FILE* file);
// Up to `size` bytes of the open `file` from byte `offset` on, without
// moving its position; 0 at the end and after a failure.
std::size_t read_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size);

// Positions `file` at byte `offset` from its start, offsets past 2 GiB
// included. False when the file cannot be positioned there.
bool seek_to(std::FILE* file, std::uint64_t offset);

// `dir` + separator + `name`; `name` alone when `dir` is empty is NOT done:
// an empty `dir` gives separator + `name`, as the service's joins always did.
std::string join_path(const std::string& dir, const std::string& name);

// The absolute path of the running executable, symbolic links resolved, or
// nullopt when the operating system does not tell. Installed files are found
// relative to it, so the service runs from wherever its tree was unpacked.
std::optional<std::string> executable_path();

// Makes the C library keep freed memory for reuse instead of returning it at
// once. A channel-data answer takes tens to hundreds of megabytes, and pages
// handed back after one request must be faulted in one by one by the next,
// which costs more than producing the values. Call once, at start.
void keep_freed_memory();

// Hands heap pages that are free but still held by the C library back to the
// operating system. Freed answers leave holes the allocator keeps for reuse;
// without this the resident size of a long-running service follows the
// largest mix of answers it ever held at once rather than what is live.
void release_free_memory();
// Bytes of heap memory that are free but still held by the C library (what
// release_free_memory would hand back, about); nullopt where it cannot say.
std::optional<std::uint64_t> held_free_memory();

// Renames `from` to `to`, replacing the file `to` names, as rename does; but
// what the replaced file held is freed on a thread of its own: the file
// system takes tens of milliseconds to delete a large file, which the caller
// need not wait for. The names are as after a plain rename when this
// returns, but `to` is not replaced in one step: for a moment no file has
// that name. False when the rename fails; a missing `from` leaves `to` as it
// was.
bool rename_replacing(const std::string& from, const std::string& to);

// Keeps `helper`, a thread just started to work beside the calling one, off
// the processor the caller runs on, for as long as it runs, where the process
// may use another. A new thread otherwise begins on its parent's processor
// and may wait there for milliseconds, while the other one idles, before the
// system moves it. Does nothing where processors cannot be chosen.
void keep_apart(std::thread& helper);

// Makes a write to a pipe or socket whose reader has gone fail with an error
// instead of ending the process. Standard output is often a pipe to a log
// collector that restarts; its lines may be lost, the service must go on.
// Call once, at start.
void ignore_broken_pipes();

// A file opened for appending whose every write is one system call, so a
// line reaches the file whole before the call returns and writers of other
// processes never split it.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Opens `path` for appending, creating it when missing (its folder is
  // not). False when it cannot be opened; a file already open is closed
  // first.
  bool open(const std::string& path);
  bool is_open() const { return m_fd >= 0; }
  // Whether `identity` is that of the open file: false once its name has
  // been deleted, renamed or given to another file.
  bool is(const FileIdentity& identity) const;
  // Writes `count` pieces in order, as one write. False when not every byte
  // could be written; `written` then tells whether some were.
  bool write(const std::string_view* pieces, std::size_t count, bool* some_written = nullptr);
  // The reason of the last failed open or write, as the system words it.
  const std::string& error() const { return m_error; }
  void close();

 private:
  int m_fd = -1;
  std::uint64_t m_device = 0;
  std::uint64_t m_inode = 0;
  std::string m_error;
};

// A file read by descriptor, for the small files read on every request
// (settings, configurations): a stream costs a status query and more to set
// up than such a file takes to read.
class ReadFile {
 public:
  ReadFile() = default;
  ReadFile(const ReadFile&) = delete;
  ReadFile& operator=(const ReadFile&) = delete;
  ~ReadFile();

  // Opens `path` for reading without blocking on a FIFO or device; with
  // `regular_only` anything but a regular file is refused (closed again).
  // False when not opened; a file already open is closed first.
  bool open(const std::string& path, bool regular_only);
  // Moves to byte `offset`, where reading goes on even after the end was
  // met; false when the file cannot be positioned there.
  bool seek(std::uint64_t offset);
  // Up to `size` bytes into `buffer`; 0 at the end and after a failure. A
  // read shorter than asked is taken as the end, as it is for a regular
  // file, so the end costs no system call of its own.
  std::size_t read(char* buffer, std::size_t size);
  // Up to `size` bytes from byte `offset` on, without moving the position:
  // one system call where a seek and a read would be two. 0 at the end and
  // after a failure.
  std::size_t read_at(std::uint64_t offset, char* buffer, std::size_t size);
  void close();

 private:
  int m_fd = -1;
  bool m_ended = false;
};

// The content of the file at `path`, read through ReadFile: nullopt when it
// cannot be opened (or with `regular_only` is not a regular file); a read
// that fails ends the content there.
std::optional<std::string> read_whole_file(const std::string& path, bool regular_only = false);

// Seconds since 1970-01-01 UTC.
std::int64_t now_seconds();

struct LocalTime {
  int year;    // full year, e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..60
};
// `seconds` since 1970 converted to the local time zone.
LocalTime local_time(std::int64_t seconds);

struct DirEntry {
  std::string name;
  // True only for a real directory; a symbolic link is never a directory here,
  // so walks never follow links (no loops).
  bool is_dir;
};

// The entries of directory `dir` without "." and "..", in `listing_less`
// order.
// Returns nullopt when `dir` cannot be opened as a directory.
std::optional<std::vector<DirEntry>> list_dir(const std::string& dir);

// The path to open for `path`: `path` itself when it exists; otherwise, walking
// its components from the left, each missing component is replaced by the
// entry of its parent directory whose name `equals_ignoring_case` it (the
// first such entry in listing order). When no replacement exists the
// original `path` is returned, so opening it fails in the ordinary way.
std::string resolve_case_insensitive(const std::string& path);

}  // namespace platform

#endif  // PLATFORM_PLATFORM_H_
