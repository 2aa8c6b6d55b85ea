// The HTTP front of the service: binds the port, polls for ever, and routes
// every request by exact URI to its query handler.
#ifndef RESTFULSERVER_RESTFUL_SERVER_H_
#define RESTFULSERVER_RESTFUL_SERVER_H_

#include <cstdint>
#include <string>

#include "transport/http_server.h"

// A query handler: the connection, the request and the URI without its "/"
// (echoed as "typeurl"). It sends at most one reply.
using QueryHandler = void (*)(transport::Connection&, const transport::Request&, const std::string&);

class RestfulServer {
 public:
  // Handlers read the record root per request; the server keeps none.
  RestfulServer();
  ~RestfulServer();
  // Binds `port` and polls in 100 ms slices until the process is asked to
  // end (SIGTERM, SIGINT): it then accepts no more, lets the answers in hand
  // finish (30 s at most; asked again, none), and ends the process with exit
  // status 0. When binding fails it writes "Error starting orin_auth on port
  // <port>: <reason>" to standard error and ends the process with exit
  // status 1. Does not return.
  [[noreturn]] void run(const std::string& port);
  // Releases the listener; returns true.
  bool stop();
  // The reply budget in bytes (see transport::HttpServer::set_reply_budget).
  // While it is spent, "/getFileInfo" and "/getWaveform" wait and every other
  // URI goes at once. Call before run.
  void set_reply_budget(std::uint64_t bytes);

  // The dispatch: exact URI match against the query table, any method, the
  // query string ignored. No match: "error url" on standard output, no reply.
  // Any exception from a handler: "unknow  exception" on standard output,
  // nothing more is sent, and the connection is closed after what the
  // handler had queued, so the client learns at once that no answer comes.
  // Standard output is flushed before it returns.
  static void ev_handler(transport::Connection& nc, const transport::Request& hm);

  // Appends a row to the dispatch table, after the four queries and the rows
  // added before it. `uri` is matched exactly; with `prefix` also every URI
  // that continues it after a "/" ("/viewer" then takes "/viewer/a.js"). Call
  // before requests arrive; rows are never removed.
  static void add_route(const std::string& uri, QueryHandler handler, bool prefix = false);

  // Told of every request once it is handled: the row's URI ("other" for a
  // URI without a row), what answer_result says it was answered, and the
  // seconds the handling took. One observer; nullptr for none.
  using RequestObserver = void (*)(const std::string& uri, const std::string& result, double seconds);
  static void set_request_observer(RequestObserver observer);
  // What the transport of the running server holds (zeros before one runs).
  static transport::TransportStats transport_stats();

 private:
  transport::HttpServer m_server;
};

#endif  // RESTFULSERVER_RESTFUL_SERVER_H_
