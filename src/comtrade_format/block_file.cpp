// Block reads of a data file, here or ahead on a second thread.
#include "comtrade_format/block_file.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "comtrade_format/view_ahead.h"
#include "platform/platform.h"

namespace comtrade_detail {

namespace {

// Large enough that a read costs little per byte, small enough that the
// fresh pages of each request's buffer stay few and the block stays near the
// cache.
constexpr std::size_t kBlockBytes = 1024 * 1024;
// A block of a mapped file costs no buffer, only the hand-over between the
// caller's lanes and the thread that brings the pages in; larger blocks
// take fewer of them (4 MiB: BINARY 1M 4A+2D 10.7 -> 10.0 ms, ASCII 1M
// 35.7 -> 33 ms), and the pages held stay a few blocks.
constexpr std::size_t kViewBlockBytes = 4 * kBlockBytes;

// Data of this many bytes and more is mapped; by default none is. A
// mapping costs a few calls, its page faults and, when it goes, a flush of
// the page tables on every core the process runs on. Where the hypervisor
// shadows the guest's page tables, bringing pages in and letting them go
// costs far more than copying them: under one such, a whole BINARY 1M
// waveform took 14 ms mapped against 4.7 read, /getEvents 16 against 5,
// /getFileInfo 4A+2D 28-34 against 19; under another, mapping saved about
// a tenth. Reads are never far from the best, so they are the rule.
std::atomic<std::uint64_t> g_map_from_bytes{UINT64_MAX};

}  // namespace

std::uint64_t map_data_from(std::uint64_t bytes) { return g_map_from_bytes.exchange(bytes, std::memory_order_relaxed); }

// The second thread of a block file and the buffer it reads into. A buffer
// has room in front of its block for the cut line kept from the block
// before, so that the two join without moving the new block.
struct BlockFile::Ahead {
  static constexpr std::size_t kKeepRoom = 64 * 1024;
  static constexpr std::size_t kSpares = 6;
  static std::unique_ptr<char[]> make_buffer() {
    return std::unique_ptr<char[]>(new char[kKeepRoom + kBlockBytes + kReadAheadBytes]);
  }

  std::unique_ptr<char[]> buffer = make_buffer();  // read into
  // Buffers the caller was done with, oldest first. The next read goes into
  // the oldest: the caller's core has had time to let go of its lines, which
  // the reading core would otherwise have to take from it one by one.
  std::deque<std::unique_ptr<char[]>> spares;
  std::size_t fresh = 0;  // bytes read behind the room, once done
  bool asked = false;     // a read is asked for, or done and not yet taken
  bool done = false;
  bool stopping = false;
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;
};

BlockFile::BlockFile() = default;

BlockFile::~BlockFile() {
  stop_ahead();
  m_view_ahead.reset();
  if (m_file != nullptr) std::fclose(m_file);
}

bool BlockFile::open(const std::string& path, std::uint64_t offset, std::uint64_t limit) {
  // A FIFO would block the one I/O thread and a device may never end.
  if (!platform::is_regular_file(path)) return false;
  m_file = std::fopen(path.c_str(), "rb");
  if (m_file == nullptr) return false;
  // The blocks are our buffer; a second one inside stdio would only copy.
  std::setvbuf(m_file, nullptr, _IONBF, 0);
  if (!platform::seek_to(m_file, offset)) {
    std::fclose(m_file);
    m_file = nullptr;
    return false;
  }
  m_offset = offset;
  m_remaining = limit;
  m_path = path;
  m_stamp = platform::file_stamp(m_file);
  if (m_stamp && m_stamp->size > offset) {
    const std::uint64_t length = std::min(limit, m_stamp->size - offset);
    if (length >= g_map_from_bytes.load(std::memory_order_relaxed)) {
      m_view.map(m_file, offset, length, kReadAheadBytes);
    }
  }
  return true;
}

bool BlockFile::skip(std::uint64_t bytes, char before) {
  if (m_file == nullptr || m_data != nullptr || bytes == 0 || bytes > m_remaining) return false;
  char found = 0;
  if (platform::read_at(m_file, m_offset + bytes - 1, &found, 1) != 1 || found != before) return false;
  if (m_view.mapped()) {
    if (bytes > m_view.size()) return false;
    m_view_at = bytes;
    return true;
  }
  if (!platform::seek_to(m_file, m_offset + bytes)) return false;
  m_remaining -= bytes;
  return true;
}

void BlockFile::check_intact() const {
  if (m_view.lost()) refuse_cut();
}

void BlockFile::refuse_cut() const { throw std::runtime_error("data file cut while it was read: " + m_path); }

std::size_t BlockFile::read_into(char* at, std::size_t room) {
  if (m_file == nullptr || m_remaining == 0) return 0;
  const auto asked = static_cast<std::size_t>(std::min<std::uint64_t>(room, m_remaining));
  const std::size_t fresh = std::fread(at, 1, asked, m_file);
  m_remaining -= fresh;
  return fresh;
}

void BlockFile::read_ahead(std::uint64_t expected_bytes) {
  // A thread costs tens of microseconds to start; a block takes about as
  // long to copy out of the page cache.
  m_want_ahead = expected_bytes >= 8 * kBlockBytes;
}

std::size_t BlockFile::refill(std::size_t keep) {
  keep = std::min(keep, m_size);
  if (m_view.mapped()) return refill_mapped(keep);
  if (m_want_ahead && !m_buffer) {
    m_want_ahead = false;
    // The first block is read here, the next one meanwhile.
    m_buffer = Ahead::make_buffer();
    char* const block = m_buffer.get() + Ahead::kKeepRoom;
    m_data = block;
    m_size = read_into(block, kBlockBytes);
    if (m_size == 0 || !start_ahead()) {
      // Plain reads from here on: the block moves to the buffer's front.
      std::memmove(m_buffer.get(), block, m_size);
      m_data = m_buffer.get();
      m_capacity = Ahead::kKeepRoom + kBlockBytes;
    }
    return m_size;
  }
  return m_ahead ? refill_ahead(keep) : refill_here(keep);
}

std::size_t BlockFile::refill_mapped(std::size_t keep) {
  check_intact();
  if (m_want_ahead) {
    m_want_ahead = false;
    m_view_ahead = std::make_unique<ViewAhead>(m_view);
    if (!m_view_ahead->start()) m_view_ahead.reset();
  }
  const std::uint64_t start = m_view_at - keep;
  const auto fresh = static_cast<std::size_t>(std::min<std::uint64_t>(kViewBlockBytes, m_view.size() - m_view_at));
  std::optional<bool> present;
  if (m_view_ahead) present = m_view_ahead->take(m_view_at);
  if (fresh > 0 && !present) present = m_view.bring_in(m_view_at, fresh);
  // A page the file no longer has would read as zeros: refused before use.
  if (fresh > 0 && !*present) refuse_cut();
  m_data = m_view.data() + start;
  m_size = keep + fresh;
  m_view_at += fresh;
  const auto next = static_cast<std::size_t>(std::min<std::uint64_t>(kViewBlockBytes, m_view.size() - m_view_at));
  if (!m_view_ahead) {
    m_view.let_go_before(start);
  } else if (next > 0) {
    m_view_ahead->ask(m_view_at, next, start);
  }
  return fresh;
}

std::size_t BlockFile::refill_here(std::size_t keep) {
  if (!m_buffer) {
    // Not cleared: every byte used is read first, and the read-ahead bytes
    // are loaded only to be masked off.
    m_buffer.reset(new char[kBlockBytes + kReadAheadBytes]);
    m_capacity = kBlockBytes;
    m_data = m_buffer.get();
  } else if (keep > m_capacity / 2) {
    // A line longer than half a block: grow, or each refill would read only
    // a few bytes and move the whole line again.
    std::unique_ptr<char[]> larger(new char[m_capacity * 2 + kReadAheadBytes]);
    std::memcpy(larger.get(), m_data + m_size - keep, keep);
    m_buffer = std::move(larger);
    m_data = m_buffer.get();
    m_capacity *= 2;
    m_size = keep;
  }
  char* const front = m_buffer.get();
  if (keep > 0 && m_data + m_size - keep != front) std::memmove(front, m_data + m_size - keep, keep);
  m_data = front;
  m_size = keep;
  const std::size_t fresh = read_into(front + keep, m_capacity - keep);
  m_size += fresh;
  return fresh;
}

std::size_t BlockFile::refill_ahead(std::size_t keep) {
  Ahead& ahead = *m_ahead;
  const char* const kept = m_data + m_size - keep;
  std::size_t fresh = 0;
  {
    std::unique_lock<std::mutex> lock(ahead.mutex);
    if (!ahead.asked) {
      // The end was reached before: nothing more comes.
      m_data = kept;
      m_size = keep;
      return 0;
    }
    ahead.changed.wait(lock, [&] { return ahead.done; });
    fresh = ahead.fresh;
    ahead.asked = false;
    ahead.done = false;
  }
  char* const block = ahead.buffer.get() + Ahead::kKeepRoom;
  if (keep > Ahead::kKeepRoom) {
    // A cut line longer than the room: it and the new block are joined in a
    // plain buffer, and the blocks are read here from now on, which grows the
    // buffer for such lines.
    const std::unique_ptr<char[]> read = std::move(ahead.buffer);
    stop_ahead();
    const std::size_t capacity = std::max(kBlockBytes, 2 * (keep + fresh));
    std::unique_ptr<char[]> joined(new char[capacity + kReadAheadBytes]);
    std::memcpy(joined.get(), kept, keep);
    std::memcpy(joined.get() + keep, block, fresh);
    m_buffer = std::move(joined);
    m_capacity = capacity;
    m_data = m_buffer.get();
    m_size = keep + fresh;
    return fresh;
  }
  char* const front = block - keep;
  std::memcpy(front, kept, keep);
  // The block read becomes ours; the next read goes into the oldest buffer.
  ahead.spares.push_back(std::move(m_buffer));
  m_buffer = std::move(ahead.buffer);
  ahead.buffer = std::move(ahead.spares.front());
  ahead.spares.pop_front();
  m_data = front;
  m_size = keep + fresh;
  if (fresh > 0) {
    std::lock_guard<std::mutex> lock(ahead.mutex);
    ahead.asked = true;
    ahead.changed.notify_all();
  }
  return fresh;
}

bool BlockFile::start_ahead() {
  m_ahead = std::make_unique<Ahead>();
  Ahead& ahead = *m_ahead;
  for (std::size_t i = 0; i < Ahead::kSpares; ++i) ahead.spares.push_back(Ahead::make_buffer());
  ahead.asked = true;
  try {
    ahead.thread = std::thread([this, &ahead] {
      std::unique_lock<std::mutex> lock(ahead.mutex);
      for (;;) {
        ahead.changed.wait(lock, [&] { return (ahead.asked && !ahead.done) || ahead.stopping; });
        if (ahead.stopping) return;
        lock.unlock();
        // The file and the remaining count are this thread's while a read is
        // asked for: the caller waits for `done` before it touches either.
        const std::size_t fresh = read_into(ahead.buffer.get() + Ahead::kKeepRoom, kBlockBytes);
        lock.lock();
        ahead.fresh = fresh;
        ahead.done = true;
        ahead.changed.notify_all();
      }
    });
  } catch (const std::system_error&) {
    m_ahead.reset();
    return false;
  }
  platform::keep_apart(ahead.thread);
  return true;
}

void BlockFile::stop_ahead() {
  if (!m_ahead) return;
  {
    std::lock_guard<std::mutex> lock(m_ahead->mutex);
    m_ahead->stopping = true;
    m_ahead->changed.notify_all();
  }
  m_ahead->thread.join();
  m_ahead.reset();
}

}  // namespace comtrade_detail
