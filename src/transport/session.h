// One client connection, what the sessions of one server share, and how one
// is started. Internal to the transport.
//
// A session reads one request, hands it to the handler, writes what the
// handler queued, and only then reads the next request, so pipelined
// requests are answered in order. What clients can make the process hold is
// bounded across all sessions: answers queued and not yet written by the
// reply budget (and stalled answers give way to waiting ones), unfinished
// large bodies by a pool. Reading is in session_read.cpp, writing and
// closing in session_write.cpp.
#ifndef TRANSPORT_SESSION_H_
#define TRANSPORT_SESSION_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "transport/body_pool.h"
#include "transport/head_reply.h"
#include "transport/http_server.h"
#include "transport/reply_budget.h"
#include "transport/stalled_answers.h"

namespace transport {

class Session;

// What all sessions share; it outlives every session.
struct Shared {
  RequestHandler handler;
  LargeAnswerTest may_answer_large;
  ReplyBudget replies{kDefaultReplyBudget};
  BodyPool bodies;
  // Sessions whose answers wait to be written, in the order they were made.
  // Not owned here: an open session is kept by its own timer's wait, and a
  // session must not outlive the io_context, which goes before this does.
  std::vector<std::weak_ptr<Session>> unwritten;
  // Sessions holding answer bytes, for the check that frees the budget from
  // clients that stopped reading. Registered while they hold bytes.
  HolderList<Session> holders;
  std::optional<boost::asio::steady_timer> stall_check;
  // Sessions open, and how many may be: each holds a descriptor, and a
  // request needs descriptors for its record files, so accepting stops short
  // of the process's limit rather than at it.
  std::size_t open_sessions = 0;
  // Answer bytes the sockets took, for the metrics.
  std::uint64_t bytes_sent = 0;
  std::size_t session_limit = SIZE_MAX;
  std::function<void()> on_session_closed;
  // Every session not yet destroyed, for a drain to reach the idle ones.
  std::unordered_set<Session*> live;
  // Set by a drain: no answer after the one in hand keeps a connection open.
  bool draining = false;
};

class Session : public Connection, public std::enable_shared_from_this<Session> {
 public:
  using Clock = std::chrono::steady_clock;

  Session(boost::asio::ip::tcp::socket socket, Shared& shared);
  // Only sessions torn down with the io_context end without close(); they
  // must not hand bytes back, which would run waiting handlers mid-teardown.
  ~Session() override;

  void start();

  void send(std::string bytes) override {
    if (!bytes.empty()) enqueue(std::make_shared<const std::string>(std::move(bytes)));
  }
  void send(std::shared_ptr<const std::string> text) override {
    if (text && !text->empty()) enqueue(std::move(text));
  }
  void close_after_queued() override { m_keep_alive = false; }

  // What the list of holders asks. Whether the answer being written has made no progress since `since`.
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
  // For a drain: a connection waiting for its next request ends now, one
  // with a request in hand once that request is answered.
  void end_when_idle();

 private:
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;
  using Buffers = boost::beast::buffers_suffix<std::vector<boost::asio::const_buffer>>;

  // Both a request that does not complete and a write that makes no progress
  // give up after this long, so a stalled peer cannot hold a socket for ever.
  static constexpr auto kStallTimeout = std::chrono::seconds(60);
  static const char kBadRequest[];
  static const char kTooLarge[];

  // Reading (session_read.cpp).
  void watch();
  void move_deadline_earlier(Clock::time_point deadline);
  void read_header();
  void on_header(const boost::beast::error_code& ec);
  void read_body();
  void on_body_read(const boost::beast::error_code& ec);
  // Counts `bytes` held for this request's body against the pool; false
  // when a large body does not fit. Small bodies always fit.
  bool hold_body(std::uint64_t bytes) { return m_shared.bodies.hold(m_body_held, bytes); }
  void release_body() { m_shared.bodies.release(m_body_held); }
  void reject(const boost::beast::error_code& ec);
  void dispatch();
  void resume();
  bool peer_is_gone();
  void answer();

  // Writing and closing (session_write.cpp).
  void write_and_close(const char* text);
  void enqueue(std::shared_ptr<const std::string> piece);
  void drop_queue();
  static void write_unwritten(Shared& shared);
  void write_queue();
  void write_some();
  void on_written(const boost::beast::error_code& ec, std::size_t written);
  void linger();
  void drain();
  void close();
  void release_reply_bytes();

  boost::asio::ip::tcp::socket m_socket;
  boost::asio::steady_timer m_timer;
  Shared& m_shared;
  boost::beast::flat_buffer m_buffer;
  std::optional<Parser> m_parser;
  std::vector<std::shared_ptr<const std::string>> m_queue;
  std::vector<std::shared_ptr<const std::string>> m_writing;
  Buffers m_pending;
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
  // Reading a request header; with nothing of it read yet the session is idle.
  bool m_awaiting_request = false;
  bool m_closed = false;
};

// Starts serving `socket` as a session of `shared`; it keeps itself alive
// until its connection ends.
void start_session(boost::asio::ip::tcp::socket socket, Shared& shared);

// Runs while requests wait for the reply budget: gives up stalled answers
// until the waiters can go.
void watch_stalled_holders(Shared& shared);

}  // namespace transport

#endif  // TRANSPORT_SESSION_H_
