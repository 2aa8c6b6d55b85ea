// A read-only view of part of an open file, mapped instead of copied, and
// guarded against the file being cut while it is mapped.
#ifndef PLATFORM_FILE_VIEW_H_
#define PLATFORM_FILE_VIEW_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// Bytes of an open file seen in place. A large record is walked once from
// front to back, and copying it out of the page cache first costs as much as
// a good part of the walk and, on a second thread, a core's worth of memory
// traffic. A page that vanishes while it is mapped (another process cut the
// file) would end the process with SIGBUS; here it reads as zeros instead,
// and the view says it was lost, so that the reader can refuse what it read.
class FileView {
 public:
  FileView() = default;
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;
  ~FileView();

  // Maps `length` bytes of `file` from `offset`, with `slack` more readable
  // bytes after them (their values mean nothing). False when the system does
  // not map it, or too many views are open: the caller reads instead.
  bool map(std::FILE* file, std::uint64_t offset, std::uint64_t length, std::size_t slack);
  bool mapped() const { return m_data != nullptr; }
  const char* data() const { return m_data; }
  std::uint64_t size() const { return m_size; }
  // Brings the pages of [from, from + length) in at once, fewer faults than
  // page by page; false when some of them are no longer in the file.
  bool bring_in(std::uint64_t from, std::uint64_t length);
  // The bytes before `offset` are not read again: their pages leave this
  // process (the page cache keeps them), so a long walk holds only the pages
  // near where it is.
  void let_go_before(std::uint64_t offset);
  // Whether a page vanished from under the view since it was mapped.
  bool lost() const;

 private:
  void unmap();

  char* m_base = nullptr;  // the whole mapping, page aligned
  std::size_t m_mapped = 0;
  const char* m_data = nullptr;  // the offset's byte in it
  std::uint64_t m_size = 0;
  std::uint64_t m_let_go = 0;  // bytes of m_base already let go of
  int m_guard = -1;
};

}  // namespace platform

#endif  // PLATFORM_FILE_VIEW_H_
