// The HTTP transport: accepts connections, parses requests, writes raw reply
// bytes. The only module that includes Boost.Beast; everything above it sees a
// Request and a Connection it can queue bytes on.
#ifndef TRANSPORT_HTTP_SERVER_H_
#define TRANSPORT_HTTP_SERVER_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace transport {

struct Request {
  std::string method;
  std::string uri;    // the path only, without the query string
  std::string query;  // the text after "?", without it
  std::string body;
  // The one header a handler reads: the viewer's files answer 304 to it.
  std::string if_none_match;
};

// One client connection as a handler sees it. Pieces queued during a handler
// are written, in queue order, after the handler returns; writing never
// blocks the loop, a slow reader delays only its own connection. For a HEAD
// request only the status line and header are written; the body a handler
// queues after them is dropped.
class Connection {
 public:
  virtual ~Connection() = default;
  // Queues bytes owned by the connection from now on.
  virtual void send(std::string bytes) = 0;
  // Queues a text that may be queued more than once (or on other
  // connections) without being copied.
  virtual void send(std::shared_ptr<const std::string> text) = 0;
  // Ends the connection once what is queued has been written: its sending
  // side is closed then, so the client reads the end of the stream at once,
  // and nothing more it sends is answered. Other connections are untouched.
  // Does nothing by default, for connections that end with the request.
  virtual void close_after_queued() {}
};

// Called once per complete request, on the loop's thread.
using RequestHandler = std::function<void(Connection&, const Request&)>;

// Whether the answer to a request may be large (megabytes). Such requests
// wait, unread, while the reply budget is spent; all others go at once.
using LargeAnswerTest = std::function<bool(const Request&)>;

// The reply budget when nobody sets one.
constexpr std::uint64_t kDefaultReplyBudget = 512ull * 1024 * 1024;

// What the transport is holding and has done, as the metrics show it.
struct TransportStats {
  std::uint64_t bytes_sent = 0;        // bytes the sockets took since the start
  std::size_t open_connections = 0;
  std::uint64_t reply_bytes_queued = 0;  // the reply budget in use
  std::uint64_t reply_budget = 0;
  std::size_t waiting_requests = 0;    // requests waiting for the budget
};

class HttpServer {
 public:
  // With no `may_answer_large`, no request ever waits for the budget.
  explicit HttpServer(RequestHandler handler, LargeAnswerTest may_answer_large = nullptr);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens on `port_text`: "8000" (all interfaces), "host:8000"
  // or "tcp://host:8000". Returns false and sets `error` to the reason when
  // the text is not understood or the address cannot be bound.
  bool listen(const std::string& port_text, std::string& error);
  // The reply budget: bytes of answers queued on all connections and not yet
  // written. While it is spent, requests for which `may_answer_large` holds
  // wait in arrival order, nothing more being read from their connections,
  // and go one by one as written bytes free it, so the queue passes it by at
  // most one answer. A waiting connection is not timed out, and gets no
  // answer built when its client has left meanwhile. While requests wait, a
  // client that takes nothing of its answer for a few seconds (less when it
  // holds more than its share) is closed, which frees its bytes; otherwise
  // the stall time-out does. Default kDefaultReplyBudget.
  void set_reply_budget(std::uint64_t bytes);
  // Runs the loop for at most `milliseconds`, handling whatever is ready.
  void poll(int milliseconds);
  TransportStats stats() const;
  // The bound port (useful after listening on port 0).
  unsigned short local_port() const;
  // Stops accepting; connections already open are released with the server.
  void close();
  // Stops accepting and lets every connection end once its answer is out: an
  // idle one at once, one with a request in hand (read, waiting for the
  // budget, being built or written) after that answer, so a proxy in front
  // never loses an answer it was sent and retries what was refused. What is
  // still open after `limit` is closed. May be called from any thread.
  void drain(std::chrono::milliseconds limit);
  // Drains (see drain) when the process is asked to end (SIGTERM, SIGINT);
  // asked again, it closes every connection at once. `on_signal` is told
  // the signal, on the loop's thread.
  void drain_on_termination(std::chrono::milliseconds limit, std::function<void(int)> on_signal);
  // Whether a drain began and every connection it waited for has ended.
  bool drained() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace transport

#endif  // TRANSPORT_HTTP_SERVER_H_
