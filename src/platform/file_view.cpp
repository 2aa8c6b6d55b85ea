// Guarded file views: the mapping, and the SIGBUS handler that turns a
// vanished page of a view into a page of zeros.
#include "platform/file_view.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#if defined(__unix__)
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace platform {

#if defined(__unix__)

namespace {

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14; older kernels answer EINVAL
#endif

// The address range of one open view, as the signal handler sees it: only
// atomics, read without a lock.
struct Guard {
  std::atomic<bool> taken{false};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> lost{false};
};
// Views open at once: two lanes of a few requests' loads. A view beyond them
// is refused and the caller reads instead.
constexpr int kGuards = 64;
Guard g_guards[kGuards];
std::size_t g_page = 4096;
struct sigaction g_previous;

void pass_on(int signal, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
  } else {
    // The fault repeats when the handler returns, and ends the process as it
    // would have without this handler.
    struct sigaction plain;
    std::memset(&plain, 0, sizeof plain);
    plain.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &plain, nullptr);
  }
}

void on_bus_error(int signal, siginfo_t* info, void* context) {
  // The interrupted code may be about to look at errno.
  const int saved_errno = errno;
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Guard& guard : g_guards) {
    const std::uintptr_t begin = guard.begin.load(std::memory_order_acquire);
    if (begin == 0 || at < begin || at >= guard.end.load(std::memory_order_acquire)) continue;
    // A page of zeros where the file's page was; the faulting read is then
    // repeated and reads zeros.
    void* const page = reinterpret_cast<void*>(at & ~(g_page - 1));
    if (::mmap(page, g_page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) break;
    guard.lost.store(true, std::memory_order_release);
    errno = saved_errno;
    return;
  }
  errno = saved_errno;
  pass_on(signal, info, context);
}

bool install_handler() {
  static std::once_flag once;
  static bool installed = false;
  std::call_once(once, [] {
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) g_page = static_cast<std::size_t>(page);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    installed = ::sigaction(SIGBUS, &action, &g_previous) == 0;
  });
  return installed;
}

int take_guard(std::uintptr_t begin, std::uintptr_t end) {
  for (int i = 0; i < kGuards; ++i) {
    bool expected = false;
    if (!g_guards[i].taken.compare_exchange_strong(expected, true)) continue;
    g_guards[i].lost.store(false);
    g_guards[i].end.store(end, std::memory_order_release);
    g_guards[i].begin.store(begin, std::memory_order_release);
    return i;
  }
  return -1;
}

void give_back_guard(int index) {
  g_guards[index].begin.store(0, std::memory_order_release);
  g_guards[index].end.store(0, std::memory_order_release);
  g_guards[index].taken.store(false, std::memory_order_release);
}

}  // namespace

FileView::~FileView() { unmap(); }

bool FileView::map(std::FILE* file, std::uint64_t offset, std::uint64_t length, std::size_t slack) {
  unmap();
  if (file == nullptr || length == 0 || !install_handler()) return false;
  const int fd = ::fileno(file);
  if (fd < 0) return false;
  const std::uint64_t start = offset & ~static_cast<std::uint64_t>(g_page - 1);
  const std::uint64_t skip = offset - start;
  const auto round_up = [](std::uint64_t bytes) {
    return (bytes + g_page - 1) & ~static_cast<std::uint64_t>(g_page - 1);
  };
  const std::uint64_t file_part = round_up(skip + length);
  const std::uint64_t whole = round_up(skip + length + slack);
  if (whole > SIZE_MAX) return false;
  // Zero pages for the slack first, the file over its part of them: the
  // slack after a file that ends on a page boundary is then still readable.
  void* const base = ::mmap(nullptr, static_cast<std::size_t>(whole), PROT_READ,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return false;
  if (::mmap(base, static_cast<std::size_t>(file_part), PROT_READ, MAP_PRIVATE | MAP_FIXED, fd,
             static_cast<off_t>(start)) == MAP_FAILED) {
    ::munmap(base, static_cast<std::size_t>(whole));
    return false;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(base);
  m_guard = take_guard(begin, begin + file_part);
  if (m_guard < 0) {
    ::munmap(base, static_cast<std::size_t>(whole));
    return false;
  }
  m_base = static_cast<char*>(base);
  m_mapped = static_cast<std::size_t>(whole);
  m_data = m_base + skip;
  m_size = length;
  m_let_go = 0;
  return true;
}

bool FileView::bring_in(std::uint64_t from, std::uint64_t length) {
  if (m_data == nullptr || length == 0) return true;
  const std::uint64_t first = static_cast<std::uint64_t>(m_data - m_base) + from;
  const std::uint64_t begin = first & ~static_cast<std::uint64_t>(g_page - 1);
  const std::uint64_t end = std::min<std::uint64_t>(first + length, m_mapped);
  if (::madvise(m_base + begin, static_cast<std::size_t>(end - begin), MADV_POPULATE_READ) == 0) return true;
  // Only a page past the file's end says the file is shorter now; a kernel
  // without the request leaves the pages to come in one by one.
  return errno != EFAULT;
}

void FileView::let_go_before(std::uint64_t offset) {
  // Unmapping costs a call and a flush of the page tables; at least a few
  // megabytes at once keep that small beside the walk.
  constexpr std::uint64_t kLetGoBytes = 4 * 1024 * 1024;
  if (m_data == nullptr) return;
  const std::uint64_t end =
      (static_cast<std::uint64_t>(m_data - m_base) + offset) & ~static_cast<std::uint64_t>(g_page - 1);
  if (end < m_let_go + kLetGoBytes) return;
  // Pages of a private mapping never written: dropping them here only
  // undoes the mapping, the page cache keeps the file's bytes.
  if (::madvise(m_base + m_let_go, static_cast<std::size_t>(end - m_let_go), MADV_DONTNEED) == 0) m_let_go = end;
}

bool FileView::lost() const {
  return m_guard >= 0 && g_guards[m_guard].lost.load(std::memory_order_acquire);
}

void FileView::unmap() {
  if (m_base == nullptr) return;
  give_back_guard(m_guard);
  ::munmap(m_base, m_mapped);
  m_base = nullptr;
  m_mapped = 0;
  m_data = nullptr;
  m_size = 0;
  m_guard = -1;
}

#else  // no mapping: every caller reads

FileView::~FileView() = default;
bool FileView::map(std::FILE*, std::uint64_t, std::uint64_t, std::size_t) { return false; }
bool FileView::bring_in(std::uint64_t, std::uint64_t) { return true; }
void FileView::let_go_before(std::uint64_t) {}
bool FileView::lost() const { return false; }
void FileView::unmap() {}

#endif

}  // namespace platform
