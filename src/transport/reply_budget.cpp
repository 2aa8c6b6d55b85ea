// How the reply budget lets waiting requests go as written bytes free it.
#include "transport/reply_budget.h"

#include <utility>

namespace transport {

void ReplyBudget::set_limit(std::uint64_t limit) {
  m_limit = limit;
  resume_waiters();
}

void ReplyBudget::released(std::uint64_t bytes) {
  m_queued = bytes < m_queued ? m_queued - bytes : 0;
  resume_waiters();
}

void ReplyBudget::wait(std::function<void()> resume) { m_waiting.push_back(std::move(resume)); }

void ReplyBudget::resume_waiters() {
  if (m_resuming) return;
  m_resuming = true;
  while (m_queued < m_limit && !m_waiting.empty()) {
    std::function<void()> resume = std::move(m_waiting.front());
    m_waiting.pop_front();
    resume();
  }
  m_resuming = false;
}

}  // namespace transport
