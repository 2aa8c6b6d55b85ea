// The HTTP transport: accepts connections, parses requests, writes raw reply
// bytes. The only module that includes Boost.Beast; everything above it sees a
// Request and a Connection it can queue bytes on.
#ifndef TRANSPORT_HTTP_SERVER_H_
#define TRANSPORT_HTTP_SERVER_H_

#include <functional>
#include <memory>
#include <string>

namespace transport {

struct Request {
  std::string method;
  std::string uri;    // the path only, without the query string
  std::string query;  // the text after "?", without it
  std::string body;
};

// One client connection as a handler sees it. Pieces queued during a handler
// are written, in queue order, after the handler returns; writing never
// blocks the loop, a slow reader delays only its own connection.
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

class HttpServer {
 public:
  explicit HttpServer(RequestHandler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens on `port_text`: "8000" (all interfaces), "host:8000"
  // or "tcp://host:8000". Returns false and sets `error` to the reason when
  // the text is not understood or the address cannot be bound.
  bool listen(const std::string& port_text, std::string& error);
  // Runs the loop for at most `milliseconds`, handling whatever is ready.
  void poll(int milliseconds);
  // The bound port (useful after listening on port 0).
  unsigned short local_port() const;
  // Stops accepting; connections already open are released with the server.
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace transport

#endif  // TRANSPORT_HTTP_SERVER_H_
