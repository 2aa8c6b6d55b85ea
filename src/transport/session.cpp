// One client connection: a session reads one request, hands it to the
// handler, writes what the handler queued, and only then reads the next
// request, so pipelined requests are answered in order. What clients can make
// the process hold is bounded across all sessions: answers queued and not yet
// written by the reply budget (and stalled answers give way to waiting
// ones), unfinished large bodies by a pool.
#include "transport/session.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "transport/head_reply.h"

namespace transport {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kHeaderLimit = 8 * 1024;
constexpr std::uint64_t kBodyLimit = 16 * 1024 * 1024;
// Both a request that does not complete and a write that makes no progress
// give up after this long, so a stalled peer cannot hold a socket for ever.
constexpr auto kStallTimeout = std::chrono::seconds(60);
// After the last reply on a connection the socket is half-closed and what the
// client still sends is read and dropped for at most this long. Closing with
// unread bytes would reset the connection and could destroy the reply in
// flight before the client reads it.
constexpr auto kLingerTimeout = std::chrono::seconds(5);
constexpr auto kBudgetStallCheck = std::chrono::milliseconds(250);

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
const char kBadRequest[] =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char kTooLarge[] =
    "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

using Parser = http::request_parser<http::string_body>;

void check_stalled_holders(Shared& shared);
void watch_stalled_holders(Shared& shared);
bool evict_oldest_stall(Shared& shared);

}  // namespace

class Session : public Connection, public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, Shared& shared)
      : m_socket(std::move(socket)),
        m_timer(m_socket.get_executor()),
        m_shared(shared),
        m_pending(std::vector<asio::const_buffer>{}) {
    ++m_shared.open_sessions;
  }
  // Only sessions torn down with the io_context end without close(); they
  // must not hand bytes back, which would run waiting handlers mid-teardown.
  ~Session() override {
    if (!m_closed) --m_shared.open_sessions;
  }

  void start() {
    m_deadline = Clock::now() + kStallTimeout;
    watch();
    read_header();
  }

  void send(std::string bytes) override {
    if (!bytes.empty()) enqueue(std::make_shared<const std::string>(std::move(bytes)));
  }
  void send(std::shared_ptr<const std::string> text) override {
    if (text && !text->empty()) enqueue(std::move(text));
  }
  void close_after_queued() override { m_keep_alive = false; }

 private:
  // One timer guards the whole session; it re-arms itself until the socket
  // closes, and whoever makes progress just moves m_deadline.
  // A wait cancelled by move_deadline_earlier lands here too and re-arms.
  // A session waiting for the reply budget waits for the service, not for
  // its client, and is never timed out.
  void watch() {
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

  void move_deadline_earlier(Clock::time_point deadline) {
    m_deadline = deadline;
    m_timer.expires_at(deadline);  // cancels the pending wait
  }

  void read_header() {
    m_deadline = Clock::now() + kStallTimeout;
    m_parser.emplace();
    m_parser->header_limit(kHeaderLimit);
    m_parser->body_limit(kBodyLimit);
    http::async_read_header(
        m_socket, m_buffer, *m_parser,
        [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
          self->on_header(ec);
        });
  }

  void on_header(const beast::error_code& ec) {
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
  void read_body() {
    if (m_closed) return;
    http::async_read_some(m_socket, m_buffer, *m_parser,
                          [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
                            self->on_body_read(ec);
                          });
  }

  void on_body_read(const beast::error_code& ec) {
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

  // Counts `bytes` held for this request's body against the pool; false
  // when a large body does not fit. Small bodies always fit.
  bool hold_body(std::uint64_t bytes) { return m_shared.bodies.hold(m_body_held, bytes); }
  void release_body() { m_shared.bodies.release(m_body_held); }

  // A request that cannot be read: answer what the parser found wrong when
  // the peer is still there, then close.
  void reject(const beast::error_code& ec) {
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

  void write_and_close(const char* text) {
    m_parser.reset();
    release_body();
    drop_queue();
    enqueue(std::make_shared<const std::string>(text));
    m_keep_alive = false;
    write_queue();
  }

  void enqueue(std::shared_ptr<const std::string> piece) {
    if (m_head_only && !m_header_only.keep(piece)) return;
    if (m_reply_bytes == 0 && !m_listed_as_holder) {
      m_shared.holders.add(weak_from_this(), m_shared.open_sessions);
      m_listed_as_holder = true;
    }
    m_reply_bytes += piece->size();
    m_shared.replies.queued(piece->size());
    m_queue.push_back(std::move(piece));
  }

  void drop_queue() {
    std::uint64_t dropped = 0;
    for (const auto& piece : m_queue) dropped += piece->size();
    m_queue.clear();
    m_reply_bytes -= dropped;
    m_shared.replies.released(dropped);
  }

  void dispatch() {
    http::request<http::string_body> message = m_parser->release();
    m_parser.reset();
    m_keep_alive = message.keep_alive();
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

  void resume() {
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
  bool peer_is_gone() {
    beast::error_code ec;
    m_socket.non_blocking(true, ec);
    char byte;
    m_socket.receive(asio::buffer(&byte, 1), tcp::socket::message_peek, ec);
    return ec && ec != asio::error::would_block;
  }

 public:
  // Whether the answer being written has made no progress since `since`.
  bool stalled_since(Clock::time_point since) const {
    return !m_closed && !m_writing.empty() && m_progress <= since;
  }
  Clock::time_point last_progress() const { return m_progress; }
  std::uint64_t reply_bytes() const { return m_reply_bytes; }
  // Whether the session still belongs on the list of holders; one that does
  // not is taken off it.
  bool stays_listed() {
    m_listed_as_holder = !m_closed && m_reply_bytes > 0;
    return m_listed_as_holder;
  }
  // Gives up the answer of a client that stopped reading.
  void evict() { close(); }

 private:

  void answer() {
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

  static void write_unwritten(Shared& shared) {
    std::vector<std::weak_ptr<Session>> sessions;
    sessions.swap(shared.unwritten);
    for (const std::weak_ptr<Session>& weak : sessions) {
      const std::shared_ptr<Session> session = weak.lock();
      if (session && !session->m_closed) session->write_queue();
    }
  }

  void write_queue() {
    m_writing = std::move(m_queue);
    m_queue.clear();
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(m_writing.size());
    for (const auto& piece : m_writing) buffers.emplace_back(piece->data(), piece->size());
    m_pending = beast::buffers_suffix<std::vector<asio::const_buffer>>(std::move(buffers));
    m_progress = Clock::now();
    m_deadline = m_progress + kStallTimeout;
    write_some();
  }

  // Written piecewise rather than with one async_write so that every bit of
  // progress can push the stall deadline back.
  void write_some() {
    m_socket.async_write_some(
        m_pending, [self = shared_from_this()](const beast::error_code& ec, std::size_t written) {
          self->on_written(ec, written);
        });
  }

  void on_written(const beast::error_code& ec, std::size_t written) {
    if (m_closed) return;
    if (ec) {
      // Freed before close() hands the bytes back to the budget, which may
      // let the next large answer be built at once.
      m_writing.clear();
      close();
      return;
    }
    m_pending.consume(written);
    if (written > 0) {
      m_progress = Clock::now();
      m_deadline = m_progress + kStallTimeout;
    }
    if (beast::buffer_bytes(m_pending) > 0) {
      write_some();
      return;
    }
    // An answer's memory goes only when the whole of it has been written,
    // so that is when it leaves the budget; what the kernel took meanwhile
    // is still held here.
    m_writing.clear();
    release_reply_bytes();
    if (m_keep_alive) {
      read_header();
    } else {
      linger();
    }
  }

  // The client sees the end of the stream at once; its leftover bytes are
  // drained until it closes too or the linger time is up.
  void linger() {
    beast::error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_send, ignored);
    move_deadline_earlier(Clock::now() + kLingerTimeout);
    drain();
  }

  void drain() {
    m_socket.async_read_some(
        asio::buffer(m_scratch),
        [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
          if (self->m_closed) return;
          if (ec) {
            self->close();
            return;
          }
          self->drain();
        });
  }

  // The session's share of the budget and the pool is given back at once,
  // not when its last pending operation lets go of it.
  void close() {
    if (m_closed) return;
    m_closed = true;
    beast::error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_timer.cancel();
    m_parser.reset();
    m_request.reset();
    release_body();
    m_queue.clear();
    m_writing.clear();
    release_reply_bytes();
    --m_shared.open_sessions;
    if (m_shared.on_session_closed) m_shared.on_session_closed();
  }

  void release_reply_bytes() {
    const std::uint64_t bytes = m_reply_bytes;
    m_reply_bytes = 0;
    m_shared.replies.released(bytes);
  }

  tcp::socket m_socket;
  asio::steady_timer m_timer;
  Shared& m_shared;
  beast::flat_buffer m_buffer;
  std::optional<Parser> m_parser;
  std::vector<std::shared_ptr<const std::string>> m_queue;
  std::vector<std::shared_ptr<const std::string>> m_writing;
  beast::buffers_suffix<std::vector<asio::const_buffer>> m_pending;
  Clock::time_point m_deadline;
  Clock::time_point m_progress;  // when the answer being written last moved
  std::array<char, 4096> m_scratch;
  // The request read last, kept while it waits for the reply budget.
  std::optional<Request> m_request;
  std::uint64_t m_body_held = 0;  // bytes counted against the body pool
  std::uint64_t m_reply_bytes = 0;  // answer pieces held, queued or being written
  bool m_waiting_for_budget = false;
  bool m_listed_as_holder = false;  // on the shared list of holders
  bool m_head_only = false;  // the request is HEAD: its reply ends with the header
  HeaderOnly m_header_only;
  bool m_keep_alive = true;
  bool m_closed = false;
};

namespace {

// Runs while requests wait for the budget: the answers whose clients took
// nothing for kBudgetStall (kShareStall above a fair share) are given up,
// the oldest stall first, until the waiters can go.
void watch_stalled_holders(Shared& shared) {
  if (!shared.stall_check || shared.stall_check->expiry() > Clock::now()) return;
  shared.stall_check->expires_after(kBudgetStallCheck);
  shared.stall_check->async_wait([&shared](const beast::error_code& ec) {
    if (!ec) check_stalled_holders(shared);
  });
}

// Gives up one stalled answer at a time: each lets a waiter build its answer
// here, on the loop, and the next is given up only after what else is ready
// (small queries among it) has had its turn.
void check_stalled_holders(Shared& shared) {
  if (!shared.replies.has_waiters()) return;
  if (!evict_oldest_stall(shared)) {
    watch_stalled_holders(shared);
    return;
  }
  asio::post(shared.stall_check->get_executor(), [&shared] {
    if (shared.stall_check) check_stalled_holders(shared);
  });
}

bool evict_oldest_stall(Shared& shared) {
  const std::shared_ptr<Session> oldest = shared.holders.oldest_stall(
      shared.replies.limit(), shared.replies.waiter_count(), Clock::now());
  if (!oldest) return false;
  oldest->evict();
  return true;
}

}  // namespace

void start_session(tcp::socket socket, Shared& shared) {
  std::make_shared<Session>(std::move(socket), shared)->start();
}

}  // namespace transport
