// Measuring side of scripts/bench.sh: times whole requests against a running
// service on 127.0.0.1, and the floors they are judged by (reading the data
// file; receiving a reply of the same size from a sender that does nothing
// but write it). Prints "name value" lines for the script's table.
//
//   service_bench ask PORT URI BODY RUNS    service: request to last reply byte
//   service_bench floor BYTES RUNS          minimal sender, same framing
//   service_bench read FILE RUNS [OFF LEN]  read a (cached) file, or LEN bytes from OFF, into a reused buffer
//   service_bench calls PORT BODY_FILE LOG SETTINGS STATION LINES
//                                           serves the system calls of the file list, nothing else
//   service_bench free-port                 a TCP port free a moment ago
//
// Times are medians in milliseconds of RUNS runs after one untimed run (the
// first of a process is several times slower). Exits non-zero when it
// cannot measure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/chunked_reply.h"

namespace {

using Clock = std::chrono::steady_clock;

// Large enough that a reply of tens of megabytes takes few calls to receive.
constexpr std::size_t kReceiveBytes = 4 * 1024 * 1024;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double milliseconds_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int connect_to(unsigned short port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

bool send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

struct Received {
  bool complete = false;
  std::size_t bytes = 0;    // the whole reply, head and framing included
  std::string start;        // its first bytes
  std::string end;          // its last bytes, to check the outcome
};

// Receives one reply whose body is a single chunk and the closing chunk, the
// shape both senders use, or a download of the length it gives. Only the head and the chunk-size line are
// looked at; the rest is counted as it arrives, as a client that keeps the
// body would have to at least do.
Received receive_reply(int fd, std::vector<char>& buffer) {
  Received reply;
  std::size_t expected = 0;  // total bytes, once the chunk size line is in
  while (!reply.complete) {
    const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return reply;
    if (reply.start.size() < 512) {
      reply.start.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(got),
                                                              512 - reply.start.size()));
    }
    reply.bytes += static_cast<std::size_t>(got);
    reply.end.append(buffer.data() + (got > 256 ? got - 256 : 0), got > 256 ? 256 : got);
    if (reply.end.size() > 256) reply.end.erase(0, reply.end.size() - 256);
    if (expected == 0) {
      const std::size_t head_end = reply.start.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      // A download carries its length; the JSON answers come as one chunk.
      const std::size_t length_at = reply.start.find("Content-Length: ");
      if (length_at != std::string::npos && length_at < head_end) {
        expected = head_end + 4 + std::strtoull(reply.start.c_str() + length_at + 16, nullptr, 10);
        reply.complete = reply.bytes >= expected;
        continue;
      }
      const std::size_t size_end = reply.start.find("\r\n", head_end + 4);
      if (size_end == std::string::npos) continue;
      const std::size_t chunk = std::strtoull(reply.start.c_str() + head_end + 4, nullptr, 16);
      expected = size_end + 2 + chunk + 2 + 5;  // data, its "\r\n", then "0\r\n\r\n"
    }
    reply.complete = reply.bytes >= expected;
  }
  return reply;
}

// One timed request on a fresh connection; negative when it failed.
double timed_request(unsigned short port, const std::string& request, std::vector<char>& buffer,
                     Received& reply) {
  const int fd = connect_to(port);
  if (fd < 0) return -1;
  const Clock::time_point start = Clock::now();
  const bool sent = send_all(fd, request.data(), request.size());
  reply = sent ? receive_reply(fd, buffer) : Received();
  const double elapsed = milliseconds_since(start);
  close(fd);
  return reply.complete ? elapsed : -1;
}

int run_requests(unsigned short port, const std::string& request, int runs) {
  std::vector<char> buffer(kReceiveBytes);
  std::vector<double> times;
  Received reply;
  // Untimed: the first request of a process takes several times as long.
  if (timed_request(port, request, buffer, reply) < 0) {
    std::fprintf(stderr, "service_bench: no complete reply from port %u\n", port);
    return 1;
  }
  for (int r = 0; r < runs; ++r) {
    const double ms = timed_request(port, request, buffer, reply);
    if (ms < 0) {
      std::fprintf(stderr, "service_bench: no complete reply from port %u\n", port);
      return 1;
    }
    times.push_back(ms);
  }
  std::printf("ms %.2f\nmin_ms %.2f\nmax_ms %.2f\nbytes %zu\nok %d\n", median(times),
              *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
              reply.bytes,
              reply.end.find("\"result\" : 200") != std::string::npos ||
                      reply.end.find("\"result\":200") != std::string::npos
                  ? 1
                  : 0);
  return 0;
}

std::string request_text(const std::string& uri, const std::string& body) {
  return "POST " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Accepts connections and answers each request with `reply` by plain
// blocking writes until the listening socket is shut down.
void serve_floor(int listener, const std::string& reply) {
  std::vector<char> request(64 * 1024);
  while (true) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    // The request is one small packet; its end is the blank line (no body
    // is sent to this sender).
    std::string seen;
    while (seen.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = recv(fd, request.data(), request.size(), 0);
      if (got <= 0) break;
      seen.append(request.data(), static_cast<std::size_t>(got));
    }
    send_all(fd, reply.data(), reply.size());
    close(fd);
  }
}

// Listens on `port` of the loopback address, or on a free one when it is 0,
// which `port` is then set to.
int listen_loopback(unsigned short& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 128) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

int run_floor(std::size_t bytes, int runs) {
  unsigned short port = 0;
  const int listener = listen_loopback(port);
  if (listener < 0) {
    std::perror("service_bench: listen");
    return 1;
  }
  // What a sender that has its answer ready puts on the wire: the service's
  // own head and framing.
  const std::string reply = e2e::chunked_reply_bytes(std::string(bytes, '7'));
  std::thread sender(serve_floor, listener, std::cref(reply));
  const int result = run_requests(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", runs);
  shutdown(listener, SHUT_RDWR);
  close(listener);
  sender.join();
  return result;
}

// Reads `length` bytes (all when 0) of `path` from `offset` on.
int run_read(const char* path, int runs, long long offset, std::size_t length) {
  std::vector<char> buffer(kReceiveBytes);
  std::vector<double> times;
  std::size_t total = 0;
  // Run 0 is untimed: the first read of a process takes several times as long.
  for (int r = 0; r <= runs; ++r) {
    const Clock::time_point start = Clock::now();
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr || fseeko(file, offset, SEEK_SET) != 0) {
      std::perror(path);
      return 1;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    total = 0;
    std::size_t got;
    while ((length == 0 || total < length) &&
           (got = std::fread(buffer.data(), 1, length == 0 ? buffer.size() : std::min(buffer.size(), length - total),
                             file)) > 0) {
      total += got;
    }
    std::fclose(file);
    if (r > 0) times.push_back(milliseconds_since(start));
  }
  std::printf("ms %.2f\nbytes %zu\n", median(times), total);
  return 0;
}

// What no implementation of the file list can do without: per request, the
// system calls it is specified to make, on the same files, and nothing else
// (no parsing, no formatting). Each log line is a size query by name and a
// write; the settings file is read after the first line and the station
// directory listed after it; the diagnostics go to standard output once; the
// answer is the text of `body_file`, framed. Like the service, it answers the
// requests that arrived together after reading them all. A request is taken
// to arrive in one piece, as a load tool sends it. Runs until killed.
int run_calls(unsigned short port, const char* body_file, const char* log_path, const char* settings_path,
              const char* station_dir, int lines) {
  std::string body;
  if (std::FILE* file = std::fopen(body_file, "rb")) {
    char piece[4096];
    std::size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) body.append(piece, got);
    std::fclose(file);
  }
  const int log = open(log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int listener = listen_loopback(port);
  const int poller = epoll_create1(EPOLL_CLOEXEC);
  if (log < 0 || listener < 0 || poller < 0) {
    std::perror("service_bench: calls");
    return 1;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listener;
  epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
  const std::string reply = e2e::chunked_reply_bytes(body);
  const std::string prefix = "[2026-12-9  8: 0: 0] :  ";
  const std::string message(40, 'm');
  const std::string suffix = " ->line(44)\n";
  iovec line[3] = {{const_cast<char*>(prefix.data()), prefix.size()},
                   {const_cast<char*>(message.data()), message.size()},
                   {const_cast<char*>(suffix.data()), suffix.size()}};
  std::vector<char> buffer(64 * 1024);
  std::vector<int> answered;
  epoll_event ready[64];
  for (;;) {
    const int count = epoll_wait(poller, ready, 64, -1);
    for (int i = 0; i < count; ++i) {
      const int fd = ready[i].data.fd;
      if (fd == listener) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) continue;
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        event.data.fd = client;
        epoll_ctl(poller, EPOLL_CTL_ADD, client, &event);
        continue;
      }
      if (recv(fd, buffer.data(), buffer.size(), 0) <= 0) {
        close(fd);
        continue;
      }
      for (int l = 0; l < lines; ++l) {
        struct statx size;
        statx(AT_FDCWD, log_path, 0, STATX_SIZE, &size);
        if (writev(log, line, 3) < 0) return 1;
        if (l > 0) continue;
        const int settings = open(settings_path, O_RDONLY | O_CLOEXEC);
        if (settings >= 0) {
          if (read(settings, buffer.data(), buffer.size()) < 0) return 1;
          close(settings);
        }
        const int station = open(station_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (station >= 0) {
          while (syscall(SYS_getdents64, station, buffer.data(), buffer.size()) > 0) {
          }
          close(station);
        }
      }
      if (write(STDOUT_FILENO, "val: \n", 6) < 0) return 1;
      answered.push_back(fd);
    }
    for (const int fd : answered) send_all(fd, reply.data(), reply.size());
    answered.clear();
  }
}

int run_free_port() {
  unsigned short port = 0;
  const int fd = listen_loopback(port);
  if (fd < 0) return 1;
  close(fd);
  std::printf("%u\n", port);
  return 0;
}

int usage() {
  std::fputs(
      "usage: service_bench ask PORT URI BODY RUNS | floor BYTES RUNS | read FILE RUNS [OFFSET LENGTH] |\n"
      "       calls PORT BODY_FILE LOG SETTINGS STATION LINES | free-port\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "ask" && argc == 6) {
    const int port = std::atoi(argv[2]);
    const int runs = std::max(1, std::atoi(argv[5]));
    if (port <= 0 || port > 65535) return usage();
    return run_requests(static_cast<unsigned short>(port), request_text(argv[3], argv[4]), runs);
  }
  if (command == "floor" && argc == 4) {
    return run_floor(std::strtoull(argv[2], nullptr, 10), std::max(1, std::atoi(argv[3])));
  }
  if (command == "read" && (argc == 4 || argc == 6)) {
    return run_read(argv[2], std::max(1, std::atoi(argv[3])), argc == 6 ? std::atoll(argv[4]) : 0,
                    argc == 6 ? std::strtoull(argv[5], nullptr, 10) : 0);
  }
  if (command == "calls" && argc == 8) {
    const int port = std::atoi(argv[2]);
    if (port <= 0 || port > 65535) return usage();
    return run_calls(static_cast<unsigned short>(port), argv[3], argv[4], argv[5], argv[6],
                     std::max(1, std::atoi(argv[7])));
  }
  if (command == "free-port" && argc == 2) return run_free_port();
  return usage();
}
