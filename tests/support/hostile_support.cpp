// Raw sockets, /proc lookups and descriptor limits for the hostile tests.
#include "support/hostile_support.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "support/e2e_support.h"

namespace hostile {

namespace {

using Clock = std::chrono::steady_clock;
using e2e::remaining_ms;

// A "<field> <n> kB" line of /proc/<pid>/status.
std::optional<long> status_kib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size(), field) == 0) {
      return std::strtol(line.c_str() + field.size(), nullptr, 10);
    }
  }
  return std::nullopt;
}

}  // namespace

bool sanitized() {
  const char* value = std::getenv("COMTRADE_SANITIZED");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

int scaled(int plain, int divisor) {
  if (!sanitized() || divisor <= 1) return plain;
  return plain / divisor < 1 ? 1 : plain / divisor;
}

bool ensure_fd_limit(unsigned long wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) return false;
    limit.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  }
  return true;
}

std::optional<pid_t> pid_with_cwd(const std::filesystem::path& dir) {
  std::error_code ec;
  const std::filesystem::path wanted = std::filesystem::canonical(dir, ec);
  if (ec) return std::nullopt;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    const std::filesystem::path cwd = std::filesystem::read_symlink(entry.path() / "cwd", link_ec);
    if (!link_ec && cwd == wanted) return static_cast<pid_t>(std::stol(name));
  }
  return std::nullopt;
}

std::optional<long> resident_kib(pid_t pid) { return status_kib(pid, "VmRSS:"); }

std::optional<long> peak_resident_kib(pid_t pid) { return status_kib(pid, "VmHWM:"); }

void shrink_sanitizer_quarantine() {
  if (!sanitized()) return;
  const char* options = std::getenv("ASAN_OPTIONS");
  std::string merged = options != nullptr ? std::string(options) + ":" : std::string();
  ::setenv("ASAN_OPTIONS", (merged + "quarantine_size_mb=4").c_str(), 1);
}

RawSocket::RawSocket(unsigned short port, int receive_buffer)
    : m_fd(e2e::connect_loopback(port, receive_buffer)) {
  int on = 1;
  if (m_fd >= 0) ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

RawSocket::~RawSocket() { close(); }

bool RawSocket::send(const std::string& bytes) { return e2e::send_all(m_fd, bytes); }

std::string RawSocket::receive_some(std::size_t limit, std::chrono::milliseconds timeout) {
  if (m_fd < 0) return "";
  pollfd entry{m_fd, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) return "";
  std::string bytes(limit, '\0');
  ssize_t n = ::recv(m_fd, &bytes[0], limit, 0);
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

std::string RawSocket::receive_exactly(std::size_t total, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string bytes;
  while (bytes.size() < total && Clock::now() < deadline) {
    std::string more = receive_some(total - bytes.size(),
                                    std::chrono::milliseconds(remaining_ms(deadline)));
    if (more.empty()) break;
    bytes += more;
  }
  return bytes;
}

std::string RawSocket::receive_until_closed(std::chrono::milliseconds timeout, bool* closed) {
  const auto deadline = Clock::now() + timeout;
  std::string bytes;
  *closed = false;
  char buffer[1 << 16];
  while (m_fd >= 0) {
    pollfd entry{m_fd, POLLIN, 0};
    if (::poll(&entry, 1, remaining_ms(deadline)) <= 0) break;
    ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *closed = true;
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

void RawSocket::shutdown_send() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_WR);
}

void RawSocket::reset() {
  if (m_fd < 0) return;
  linger option{1, 0};
  ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  close();
}

void RawSocket::close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

}  // namespace hostile
