// The sessions that hold answer bytes, and which of them gives way when
// requests wait for the reply budget.
#ifndef TRANSPORT_STALLED_ANSWERS_H_
#define TRANSPORT_STALLED_ANSWERS_H_

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace transport {

// While requests wait for the reply budget, an answer whose client has taken
// nothing of it for this long loses its place: a client that never reads
// would otherwise hold its share until the stall time-out, and a handful of
// them hold the whole budget. Readers that make progress, however slowly,
// keep their place.
constexpr auto kBudgetStall = std::chrono::seconds(2);
// One that holds more than its fair share of the budget (the budget over the
// connections holding or waiting) gets less time: it keeps more from others.
constexpr auto kShareStall = std::chrono::milliseconds(500);

// `Session` tells stays_listed() (whether it still holds bytes, taking
// itself off otherwise), reply_bytes(), last_progress() and
// stalled_since(time).
template <typename Session>
class HolderList {
 public:
  using Clock = std::chrono::steady_clock;

  // Lists `session`, which has just begun to hold bytes; those that have let
  // go are swept out as the list grows, so it stays near `open_sessions`.
  void add(std::weak_ptr<Session> session, std::size_t open_sessions) {
    if (m_holders.size() >= 64 && m_holders.size() >= 2 * open_sessions) {
      m_holders.erase(std::remove_if(m_holders.begin(), m_holders.end(),
                                     [](const std::weak_ptr<Session>& weak) {
                                       const std::shared_ptr<Session> held = weak.lock();
                                       return !held || !held->stays_listed();
                                     }),
                      m_holders.end());
    }
    m_holders.push_back(std::move(session));
  }

  // The session whose answer made no progress for longest, past what it is
  // allowed with a budget of `budget` bytes and `waiters` waiting; null when
  // none is stalled.
  std::shared_ptr<Session> oldest_stall(std::uint64_t budget, std::size_t waiters, Clock::time_point now) {
    std::vector<std::shared_ptr<Session>> holding;
    std::vector<std::weak_ptr<Session>> still_holding;
    for (const std::weak_ptr<Session>& weak : m_holders) {
      const std::shared_ptr<Session> session = weak.lock();
      if (!session || !session->stays_listed()) continue;
      still_holding.push_back(weak);
      holding.push_back(session);
    }
    m_holders.swap(still_holding);
    const std::uint64_t fair_share = budget / std::max<std::size_t>(1, holding.size() + waiters);
    std::shared_ptr<Session> oldest;
    for (const std::shared_ptr<Session>& session : holding) {
      const auto allowed = session->reply_bytes() > fair_share ? Clock::duration(kShareStall)
                                                               : Clock::duration(kBudgetStall);
      if (!session->stalled_since(now - allowed)) continue;
      if (!oldest || session->last_progress() < oldest->last_progress()) oldest = session;
    }
    return oldest;
  }

 private:
  std::vector<std::weak_ptr<Session>> m_holders;
};

}  // namespace transport

#endif  // TRANSPORT_STALLED_ANSWERS_H_
