// Helpers for tests that treat the real service roughly: raw sockets with
// options a polite client never sets, the service's process id and resident
// memory, the descriptor limit, and scaling for sanitizer builds.
#ifndef TESTS_SUPPORT_HOSTILE_SUPPORT_H_
#define TESTS_SUPPORT_HOSTILE_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace hostile {

// True when COMTRADE_SANITIZED is set to anything but "" or "0": the service
// then runs several times slower and tests scale their counts down.
bool sanitized();
// `plain` in a plain build, `plain` / `divisor` (at least 1) under sanitizers.
int scaled(int plain, int divisor);

// Raises this process's soft RLIMIT_NOFILE to at least `wanted` when the hard
// limit allows it; children started afterwards inherit it. Returns whether
// the soft limit is now at least `wanted`.
bool ensure_fd_limit(unsigned long wanted);

// The id of the process whose working directory is `dir`, found through
// /proc; nullopt when there is none.
std::optional<pid_t> pid_with_cwd(const std::filesystem::path& dir);
// VmRSS of process `pid` in KiB, read from /proc/<pid>/status.
std::optional<long> resident_kib(pid_t pid);
// VmHWM of process `pid` in KiB: the highest VmRSS it has had so far.
std::optional<long> peak_resident_kib(pid_t pid);
// Shrinks AddressSanitizer's quarantine of freed blocks for services started
// from now on (sanitized builds only): freed blocks wait there and count as
// resident, which would hide what is live.
void shrink_sanitizer_quarantine();

// A TCP connection to 127.0.0.1 that does exactly what the test says.
class RawSocket {
 public:
  // Connects at once, with TCP_NODELAY so that small sends leave one by one.
  // `receive_buffer` > 0 sets SO_RCVBUF before connecting, so the window the
  // peer sees is small from the first byte.
  explicit RawSocket(unsigned short port, int receive_buffer = 0);
  ~RawSocket();
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  bool connected() const { return m_fd >= 0; }
  // Sends all of `bytes`; false when the peer is gone.
  bool send(const std::string& bytes);
  // At most `limit` bytes, waiting up to `timeout` for the first of them;
  // "" on timeout, close or error.
  std::string receive_some(std::size_t limit, std::chrono::milliseconds timeout);
  // Reads until `total` bytes arrived, the peer closes or `timeout` passes.
  std::string receive_exactly(std::size_t total, std::chrono::milliseconds timeout);
  // Everything until the peer closes or `timeout` passes; sets `closed` to
  // whether the peer closed (end of file or reset).
  std::string receive_until_closed(std::chrono::milliseconds timeout, bool* closed);
  // Ends the sending side: the peer reads end of file after what was sent.
  void shutdown_send();
  // Closes with SO_LINGER 0, so the peer sees a reset instead of an orderly end.
  void reset();
  void close();

 private:
  int m_fd = -1;
};

}  // namespace hostile

#endif  // TESTS_SUPPORT_HOSTILE_SUPPORT_H_
