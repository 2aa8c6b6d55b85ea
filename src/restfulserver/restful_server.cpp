// The server object, its poll loop and the URI dispatch.
#include "restfulserver/restful_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "logger/logger.h"
#include "platform/platform.h"
#include "restfulserver/answer.h"
#include "restfulserver/handlers.h"

namespace {

struct Route {
  std::string uri;  // matched exactly, case included; the handler gets it without "/"
  QueryHandler handler;
  bool prefix;  // also matches uri + "/" + anything
};

// Tried in this order; the first match wins. The four queries come first, so
// no row added later can change what they answer.
std::vector<Route>& routes() {
  static std::vector<Route> table = {
      {"/getFileName_list", handler_getFileList, false},
      {"/getChannelInfo", handler_getChannelList, false},
      {"/getFileInfo", handler_getChannelDesc, false},
      {"/getGroupFile_list", handler_getGroupFileList, false},
  };
  return table;
}

// The URIs whose answers run to hundreds of megabytes: they wait for the
// reply budget. Every other answer is small and always goes.
bool may_answer_large(const transport::Request& request) {
  static const std::string kLargeAnswerUris[] = {"/getFileInfo", "/getWaveform", "/getPhasors", "/getEvents",
                                                 "/exportRecord"};
  for (const std::string& uri : kLargeAnswerUris) {
    if (request.uri == uri) return true;
  }
  return false;
}

bool matches(const Route& route, const std::string& uri) {
  if (uri == route.uri) return true;
  return route.prefix && uri.size() > route.uri.size() &&
         uri.compare(0, route.uri.size(), route.uri) == 0 && uri[route.uri.size()] == '/';
}

// Requests dispatched so far; the poll loop watches it to tell busy from idle.
unsigned long g_requests_handled = 0;

RestfulServer::RequestObserver g_observer = nullptr;
// The server that runs, for its transport's figures.
const transport::HttpServer* g_running = nullptr;

}  // namespace

RestfulServer::RestfulServer() : m_server(&RestfulServer::ev_handler, &may_answer_large) {
  g_running = &m_server;
}

RestfulServer::~RestfulServer() {
  if (g_running == &m_server) g_running = nullptr;
}

void RestfulServer::set_request_observer(RequestObserver observer) { g_observer = observer; }

transport::TransportStats RestfulServer::transport_stats() {
  return g_running != nullptr ? g_running->stats() : transport::TransportStats();
}

void RestfulServer::run(const std::string& port) {
  std::string reason;
  if (!m_server.listen(port, reason)) {
    std::fprintf(stderr, "Error starting orin_auth on port %s: %s\n", port.c_str(), reason.c_str());
    std::exit(1);
  }
  // Freed answers are kept for the next request while requests keep coming
  // (re-faulting their pages would cost more than producing the values).
  // They are handed back once the service has been idle for a second. Under
  // steady load they are looked at every two seconds and handed back when
  // the answers queued and the memory held free together pass the reply
  // budget: resident memory then follows what is live rather than the
  // largest mix of answers ever held (clients that never read pin their
  // answers; their memory must not stay once freed), while the requests of
  // a steady load reuse the pages of those before them instead of taking
  // them afresh one in every two seconds (a third to twice the time of that
  // one request).
  constexpr auto kIdleBeforeRelease = std::chrono::seconds(1);
  constexpr auto kBusyRelease = std::chrono::seconds(2);
  const auto held_past_budget = [this] {
    const transport::TransportStats stats = m_server.stats();
    const std::uint64_t room = stats.reply_budget - std::min(stats.reply_budget, stats.reply_bytes_queued);
    return platform::held_free_memory().value_or(UINT64_MAX) > room;
  };
  // Stopped (by systemd, say), the replica lets its answers finish, so a
  // proxy in front loses none of them; a stop asked again is obeyed at once.
  constexpr auto kDrainLimit = std::chrono::seconds(30);
  m_server.drain_on_termination(kDrainLimit, [this](int signal) {
    LOG_WRITE(LOG_INFO, "<<<<<<signal %d: accepting no more, %zu connections to finish", signal,
              m_server.stats().open_connections);
  });
  auto last_request = std::chrono::steady_clock::now();
  auto last_release = last_request;
  bool released = true;
  while (!m_server.drained()) {
    const unsigned long handled_before = g_requests_handled;
    m_server.poll(100);
    const auto now = std::chrono::steady_clock::now();
    if (g_requests_handled != handled_before) {
      // The first request after an idle release starts a busy spell: the
      // memory it takes stays for the requests right behind it, instead of
      // going back at once because the last release was long ago.
      if (released) last_release = now;
      last_request = now;
      released = false;
    }
    const bool idle = now - last_request >= kIdleBeforeRelease;
    if (!released && (idle || now - last_release >= kBusyRelease)) {
      if (idle || held_past_budget()) platform::release_free_memory();
      last_release = now;
      released = idle;
    }
  }
  LOG_WRITE(LOG_INFO, "%s", "<<<<<<stopped");
  // Nothing is left to tidy: every answer is out and the log is written line
  // by line. The destructors of the process's statics are skipped, as on any
  // other end of the process, so none of them can fail it at the last step.
  std::fflush(stdout);
  std::_Exit(0);
}

bool RestfulServer::stop() {
  m_server.close();
  return true;
}

void RestfulServer::set_reply_budget(std::uint64_t bytes) { m_server.set_reply_budget(bytes); }

void RestfulServer::add_route(const std::string& uri, QueryHandler handler, bool prefix) {
  routes().push_back(Route{uri, handler, prefix});
}

void RestfulServer::ev_handler(transport::Connection& nc, const transport::Request& hm) {
  ++g_requests_handled;
  const auto started = std::chrono::steady_clock::now();
  note_answer_result("none");
  const auto route = std::find_if(routes().begin(), routes().end(),
                                  [&](const Route& row) { return matches(row, hm.uri); });
  try {
    if (route != routes().end()) {
      route->handler(nc, hm, route->uri.substr(1));
    } else {
      std::printf("error url\n");
    }
  } catch (...) {
    // A number in a record file that does not convert ends up here. The
    // client gets nothing more than what the handler had already queued,
    // and the end of the stream right after it instead of a long wait.
    std::printf("unknow  exception\n");
    nc.close_after_queued();
    note_answer_result("exception");
  }
  if (g_observer != nullptr) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    g_observer(route != routes().end() ? route->uri : std::string("other"), answer_result(), took.count());
  }
  // Every diagnostic line of a request reaches a pipe or file before the
  // next request is handled, in order.
  std::fflush(stdout);
}
