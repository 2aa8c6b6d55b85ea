// The reading half of a session: one request read at a time (header and
// body limits, bodies held against the pool), handed to the handler, or put
// to wait while the reply budget is spent. What the handler queued is
// written by the other half, session_write.cpp.
#include "transport/session.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace transport {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = Session::Clock;

constexpr std::uint32_t kHeaderLimit = 8 * 1024;
constexpr std::uint64_t kBodyLimit = 16 * 1024 * 1024;

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

const char Session::kBadRequest[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char Session::kTooLarge[] =
    "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

Session::Session(tcp::socket socket, Shared& shared)
    : m_socket(std::move(socket)),
      m_timer(m_socket.get_executor()),
      m_shared(shared),
      m_pending(std::vector<asio::const_buffer>{}) {
  ++m_shared.open_sessions;
  m_shared.live.insert(this);
}

Session::~Session() {
  m_shared.live.erase(this);
  if (!m_closed) --m_shared.open_sessions;
}

void Session::start() {
  m_deadline = Clock::now() + kStallTimeout;
  watch();
  read_header();
}

// One timer guards the whole session; it re-arms itself until the socket
// closes, and whoever makes progress just moves m_deadline.
// A wait cancelled by move_deadline_earlier lands here too and re-arms.
// A session waiting for the reply budget waits for the service, not for
// its client, and is never timed out.
void Session::watch() {
  m_timer.expires_at(m_deadline);
  m_timer.async_wait([self = shared_from_this()](const beast::error_code&) {
    if (self->m_closed) return;
    if (self->m_waiting_for_budget) {
      self->m_deadline = Clock::now() + kStallTimeout;
    } else if (Clock::now() >= self->m_deadline) {
      self->close();
      return;
    }
    self->watch();
  });
}

void Session::move_deadline_earlier(Clock::time_point deadline) {
  m_deadline = deadline;
  m_timer.expires_at(deadline);  // cancels the pending wait
}

void Session::read_header() {
  m_deadline = Clock::now() + kStallTimeout;
  m_awaiting_request = true;
  m_parser.emplace();
  m_parser->header_limit(kHeaderLimit);
  m_parser->body_limit(kBodyLimit);
  http::async_read_header(
      m_socket, m_buffer, *m_parser,
      [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
        self->on_header(ec);
      });
}

void Session::on_header(const beast::error_code& ec) {
  m_awaiting_request = false;
  if (m_closed) return;
  if (ec) {
    reject(ec);
    return;
  }
  // Transfer codings that do not end in "chunked" leave the end of the
  // body unknown; the parser reads such a request as having none, and its
  // body would then be taken for the next request.
  if (m_parser->get().count(http::field::transfer_encoding) > 0 && !m_parser->chunked()) {
    write_and_close(kBadRequest);
    return;
  }
  if (m_parser->is_done()) {
    dispatch();
    return;
  }
  // The parser reserves an announced length whole when the body begins.
  if (m_parser->content_length() && !hold_body(*m_parser->content_length())) {
    write_and_close(kTooLarge);
    return;
  }
  auto expect = m_parser->get()[http::field::expect];
  if (beast::iequals(expect, "100-continue")) {
    // The client holds the body back until it sees this line.
    asio::async_write(m_socket, asio::buffer(kContinue, sizeof kContinue - 1),
                      [self = shared_from_this()](const beast::error_code& wec, std::size_t) {
                        if (wec) {
                          self->close();
                          return;
                        }
                        self->read_body();
                      });
    return;
  }
  read_body();
}

// Piece by piece, so that a chunked body is held against the pool as it
// grows rather than once it is complete.
void Session::read_body() {
  if (m_closed) return;
  http::async_read_some(m_socket, m_buffer, *m_parser,
                        [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
                          self->on_body_read(ec);
                        });
}

void Session::on_body_read(const beast::error_code& ec) {
  if (m_closed) return;
  if (ec) {
    reject(ec);
    return;
  }
  if (!hold_body(m_parser->get().body().capacity())) {
    write_and_close(kTooLarge);
    return;
  }
  if (m_parser->is_done()) {
    dispatch();
    return;
  }
  read_body();
}

// A request that cannot be read: answer what the parser found wrong when
// the peer is still there, then close.
void Session::reject(const beast::error_code& ec) {
  if (ec == http::error::header_limit || ec == http::error::body_limit) {
    write_and_close(kTooLarge);
  } else if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
             ec != http::error::end_of_stream && ec != http::error::partial_message) {
    // The parser's own verdict on the bytes; socket errors and a peer that
    // left mid-request get no answer, there is nobody to read it.
    write_and_close(kBadRequest);
  } else {
    close();
  }
}

void Session::dispatch() {
  http::request<http::string_body> message = m_parser->release();
  m_parser.reset();
  m_keep_alive = message.keep_alive() && !m_shared.draining;
  m_head_only = message.method() == http::verb::head;
  m_header_only = HeaderOnly();

  m_request.emplace();
  Request& request = *m_request;
  request.method = std::string(message.method_string());
  beast::string_view target = message.target();
  std::size_t question = target.find('?');
  if (question == beast::string_view::npos) {
    request.uri = std::string(target);
  } else {
    request.uri = std::string(target.substr(0, question));
    request.query = std::string(target.substr(question + 1));
  }
  request.body = std::move(message.body());
  const auto if_none_match = message.find(http::field::if_none_match);
  if (if_none_match != message.end()) request.if_none_match = std::string(if_none_match->value());

  if (m_shared.may_answer_large && !m_shared.replies.has_room() &&
      m_shared.may_answer_large(request)) {
    m_waiting_for_budget = true;
    m_shared.replies.wait([weak = weak_from_this()] {
      if (std::shared_ptr<Session> self = weak.lock()) self->resume();
    });
    watch_stalled_holders(m_shared);
    return;
  }
  answer();
}

void Session::resume() {
  m_waiting_for_budget = false;
  if (m_closed) return;
  if (peer_is_gone()) {
    close();
    return;
  }
  answer();
}

// Whether the client left while the request waited (it reset the socket,
// or ended its sending side with nothing more to ask), so that no large
// answer is built for nobody. Looks without taking anything: a client
// that sent further requests before ending its side is still there.
bool Session::peer_is_gone() {
  beast::error_code ec;
  m_socket.non_blocking(true, ec);
  char byte;
  m_socket.receive(asio::buffer(&byte, 1), tcp::socket::message_peek, ec);
  return ec && ec != asio::error::would_block;
}

void Session::answer() {
  // Answers still waiting would wait for all of a large one to be built.
  if (m_shared.may_answer_large && m_shared.may_answer_large(*m_request)) write_unwritten(m_shared);
  try {
    m_shared.handler(*this, *m_request);
  } catch (...) {
    // The handler owns its error reporting; an escape here must still not
    // unwind through the loop. What it queued so far is written as usual.
  }
  m_request.reset();
  release_body();

  if (m_queue.empty()) {
    if (m_keep_alive) {
      read_header();
    } else {
      linger();
    }
    return;
  }
  // Written once the requests that arrived with this one are answered:
  // a reply sent at once wakes the client up for every answer, and under
  // load those wake-ups cost more than the answers.
  if (m_shared.unwritten.empty()) {
    asio::post(m_socket.get_executor(), [&shared = m_shared] { write_unwritten(shared); });
  }
  m_shared.unwritten.push_back(weak_from_this());
}

void Session::end_when_idle() {
  if (m_closed) return;
  m_keep_alive = false;
  // A request that began to arrive is read and answered; bytes the kernel
  // holds and nobody has read yet are refused by the close, which a proxy
  // sees before any answer and may retry elsewhere.
  if (m_awaiting_request && m_buffer.size() == 0 && !(m_parser && m_parser->got_some())) close();
}

void start_session(tcp::socket socket, Shared& shared) {
  std::make_shared<Session>(std::move(socket), shared)->start();
}

}  // namespace transport
