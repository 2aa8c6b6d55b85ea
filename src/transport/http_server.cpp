// The HTTP transport on Boost.Asio and Boost.Beast: one io_context on the
// calling thread and an acceptor that starts one session per accepted socket
// (session.h), no more of them than the descriptors allow.
#include "transport/http_server.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include "platform/descriptors.h"
#include "transport/listen_address.h"
#include "transport/session.h"

namespace transport {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

// A failed accept (out of descriptors, say) is retried after a pause instead
// of spinning on the same error.
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(50);
// Descriptors kept free of connections: a request opens its record files
// (a second reading lane included), the log may be reopened, and none of it
// may fail because clients took every descriptor.
constexpr std::size_t kSpareDescriptors = 16;

}  // namespace

struct HttpServer::Impl {
  Impl(RequestHandler handler, LargeAnswerTest may_answer_large)
      : acceptor(io), retry_timer(io), drain_timer(io) {
    shared.handler = std::move(handler);
    shared.may_answer_large = std::move(may_answer_large);
    shared.stall_check.emplace(io);
    shared.on_session_closed = [this] {
      if (accept_paused && shared.open_sessions < shared.session_limit) {
        accept_paused = false;
        accept();
      }
    };
  }
  // What sessions still reach through `shared` must not outlive the members
  // it points into.
  ~Impl() {
    shared.on_session_closed = nullptr;
    shared.stall_check.reset();
  }

  void accept() {
    if (!acceptor.is_open()) return;
    // Clients beyond the limit wait in the listen queue until one leaves.
    if (shared.open_sessions >= shared.session_limit) {
      accept_paused = true;
      return;
    }
    acceptor.async_accept([this](const beast::error_code& ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
      if (ec) {
        retry_timer.expires_after(kAcceptRetryDelay);
        retry_timer.async_wait([this](const beast::error_code& wec) {
          if (!wec) accept();
        });
        return;
      }
      start_session(std::move(socket), shared);
      accept();
    });
  }

  void stop_accepting() {
    beast::error_code ignored;
    acceptor.close(ignored);
    retry_timer.cancel();
  }

  // Each session is asked through a weak pointer: closing one may run
  // another's completion, but never destroys a session while it is asked.
  template <typename Ask>
  void ask_every_session(Ask ask) {
    std::vector<std::weak_ptr<Session>> sessions;
    sessions.reserve(shared.live.size());
    for (Session* session : shared.live) sessions.push_back(session->weak_from_this());
    for (const std::weak_ptr<Session>& weak : sessions) {
      if (const std::shared_ptr<Session> session = weak.lock()) ask(*session);
    }
  }

  void drain(std::chrono::milliseconds limit) {
    if (shared.draining) return;
    shared.draining = true;
    stop_accepting();
    ask_every_session([](Session& session) { session.end_when_idle(); });
    drain_timer.expires_after(limit);
    drain_timer.async_wait([this](const beast::error_code& ec) {
      if (!ec) close_every_session();
    });
  }

  void close_every_session() {
    ask_every_session([](Session& session) { session.evict(); });
  }

  void wait_for_signal(std::chrono::milliseconds limit, std::function<void(int)> on_signal) {
    signals->async_wait([this, limit, on_signal](const beast::error_code& ec, int signal) {
      if (ec) return;
      if (on_signal) on_signal(signal);
      if (shared.draining) {
        close_every_session();
      } else {
        drain(limit);
      }
      wait_for_signal(limit, on_signal);
    });
  }

  // Declared before the io_context: sessions destroyed with the context hold
  // a reference to it.
  Shared shared;
  asio::io_context io;
  tcp::acceptor acceptor;
  asio::steady_timer retry_timer;
  asio::steady_timer drain_timer;
  std::optional<asio::signal_set> signals;
  bool accept_paused = false;
};

HttpServer::HttpServer(RequestHandler handler, LargeAnswerTest may_answer_large)
    : m_impl(std::make_unique<Impl>(std::move(handler), std::move(may_answer_large))) {}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(const std::string& port_text, std::string& error) {
  std::optional<Endpoint> where = split_address(port_text);
  if (!where) {
    error = "Invalid address";
    return false;
  }
  beast::error_code ec;
  tcp::resolver resolver(m_impl->io);
  auto results = resolver.resolve(where->host, where->port,
                                  tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || results.empty()) {
    error = ec ? ec.message() : "Host not found";
    return false;
  }
  tcp::endpoint endpoint = results.begin()->endpoint();
  tcp::acceptor& acceptor = m_impl->acceptor;
  if (acceptor.is_open()) acceptor.close(ec);
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = ec.message();
    beast::error_code ignored;
    acceptor.close(ignored);
    return false;
  }
  const std::size_t free = platform::descriptor_room().free;
  m_impl->shared.session_limit = free > kSpareDescriptors ? free - kSpareDescriptors : 1;
  m_impl->accept();
  return true;
}

void HttpServer::set_reply_budget(std::uint64_t bytes) { m_impl->shared.replies.set_limit(bytes); }

void HttpServer::poll(int milliseconds) {
  if (m_impl->io.stopped()) m_impl->io.restart();
  m_impl->io.run_for(std::chrono::milliseconds(milliseconds));
}

TransportStats HttpServer::stats() const {
  const Shared& shared = m_impl->shared;
  TransportStats stats;
  stats.bytes_sent = shared.bytes_sent;
  stats.open_connections = shared.open_sessions;
  stats.reply_bytes_queued = shared.replies.queued_bytes();
  stats.reply_budget = shared.replies.limit();
  stats.waiting_requests = shared.replies.waiter_count();
  return stats;
}

unsigned short HttpServer::local_port() const {
  beast::error_code ec;
  tcp::endpoint endpoint = m_impl->acceptor.local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void HttpServer::close() { m_impl->stop_accepting(); }

void HttpServer::drain(std::chrono::milliseconds limit) {
  asio::post(m_impl->io, [impl = m_impl.get(), limit] { impl->drain(limit); });
}

void HttpServer::drain_on_termination(std::chrono::milliseconds limit,
                                      std::function<void(int)> on_signal) {
  m_impl->signals.emplace(m_impl->io, SIGTERM, SIGINT);
  m_impl->wait_for_signal(limit, std::move(on_signal));
}

bool HttpServer::drained() const {
  return m_impl->shared.draining && m_impl->shared.open_sessions == 0;
}

}  // namespace transport
