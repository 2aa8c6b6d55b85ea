// Child processes and sockets for the end-to-end tests.
#include "support/e2e_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int connect_loopback(unsigned short port, int receive_buffer) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Set before connecting, so the window offered to the server is small.
  if (receive_buffer > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in address = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::filesystem::path write_install_root(const std::filesystem::path& root,
                                         const Settings& settings) {
  std::string text = "[base]\n";
  if (settings.file_dir) text += "fileDir=" + *settings.file_dir + "\n";
  if (settings.log_dir) text += "logDir=" + *settings.log_dir + "\n";
  if (settings.port) text += "port=" + *settings.port + "\n";
  text += settings.extra;
  std::filesystem::path ini = root / "cfg" / "ComTrade.ini";
  write_file(ini, text);
  return ini;
}

// ---- ports ----

unsigned short free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address = loopback(0);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t length = sizeof address;
  unsigned short port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool port_is_free(unsigned short port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = loopback(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}

// ---- ServiceProcess ----

ServiceProcess::ServiceProcess(const Options& options) {
  // Everything the child needs is prepared before fork: between fork and
  // exec only async-signal-safe calls are allowed in a threaded process.
  const std::string binary = COMTRADE_SERVICE_BIN;
  const std::string out_path = (m_output_dir.path() / "stdout").string();
  const std::string err_path = (m_output_dir.path() / "stderr").string();
  const std::string work_dir = options.working_dir.string();

  std::vector<std::string> env_texts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TAVROOT=", 8) == 0) continue;
    env_texts.emplace_back(*entry);
  }
  if (options.tavroot) env_texts.push_back("TAVROOT=" + *options.tavroot);
  std::vector<char*> envp;
  for (std::string& text : env_texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<char*> argv{const_cast<char*>(binary.c_str()), nullptr};

  int pipe_ends[2] = {-1, -1};
  if (options.stdout_pipe && ::pipe2(pipe_ends, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = options.stdout_pipe ? pipe_ends[1]
                                  : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    if (!work_dir.empty() && ::chdir(work_dir.c_str()) != 0) ::_exit(126);
    if (options.descriptor_limit > 0) {
      const struct rlimit limit = {options.descriptor_limit, options.descriptor_limit};
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(126);
    }
    for (unsigned i = 0; i < options.handed_down; ++i) {
      if (::dup(2) < 0) ::_exit(126);
    }
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  m_pid = pid;
  if (options.stdout_pipe) {
    ::close(pipe_ends[1]);
    m_stdout_reader = pipe_ends[0];
  }
}

ServiceProcess::~ServiceProcess() {
  if (m_pid > 0 && !m_status) {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
  close_stdout_reader();
}

void ServiceProcess::close_stdout_reader() {
  if (m_stdout_reader >= 0) ::close(m_stdout_reader);
  m_stdout_reader = -1;
}

bool ServiceProcess::running() {
  if (m_status) return false;
  int status = 0;
  pid_t done = ::waitpid(m_pid, &status, WNOHANG);
  if (done == m_pid) {
    m_status = status;
    return false;
  }
  return true;
}

bool ServiceProcess::wait_listening(unsigned short port, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (!running()) return false;
    int fd = connect_loopback(port);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::optional<int> ServiceProcess::wait_exit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (running() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!m_status || !WIFEXITED(*m_status)) return std::nullopt;
  return WEXITSTATUS(*m_status);
}

std::string ServiceProcess::stdout_text() const {
  return file_text(m_output_dir.path() / "stdout");
}

std::string ServiceProcess::stderr_text() const {
  return file_text(m_output_dir.path() / "stderr");
}

bool ServiceProcess::wait_stdout_contains(const std::string& text,
                                          std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (stdout_text().find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ---- RunningService ----

RunningService::RunningService(Settings settings, bool stdout_pipe, unsigned descriptor_limit) {
  const bool fixed_port = settings.port.has_value();
  if (!settings.log_dir) settings.log_dir = (m_work.path() / "service.log").string();
  m_log_path = *settings.log_dir;
  // A port picked as free can be taken by a neighbour before the service
  // binds it; then the service exits at once and another port is tried.
  for (int attempt = 0; attempt < 5 && !m_ready; ++attempt) {
    if (!fixed_port) settings.port = std::to_string(free_port());
    write_install_root(m_root.path(), settings);
    m_process.reset();
    m_process.emplace(ServiceProcess::Options{m_root.path().string(), m_work.path(), stdout_pipe,
                                              descriptor_limit});
    // The digits after the last ":" ("8000", "127.0.0.1:8000"); npos + 1 is 0.
    const std::string& port_text = *settings.port;
    m_port = static_cast<unsigned short>(
        std::strtoul(port_text.c_str() + port_text.rfind(':') + 1, nullptr, 10));
    m_ready = m_process->wait_listening(m_port);
    if (fixed_port) break;
  }
}

std::filesystem::path RunningService::settings_path() const {
  return m_root.path() / "cfg" / "ComTrade.ini";
}

// ---- HttpClient ----

HttpClient::HttpClient(unsigned short port, int receive_buffer)
    : m_fd(connect_loopback(port, receive_buffer)) {}

HttpClient::~HttpClient() {
  if (m_fd >= 0) ::close(m_fd);
}

bool HttpClient::send(const std::string& bytes) { return send_all(m_fd, bytes); }

void HttpClient::end_sending() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_WR);
}

bool HttpClient::fill(Clock::time_point deadline) {
  if (m_fd < 0) return false;
  pollfd entry{m_fd, POLLIN, 0};
  int ready = ::poll(&entry, 1, remaining_ms(deadline));
  if (ready <= 0) return false;
  char buffer[1 << 16];
  ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  m_pending.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::string HttpClient::read_some(std::size_t most, std::chrono::milliseconds timeout) {
  if (m_pending.empty()) fill(Clock::now() + timeout);
  std::string text = m_pending.substr(0, most);
  m_pending.erase(0, text.size());
  return text;
}

std::string HttpClient::read_for(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (fill(deadline)) {
  }
  std::string text;
  text.swap(m_pending);
  return text;
}

std::string HttpClient::read_until(const std::string& marker, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t at;
  std::size_t from = 0;  // only new bytes are searched: replies can be large
  while ((at = m_pending.find(marker, from)) == std::string::npos) {
    from = m_pending.size() < marker.size() ? 0 : m_pending.size() - marker.size() + 1;
    if (!fill(deadline)) {
      std::string text;
      text.swap(m_pending);
      return text;
    }
  }
  std::string text = m_pending.substr(0, at + marker.size());
  m_pending.erase(0, at + marker.size());
  return text;
}

HttpClient::ChunkedReply HttpClient::read_chunked_reply(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  ChunkedReply reply;
  std::size_t head_end;
  while ((head_end = m_pending.find("\r\n\r\n")) == std::string::npos) {
    if (!fill(deadline)) {
      reply.raw = m_pending;
      return reply;
    }
  }
  reply.head = m_pending.substr(0, head_end + 4);
  std::size_t pos = head_end + 4;
  // Walks the chunks in place; nothing is consumed until the reply is whole,
  // so a timeout leaves the bytes where they were.
  for (;;) {
    std::size_t line_end;
    while ((line_end = m_pending.find("\r\n", pos)) == std::string::npos) {
      if (!fill(deadline)) {
        reply.raw = m_pending;
        return reply;
      }
    }
    const std::string size_text = m_pending.substr(pos, line_end - pos);
    std::size_t size = 0;
    try {
      size = std::stoul(size_text, nullptr, 16);
    } catch (const std::exception&) {
      reply.raw = m_pending;
      return reply;
    }
    const std::size_t data_start = line_end + 2;
    const std::size_t chunk_end = data_start + size + 2;  // data + "\r\n"
    while (m_pending.size() < chunk_end) {
      if (!fill(deadline)) {
        reply.raw = m_pending;
        return reply;
      }
    }
    if (size == 0) {
      reply.complete = true;
      reply.raw = m_pending.substr(0, chunk_end);
      m_pending.erase(0, chunk_end);
      return reply;
    }
    reply.body.append(m_pending, data_start, size);
    pos = chunk_end;
  }
}

bool HttpClient::wait_closed(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    pollfd entry{m_fd, POLLIN, 0};
    if (::poll(&entry, 1, remaining_ms(deadline)) <= 0) return false;
    char buffer[4096];
    ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
  return false;
}

std::string post(const std::string& uri, const std::string& body) {
  return "POST " + uri + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string get(const std::string& uri, const std::string& body) {
  return "GET " + uri + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

HttpClient::ChunkedReply ask(unsigned short port, const std::string& request) {
  HttpClient client(port);
  if (!client.connected() || !client.send(request)) return {};
  return client.read_chunked_reply();
}

bool send_all(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

int remaining_ms(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace e2e
