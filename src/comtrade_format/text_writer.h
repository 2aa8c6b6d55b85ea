// One channel's value text built in place, and the texts of eight statuses
// in a row. Internal to the data readers.
#ifndef COMTRADE_FORMAT_TEXT_WRITER_H_
#define COMTRADE_FORMAT_TEXT_WRITER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "comtrade_format/fixed4.h"
#include "comtrade_format/sample_texts.h"

namespace comtrade_detail {

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
  // Appends the text of `sample` scaled by the table's factors, after a ","
  // unless it is the first.
  void add_sample(SampleTexts& table, std::int16_t sample, bool first) {
    const SampleTexts::Slot& slot = table.slot(sample);
    if (slot.length == SampleTexts::kTooLong) {
      add_value(table.value(sample), first);
      return;
    }
    // The whole slot goes in one fixed-size copy; the bytes past the text
    // are overwritten by the next value or cut off at the end.
    char* out = room(sizeof slot);
    if (first) {
      std::memcpy(out, slot.text + 1, sizeof slot.text - 1);
      m_used += slot.length - 1u;
    } else {
      std::memcpy(out, &slot, sizeof slot);
      m_used += slot.length;
    }
  }
  // Appends the texts of `count` values, each after a "," (so never the
  // first value of a text): where `sample(i, s)` gives value i as a 16-bit
  // sample s, the table's text of it, otherwise the "%.4f" text of
  // `value(i)`. `guess(i)` is a cheap guess of sample i's slot, only used to
  // bring the slot into the cache ahead of its use. The text's end and the
  // table stay in registers through a run of values; the text's bytes may
  // alias anything, so the writer's own fields would be reloaded after every
  // store.
  template <typename Sample, typename Guess, typename Value>
  void add_table_samples(SampleTexts& table, std::int64_t count, Sample sample, Guess guess, Value value) {
    constexpr std::int64_t kRun = 256;
    // How many values ahead a slot is asked for: about as many as the memory
    // system keeps in flight.
    constexpr std::int64_t kAhead = 32;
    SampleTexts::Slot* const slots = table.slots();
    std::int64_t i = 0;
    while (i < count) {
      const std::int64_t end = std::min(count, i + kRun);
      char* out = room(static_cast<std::size_t>(end - i) * sizeof(SampleTexts::Slot));
      for (; i < end; ++i) {
        std::int16_t s;
        if (!sample(i, s)) break;
        // A table is too large to stay in the cache, and the column's
        // samples are known ahead.
        if (i + kAhead < count) prefetch(&slots[guess(i + kAhead)]);
        SampleTexts::Slot& slot = slots[static_cast<std::uint16_t>(s)];
        if (slot.length == 0) table.fill(slot, s);
        if (slot.length == SampleTexts::kTooLong) break;
        // The whole slot in one fixed-size copy; the bytes past the text are
        // overwritten by the next value or cut off at the end.
        std::memcpy(out, &slot, sizeof slot);
        out += slot.length;
      }
      m_used = static_cast<std::size_t>(out - m_data);
      if (i < end) add_value(value(i++), false);  // no table text for it
    }
  }
  // Appends `count` texts, each after a ",": byte i of `bytes` where it is
  // not NUL, and where it is, the text odd(i).
  template <typename Odd>
  void add_byte_texts(const char* bytes, std::int64_t count, Odd odd) {
    constexpr std::int64_t kRun = 2048;
    std::int64_t i = 0;
    while (i < count) {
      const std::int64_t end = std::min(count, i + kRun);
      char* out = room(2 * static_cast<std::size_t>(end - i));
      for (; i < end && bytes[i] != '\0'; ++i, out += 2) {
        out[0] = ',';
        out[1] = bytes[i];
      }
      m_used = static_cast<std::size_t>(out - m_data);
      if (i < end) {
        const std::string_view text = odd(i++);
        add_bytes(text.data(), text.size(), false);
      }
    }
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
  // Appends `count` statuses "0"/"1", each after a "," unless it is the very
  // first, with one room check: `bit(i)` tells whether status i is set.
  template <typename Bit>
  void add_bits(std::int64_t count, bool first, Bit bit) {
    if (count <= 0) return;
    char* out = room(2 * static_cast<std::size_t>(count));
    std::int64_t i = 0;
    if (first) *out++ = bit(i++) ? '1' : '0';
    for (; i < count; ++i, out += 2) {
      out[0] = ',';
      out[1] = bit(i) ? '1' : '0';
    }
    m_used = static_cast<std::size_t>(out - m_data);
  }
  // For loops that write a run of values themselves, keeping the end of the
  // text in a register: run(bytes) gives room for `bytes` more bytes at the
  // end of the text, ran(end) sets the text's end after they were written.
  char* run(std::size_t bytes) { return room(bytes); }
  void ran(const char* end) { m_used = static_cast<std::size_t>(end - m_data); }
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

// The texts of eight statuses in a row, each after a ",": entry m holds
// ",b0,b1,...,b7" where bk is bit k of m.
struct StatusPairs {
  char text[256][16];
};
const StatusPairs& status_pairs();

}  // namespace comtrade_detail

#endif  // COMTRADE_FORMAT_TEXT_WRITER_H_
