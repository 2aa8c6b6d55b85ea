// What the ASCII and the binary data reader share: block reads of the data
// file, the value texts and the hand-over of the finished texts to the store.
// Internal to this module.
#ifndef COMTRADE_FORMAT_DATA_READER_SUPPORT_H_
#define COMTRADE_FORMAT_DATA_READER_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/fixed4.h"

namespace comtrade_detail {

// A data file read in large blocks; the caller walks the bytes in place.
class BlockFile {
 public:
  BlockFile() = default;
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;
  ~BlockFile();

  // Opens `path` for binary reading. False when it cannot be opened.
  bool open(const std::string& path);
  // Keeps the last `keep` bytes of the current block (a line or record cut by
  // the block end) at the front and reads more after them. Returns the number
  // of bytes newly read; 0 at the end of the file or on a read error.
  std::size_t refill(std::size_t keep);
  const char* data() const { return m_buffer.get(); }
  // Bytes available at data(): the kept ones and the newly read ones.
  std::size_t size() const { return m_size; }

 private:
  std::FILE* m_file = nullptr;
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_capacity = 0;
  std::size_t m_size = 0;
};

// Builds one channel's value text in place: the string is kept longer than
// its text and cut to length once at the end, so a value costs no append
// bookkeeping and no call to copy a few bytes.
class TextWriter {
 public:
  // Starts `text` empty with room for about `expected_bytes`.
  void open(std::string& text, std::size_t expected_bytes);
  // Appends the "%.4f" text of `value`, after a "," unless it is the first.
  void add_value(double value, bool first) {
    char* out = room(kFixed4MaxChars + 1);
    if (!first) *out++ = ',';
    m_used += (first ? 0 : 1) + format_fixed4(value, out);
  }
  // Appends `length` bytes as they are, after a "," unless it is the first.
  void add_bytes(const char* bytes, std::size_t length, bool first) {
    char* out = room(length + 1);
    if (!first) *out++ = ',';
    if (length == 1) {
      *out = *bytes;  // the usual digital status, without a call to copy it
    } else if (length > 0) {
      std::memcpy(out, bytes, length);
    }
    m_used += (first ? 0 : 1) + length;
  }
  // Cuts the string to the text written.
  void close();

 private:
  char* room(std::size_t bytes) {
    if (m_writable - m_used < bytes) grow(bytes);
    return m_data + m_used;
  }
  void grow(std::size_t bytes);

  std::string* m_text = nullptr;
  // The string's bytes and size, kept here so that a value touches only the
  // writer and the text itself.
  char* m_data = nullptr;
  std::size_t m_writable = 0;
  std::size_t m_used = 0;
};

// Bytes one analog value is expected to take in its text (with its comma),
// judged from the channel's scaled range.
std::size_t analog_value_bytes(const analog_info& analog);

// Sizes the working lists for `samples` values per selected channel and
// opens one writer on each entry: `analogs` for AI_DATA_VEC, `digitals` for
// DI_DATA_VEC. The writers must be closed before the texts are handed over.
void prepare_working_lists(const cmtr_cfg_info& cfg, std::int64_t samples,
                           std::vector<TextWriter>& analogs, std::vector<TextWriter>& digitals);

// Moves the finished texts of the working lists into CHAN_DATA_MAP, analog
// channels first; a name already present keeps its first text. When no
// sample was read the lists are emptied and the map gets nothing.
void hand_over_texts(const cmtr_cfg_info& cfg, std::int64_t samples_read);

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_DATA_READER_SUPPORT_H_
