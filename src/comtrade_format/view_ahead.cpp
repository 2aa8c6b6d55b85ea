// Bringing a mapped file's next block in on a second thread.
#include "comtrade_format/view_ahead.h"

#include <system_error>

#include "platform/platform.h"

namespace comtrade_detail {

ViewAhead::~ViewAhead() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_changed.notify_all();
  }
  m_thread.join();
}

bool ViewAhead::start() {
  try {
    m_thread = std::thread([this] {
      std::unique_lock<std::mutex> lock(m_mutex);
      for (;;) {
        m_changed.wait(lock, [this] { return (m_asked && !m_done) || m_stopping; });
        if (m_stopping) return;
        const std::uint64_t from = m_from, length = m_length, behind = m_behind;
        lock.unlock();
        // The view's pages are this thread's to change while a request is
        // open: the caller lets go of none itself meanwhile.
        const bool present = m_view.bring_in(from, length);
        m_view.let_go_before(behind);
        lock.lock();
        m_present = present;
        m_done = true;
        m_changed.notify_all();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  platform::keep_apart(m_thread);
  return true;
}

void ViewAhead::ask(std::uint64_t from, std::uint64_t length, std::uint64_t behind) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_from = from;
  m_length = length;
  m_behind = behind;
  m_asked = true;
  m_done = false;
  m_changed.notify_all();
}

std::optional<bool> ViewAhead::take(std::uint64_t from) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_asked) return std::nullopt;
  // A request from elsewhere is finished too, so that the caller may touch
  // the view's pages again.
  m_changed.wait(lock, [this] { return m_done; });
  m_asked = false;
  if (m_from != from) return std::nullopt;
  return m_present;
}

}  // namespace comtrade_detail
