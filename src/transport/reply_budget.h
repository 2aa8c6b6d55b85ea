// The process-wide budget for answer bytes queued on connections and not yet
// written, and the line of requests waiting for it. Part of the transport; it
// knows nothing of sockets, so a session only reports bytes and asks to wait.
#ifndef TRANSPORT_REPLY_BUDGET_H_
#define TRANSPORT_REPLY_BUDGET_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace transport {

class ReplyBudget {
 public:
  explicit ReplyBudget(std::uint64_t limit) : m_limit(limit) {}

  // Changes the limit; waiters that now fit are resumed.
  void set_limit(std::uint64_t limit);
  // Whether a request that may build a large answer can go now: queued bytes
  // are under the limit and nobody waits before it (arrival order holds).
  bool has_room() const { return m_queued < m_limit && m_waiting.empty(); }
  // `bytes` were queued on some connection.
  void queued(std::uint64_t bytes) { m_queued += bytes; }
  // `bytes` queued earlier were written, or dropped with their connection.
  // Resumes waiters, oldest first, while queued bytes are under the limit;
  // each resume runs at once, on the caller's stack, and queues its answer
  // before the next one is considered. Only one answer may pass the limit.
  void released(std::uint64_t bytes);
  // Puts `resume` at the end of the line. It runs once, when its turn comes
  // and there is room; a resume whose connection has gone does nothing.
  void wait(std::function<void()> resume);

  std::uint64_t queued_bytes() const { return m_queued; }
  bool has_waiters() const { return !m_waiting.empty(); }
  std::size_t waiter_count() const { return m_waiting.size(); }
  std::uint64_t limit() const { return m_limit; }

 private:
  void resume_waiters();

  std::uint64_t m_limit;
  std::uint64_t m_queued = 0;
  std::deque<std::function<void()>> m_waiting;
  bool m_resuming = false;  // a resume releasing bytes must not recurse
};

}  // namespace transport

#endif  // TRANSPORT_REPLY_BUDGET_H_
