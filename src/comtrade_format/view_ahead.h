// The next block of a mapped data file brought in on a second thread while
// the caller walks the current one. Internal to the data readers.
#ifndef COMTRADE_FORMAT_VIEW_AHEAD_H_
#define COMTRADE_FORMAT_VIEW_AHEAD_H_

#include <cstdint>
#include <functional>
#include <optional>

#include "comtrade_format/two_lanes.h"
#include "platform/file_view.h"

namespace comtrade_detail {

// Page faults of a mapped block cost about a third of what copying it would;
// taken ahead on another core, the walk meets pages already in place. The
// same thread lets go of the pages behind the walk, so that a long record
// never holds more than a few blocks of it in this process.
class ViewAhead {
 public:
  // The view must outlive it: its thread is joined when it goes.
  explicit ViewAhead(platform::FileView& view)
      : m_view(view), m_pipe(Task(), [](Task& task) { task(); }) {}

  // Starts the thread; false when the system has none to give.
  bool start() { return m_pipe.start(); }
  // Asks for [from, from + length) of the view to be brought in, and for the
  // pages before `behind` to be let go of. Only one request at a time: the
  // one before must have been taken.
  void ask(std::uint64_t from, std::uint64_t length, std::uint64_t behind) {
    m_asked = true;
    m_from = from;
    // The view's pages are the thread's to change while a request is open:
    // the caller lets go of none itself meanwhile.
    Task task = [this, from, length, behind] {
      m_present = m_view.bring_in(from, length);
      m_view.let_go_before(behind);
    };
    m_pipe.pass(task);
  }
  // Waits for the open request and says whether its pages were all there;
  // nullopt when none was open or it was not the one from `from` (it is
  // finished all the same, so that the caller may touch the pages again).
  std::optional<bool> take(std::uint64_t from) {
    if (!m_asked) return std::nullopt;
    m_pipe.settle();
    m_asked = false;
    if (m_from != from) return std::nullopt;
    return m_present;
  }

 private:
  using Task = std::function<void()>;
  platform::FileView& m_view;
  bool m_asked = false;
  std::uint64_t m_from = 0;
  bool m_present = true;  // written by the thread before settle() returns
  BatchPipe<Task> m_pipe;  // last: its thread goes before the fields it writes
};

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_VIEW_AHEAD_H_
