// Helpers for end-to-end tests that run the real service binary and talk raw
// HTTP to it on 127.0.0.1: an installation root with its settings file, the
// service process itself, and a byte-exact HTTP client.
#ifndef TESTS_SUPPORT_E2E_SUPPORT_H_
#define TESTS_SUPPORT_E2E_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/chunked_reply.h"
#include "support/test_files.h"

namespace e2e {

// Writes all of `bytes` to socket `fd` (no SIGPIPE); false when the peer is gone.
bool send_all(int fd, const std::string& bytes);

// A socket connected to 127.0.0.1:`port`, or -1. A `receive_buffer` (bytes)
// is set before connecting, so the window offered to the server is small.
int connect_loopback(unsigned short port, int receive_buffer = 0);

// Milliseconds left until `deadline` on the steady clock, never negative.
int remaining_ms(std::chrono::steady_clock::time_point deadline);

// The keys of section "base" of ComTrade.ini; an absent key is left out of
// the file, so the service falls back to its default.
struct Settings {
  std::optional<std::string> file_dir;
  std::optional<std::string> log_dir;
  std::optional<std::string> port;
  // Appended to the file as it is, for tests of the file's syntax.
  std::string extra;
};

// Creates <root>/cfg/ComTrade.ini from `settings` and returns its path.
std::filesystem::path write_install_root(const std::filesystem::path& root,
                                         const Settings& settings);

// A TCP port that was free a moment ago (bound to port 0, read, closed).
unsigned short free_port();
// Whether nothing listens on `port` right now (a bind on it succeeds).
bool port_is_free(unsigned short port);

// The service binary running as a child process. Its standard output and
// standard error go to files under a folder of its own.
class ServiceProcess {
 public:
  struct Options {
    // TAVROOT for the child; nullopt leaves it unset. The rest of the test's
    // environment is passed on (sanitizer options among it).
    std::optional<std::string> tavroot;
    // The child's working directory.
    std::filesystem::path working_dir;
    // Standard output a pipe whose reading end this object holds (and never
    // reads) instead of a file; stdout_text() is then "".
    bool stdout_pipe = false;
    // The child's limit on open descriptors (soft and hard); 0 leaves the
    // test's own.
    unsigned descriptor_limit = 0;
    // Descriptors the child inherits open beyond the standard three, as a
    // careless parent hands them down.
    unsigned handed_down = 0;
  };

  // Starts the child at once.
  explicit ServiceProcess(const Options& options);
  // Kills the child if it still runs and reaps it.
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Waits until 127.0.0.1:`port` accepts a connection. False when the child
  // exits first or `timeout` passes.
  bool wait_listening(unsigned short port,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The exit code (255 for -1), or nullopt when the child has not ended
  // within `timeout` or was ended by a signal.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool running();
  // Closes the reading end of the standard output pipe: from then on the
  // child's writes to it fail as they do when a log collector goes away.
  void close_stdout_reader();
  // What the child has written so far.
  std::string stdout_text() const;
  std::string stderr_text() const;
  // Polls stdout_text() until it contains `text`; true when it does in time.
  bool wait_stdout_contains(const std::string& text,
                            std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  TempDir m_output_dir;
  pid_t m_pid = -1;
  int m_stdout_reader = -1;
  std::optional<int> m_status;  // raw wait status once reaped
};

// The service started on a fresh free port with its own installation root
// (TAVROOT), working directory and log file, waiting for requests.
class RunningService {
 public:
  // Absent `port` and `log_dir` are filled in (a free port; "service.log" in
  // the working directory); `file_dir` is passed as given. `stdout_pipe` as
  // in ServiceProcess::Options, and so is `descriptor_limit`.
  explicit RunningService(Settings settings = {}, bool stdout_pipe = false,
                          unsigned descriptor_limit = 0);
  // Whether the service accepted a connection in time.
  bool ready() const { return m_ready; }
  unsigned short port() const { return m_port; }
  const std::filesystem::path& root() const { return m_root.path(); }
  const std::filesystem::path& work_dir() const { return m_work.path(); }
  std::filesystem::path log_path() const { return m_log_path; }
  ServiceProcess& process() { return *m_process; }
  // The settings file, to edit between requests.
  std::filesystem::path settings_path() const;

 private:
  TempDir m_root;
  TempDir m_work;
  std::filesystem::path m_log_path;
  unsigned short m_port = 0;
  bool m_ready = false;
  std::optional<ServiceProcess> m_process;
};

// One client connection to 127.0.0.1, byte for byte.
class HttpClient {
 public:
  // Connects at once; connected() tells whether it worked. A
  // `receive_buffer` (bytes) keeps what the kernel takes for the client
  // small, so a client that reads slowly or not at all is felt at once.
  explicit HttpClient(unsigned short port, int receive_buffer = 0);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  bool connected() const { return m_fd >= 0; }
  // Sends all of `bytes`; false when the peer is gone.
  bool send(const std::string& bytes);
  // Ends the sending side (a FIN); the client can still read.
  void end_sending();
  // At most `most` bytes: what has arrived, or else what arrives first
  // within `timeout`; "" when nothing does.
  std::string read_some(std::size_t most, std::chrono::milliseconds timeout);
  // Everything that arrives until `timeout` passes or the peer closes.
  std::string read_for(std::chrono::milliseconds timeout);
  // Bytes up to and including the first `marker`; on timeout or close, what
  // arrived (without the marker).
  std::string read_until(const std::string& marker,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5));

  struct ChunkedReply {
    bool complete = false;  // the closing chunk arrived
    std::string raw;        // the reply's bytes as sent, head included
    std::string head;       // status line and headers, up to "\r\n\r\n" included
    std::string body;       // the chunks' data joined
  };
  // Reads exactly one chunked reply; bytes after it stay for the next call.
  ChunkedReply read_chunked_reply(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when the peer has closed the connection (reading gives end of file)
  // within `timeout`; pending bytes are discarded.
  bool wait_closed(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  // Reads more into m_pending; false on close, error or deadline.
  bool fill(std::chrono::steady_clock::time_point deadline);

  int m_fd = -1;
  std::string m_pending;
};

// "POST <uri> HTTP/1.1\r\nHost: x\r\nContent-Length: <n>\r\n\r\n<body>".
std::string post(const std::string& uri, const std::string& body);
// The same with method GET.
std::string get(const std::string& uri, const std::string& body = "");

// One request on a fresh connection; its chunked reply.
HttpClient::ChunkedReply ask(unsigned short port, const std::string& request);

}  // namespace e2e

#endif  // TESTS_SUPPORT_E2E_SUPPORT_H_
