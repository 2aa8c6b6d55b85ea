// How a value text grows slice by slice, and the status texts.
#include "comtrade_format/text_writer.h"

#include <algorithm>

namespace comtrade_detail {

namespace {

// How much of a value text is made writable at once; small enough to stay in
// the cache between clearing and writing.
constexpr std::size_t kTextSliceBytes = 4 * 1024;

}  // namespace

const StatusPairs& status_pairs() {
  static const StatusPairs pairs = [] {
    StatusPairs made;
    for (unsigned m = 0; m < 256; ++m) {
      for (unsigned k = 0; k < 8; ++k) {
        made.text[m][2 * k] = ',';
        made.text[m][2 * k + 1] = (m >> k & 1u) != 0 ? '1' : '0';
      }
    }
    return made;
  }();
  return pairs;
}

void TextWriter::open(std::string& text, std::size_t expected_bytes) {
  m_text = &text;
  m_used = 0;
  // Reserved whole but made writable a slice at a time: the slice is cleared
  // just before it is written, so it is still in the cache, and the pages of
  // an estimate that was too high are never touched.
  text.clear();
  text.reserve(expected_bytes + 2 * (kFixed4MaxChars + 1));
  text.resize(std::min(text.capacity(), kTextSliceBytes));
  m_data = &text[0];
  m_writable = text.size();
}

void TextWriter::grow(std::size_t bytes) {
  std::size_t wanted = std::max(m_text->size() + kTextSliceBytes, m_used + bytes);
  // The last slice stops at the reservation when the bytes asked for fit:
  // growing past it would copy the whole text for a slice never written.
  if (wanted > m_text->capacity() && m_used + bytes <= m_text->capacity()) wanted = m_text->capacity();
  if (wanted > m_text->capacity()) m_text->reserve(std::max(m_text->capacity() * 2, wanted));
  m_text->resize(wanted);
  m_data = &(*m_text)[0];
  m_writable = wanted;
}

void TextWriter::close() {
  if (m_text == nullptr) return;
  // No shrink: copying a large text costs more than its spare tail, which
  // goes with the text at the end of the request.
  m_text->resize(m_used);
}

}  // namespace comtrade_detail
