// The next block of a mapped data file brought in on a second thread while
// the caller walks the current one. Internal to the data readers.
#ifndef COMTRADE_FORMAT_VIEW_AHEAD_H_
#define COMTRADE_FORMAT_VIEW_AHEAD_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/file_view.h"

namespace comtrade_detail {

// Page faults of a mapped block cost about a third of what copying it would;
// taken ahead on another core, the walk meets pages already in place. The
// same thread lets go of the pages behind the walk, so that a long record
// never holds more than a few blocks of it in this process.
class ViewAhead {
 public:
  explicit ViewAhead(platform::FileView& view) : m_view(view) {}
  ViewAhead(const ViewAhead&) = delete;
  ViewAhead& operator=(const ViewAhead&) = delete;
  // Waits for what was asked: the view must outlive it.
  ~ViewAhead();

  // Starts the thread; false when the system has none to give.
  bool start();
  // Asks for [from, from + length) of the view to be brought in, and for the
  // pages before `behind` to be let go of. Only one request at a time: the
  // one before must have been taken.
  void ask(std::uint64_t from, std::uint64_t length, std::uint64_t behind);
  // Waits for the open request and says whether its pages were all there;
  // nullopt when none was open or it was not the one from `from`.
  std::optional<bool> take(std::uint64_t from);

 private:
  platform::FileView& m_view;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::uint64_t m_from = 0;
  std::uint64_t m_length = 0;
  std::uint64_t m_behind = 0;
  bool m_asked = false;
  bool m_done = false;
  bool m_present = true;
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_VIEW_AHEAD_H_
