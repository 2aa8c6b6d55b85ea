// Work of one load split over two threads: batches handed from a filler to
// a writer, and a second lane kept for a whole load. Internal to the data
// readers.
#ifndef COMTRADE_FORMAT_TWO_LANES_H_
#define COMTRADE_FORMAT_TWO_LANES_H_

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace comtrade_detail {

// Whether a block of `values` values, with work for both lanes, is worth
// splitting over two lanes. Handing a lane over costs some microseconds, so
// small blocks stay in one. Measured on two cores, many columns (a wide
// record) build about a third faster in two lanes, and a few long 16-bit
// columns (4A+2D of a long record) take about 3 ms less of 25.
inline bool worth_two_lanes(std::int64_t values) { return values >= 200000; }

// Hands batches of work from the thread that fills them to a second thread
// that writes them out, so that filling the next batch and writing the last
// one take a core each. Two batches take turns: pass() waits until the
// writer is done with the one it has, then swaps it for the filled one. The
// writer gets the batches in the order they are passed. Whatever the writer
// touches, the filler must leave alone until finish() returns.
template <typename Batch>
class BatchPipe {
 public:
  // `spare` is the second batch, of the same shape as the one to be filled.
  BatchPipe(Batch spare, std::function<void(Batch&)> write)
      : m_current(std::move(spare)), m_write(std::move(write)) {}
  BatchPipe(const BatchPipe&) = delete;
  BatchPipe& operator=(const BatchPipe&) = delete;
  ~BatchPipe() { stop(); }

  // Starts the writer thread; false when the system has none to give.
  bool start() {
    try {
      m_thread = std::thread([this] { serve(); });
      platform::keep_apart(m_thread);
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }
  // Gives `filled` to the writer and leaves in it the batch written before
  // (to be emptied and filled again). Rethrows what the writer threw.
  void pass(Batch& filled) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_has_work; });
    if (m_error) std::rethrow_exception(m_error);
    std::swap(m_current, filled);
    m_has_work = true;
    m_changed.notify_all();
  }
  // Waits until every batch passed is written and gives what the writer
  // threw, if anything; the writer stays for more.
  std::exception_ptr settle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_has_work; });
    return m_error;
  }
  // Waits until every batch passed is written; rethrows what the writer threw.
  void finish() {
    stop();
    if (m_error) std::rethrow_exception(m_error);
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [this] { return m_has_work || m_stopping; });
      if (!m_has_work) return;
      lock.unlock();
      try {
        if (!m_error) m_write(m_current);
      } catch (...) {
        m_error = std::current_exception();
      }
      lock.lock();
      m_has_work = false;
      m_changed.notify_all();
    }
  }
  void stop() {
    if (!m_thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
      m_changed.notify_all();
    }
    m_thread.join();
  }

  Batch m_current;  // the writer's, while m_has_work
  std::function<void(Batch&)> m_write;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_has_work = false;
  bool m_stopping = false;
  std::exception_ptr m_error;  // written by the writer before it clears m_has_work
  std::thread m_thread;
};

// Two lanes of work for each block of a load: work(0) here and work(1) on a
// second thread, at once. The thread is started for the first block that
// wants it and kept for the whole load, so that a block's second lane costs a
// hand-over, not a thread. The lanes must touch nothing in common but what
// they only read. A large answer uses the second core this way while its
// request still runs to its end before the next one is read.
class SecondLane {
 public:
  // Returns when both lanes are done, rethrowing what either threw; with
  // `parallel` false, or without a thread to be had, both run here one after
  // the other.
  template <typename Work>
  void run(bool parallel, Work&& work) {
    if (parallel && !m_tried) {
      m_tried = true;
      m_pipe = std::make_unique<BatchPipe<Task>>(Task(), [](Task& task) { task(); });
      if (!m_pipe->start()) m_pipe.reset();
    }
    if (!parallel || !m_pipe) {
      work(0);
      work(1);
      return;
    }
    Task task = [&work] { work(1); };
    m_pipe->pass(task);
    // The second lane uses this frame's data: it is waited for whatever
    // happens here.
    std::exception_ptr here;
    try {
      work(0);
    } catch (...) {
      here = std::current_exception();
    }
    const std::exception_ptr there = m_pipe->settle();
    if (here) std::rethrow_exception(here);
    if (there) std::rethrow_exception(there);
  }

 private:
  using Task = std::function<void()>;
  bool m_tried = false;
  std::unique_ptr<BatchPipe<Task>> m_pipe;
};

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_TWO_LANES_H_
