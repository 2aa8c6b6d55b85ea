// The writing half of a session: the queue of answer pieces counted against
// the reply budget, writing it piece by piece with a stall deadline, the
// linger after the last answer, closing, and giving up the answers of
// clients that stopped reading while others wait for the budget.
#include "transport/session.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

namespace transport {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = Session::Clock;

// After the last reply on a connection the socket is half-closed and what the
// client still sends is read and dropped for at most this long. Closing with
// unread bytes would reset the connection and could destroy the reply in
// flight before the client reads it.
constexpr auto kLingerTimeout = std::chrono::seconds(5);
constexpr auto kBudgetStallCheck = std::chrono::milliseconds(250);

void check_stalled_holders(Shared& shared);

}  // namespace

void Session::write_and_close(const char* text) {
  m_parser.reset();
  release_body();
  drop_queue();
  enqueue(std::make_shared<const std::string>(text));
  m_keep_alive = false;
  write_queue();
}

void Session::enqueue(std::shared_ptr<const std::string> piece) {
  if (m_head_only && !m_header_only.keep(piece)) return;
  if (m_reply_bytes == 0 && !m_listed_as_holder) {
    m_shared.holders.add(weak_from_this(), m_shared.open_sessions);
    m_listed_as_holder = true;
  }
  m_reply_bytes += piece->size();
  m_shared.replies.queued(piece->size());
  m_queue.push_back(std::move(piece));
}

void Session::drop_queue() {
  std::uint64_t dropped = 0;
  for (const auto& piece : m_queue) dropped += piece->size();
  m_queue.clear();
  m_reply_bytes -= dropped;
  m_shared.replies.released(dropped);
}

void Session::write_unwritten(Shared& shared) {
  std::vector<std::weak_ptr<Session>> sessions;
  sessions.swap(shared.unwritten);
  for (const std::weak_ptr<Session>& weak : sessions) {
    const std::shared_ptr<Session> session = weak.lock();
    if (session && !session->m_closed) session->write_queue();
  }
}

void Session::write_queue() {
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
void Session::write_some() {
  m_socket.async_write_some(
      m_pending, [self = shared_from_this()](const beast::error_code& ec, std::size_t written) {
        self->on_written(ec, written);
      });
}

void Session::on_written(const beast::error_code& ec, std::size_t written) {
  if (m_closed) return;
  if (ec) {
    // Freed before close() hands the bytes back to the budget, which may
    // let the next large answer be built at once.
    m_writing.clear();
    close();
    return;
  }
  m_pending.consume(written);
  m_shared.bytes_sent += written;
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
void Session::linger() {
  beast::error_code ignored;
  m_socket.shutdown(tcp::socket::shutdown_send, ignored);
  move_deadline_earlier(Clock::now() + kLingerTimeout);
  drain();
}

void Session::drain() {
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
// not when its last pending operation lets go of it. The parser stays: a
// read that had already taken bytes when the session closed (a drain or a
// time-out between its completion and its handler) still parses them into
// it before it sees the session closed; it goes with the session.
void Session::close() {
  if (m_closed) return;
  m_closed = true;
  beast::error_code ignored;
  m_socket.shutdown(tcp::socket::shutdown_both, ignored);
  m_socket.close(ignored);
  m_timer.cancel();
  m_request.reset();
  release_body();
  m_queue.clear();
  m_writing.clear();
  release_reply_bytes();
  --m_shared.open_sessions;
  if (m_shared.on_session_closed) m_shared.on_session_closed();
}

void Session::release_reply_bytes() {
  const std::uint64_t bytes = m_reply_bytes;
  m_reply_bytes = 0;
  m_shared.replies.released(bytes);
}

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

namespace {

bool evict_oldest_stall(Shared& shared) {
  const std::shared_ptr<Session> oldest = shared.holders.oldest_stall(
      shared.replies.limit(), shared.replies.waiter_count(), Clock::now());
  if (!oldest) return false;
  oldest->evict();
  return true;
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

}  // namespace

}  // namespace transport
