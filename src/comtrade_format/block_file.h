// A data file read in large blocks, the next one read ahead on a second
// thread while the caller walks the current one in place. Internal to the
// data readers.
#ifndef COMTRADE_FORMAT_BLOCK_FILE_H_
#define COMTRADE_FORMAT_BLOCK_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_view.h"
#include "platform/platform.h"

namespace comtrade_detail {

class ViewAhead;

// Readable bytes after the end of a block's data (not part of the file), so
// that a scan may load whole vector words across the end of a line.
constexpr std::size_t kReadAheadBytes = 64;

// Asks for the cache line at `at` to be brought in; a hint that never faults.
inline void prefetch(const void* at) {
#if defined(__GNUC__)
  __builtin_prefetch(at);
#else
  (void)at;
#endif
}

// Data sections of at least `bytes` are mapped from the next open on; below,
// they are read. None is mapped until this is called: tests set 1 to walk
// every file through a mapping. Returns the bytes it replaces.
std::uint64_t map_data_from(std::uint64_t bytes);

// A data file read in large blocks; the caller walks the bytes in place. A
// file can be mapped rather than read (map_data_from), its blocks then
// windows of the mapping: nothing is copied.
class BlockFile {
 public:
  BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;
  ~BlockFile();

  // Opens `path` for binary reading, positioned at `offset`, reading at most
  // `limit` bytes from there. False when it cannot be opened or positioned.
  bool open(const std::string& path, std::uint64_t offset = 0,
            std::uint64_t limit = UINT64_MAX);
  // Keeps the last `keep` bytes of the current block (a line or record cut by
  // the block end) at the front and reads more after them. Returns the number
  // of bytes newly read; 0 at the end of the file or on a read error. Throws
  // std::runtime_error when a mapped file was cut while it was read: what
  // was read from it may hold zeros the file never had.
  std::size_t refill(std::size_t keep);
  // Throws as refill() does when the bytes handed out so far were not all
  // the file's: called when a walk ends, after its last block.
  void check_intact() const;
  // The version of the file as it was opened; nullopt when it could not be
  // asked.
  const std::optional<platform::FileStamp>& stamp() const { return m_stamp; }
  // Before the first refill: the walk starts `bytes` further on instead,
  // where the byte before is `before` (a line end, say). False, and nothing
  // moved, when that byte is another or cannot be read.
  bool skip(std::uint64_t bytes, char before);

  const char* data() const { return m_data; }
  // Bytes available at data(): the kept ones and the newly read ones. At
  // least kReadAheadBytes more may be loaded, but their values mean nothing.
  std::size_t size() const { return m_size; }
  // From the next refill on, the block after the current one is read on a
  // second thread while the caller works on this one: copying a file out of
  // the page cache is a good part of reading a large record. Without a
  // thread to be had, and after a cut line too long to move cheaply, the
  // blocks are read here as before. Only worth a thread when the caller
  // expects to read many blocks: `expected_bytes`.
  void read_ahead(std::uint64_t expected_bytes);

 private:
  struct Ahead;
  std::size_t read_into(char* at, std::size_t room);
  std::size_t refill_here(std::size_t keep);
  std::size_t refill_ahead(std::size_t keep);
  std::size_t refill_mapped(std::size_t keep);
  [[noreturn]] void refuse_cut() const;
  bool start_ahead();
  void stop_ahead();

  std::FILE* m_file = nullptr;
  std::uint64_t m_offset = 0;     // where the file was opened
  std::optional<platform::FileStamp> m_stamp;
  std::uint64_t m_remaining = 0;  // bytes the limit still allows
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_capacity = 0;
  const char* m_data = nullptr;  // in m_buffer
  std::size_t m_size = 0;
  bool m_want_ahead = false;
  std::unique_ptr<Ahead> m_ahead;
  std::string m_path;
  platform::FileView m_view;
  std::uint64_t m_view_at = 0;  // view bytes handed out so far
  std::unique_ptr<ViewAhead> m_view_ahead;  // after m_view: it goes first
};

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_BLOCK_FILE_H_
