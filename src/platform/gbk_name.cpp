// Reading names character by character.
#include "platform/gbk_name.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {

// A single-byte character with its ASCII letter folded to upper case.
unsigned char folded(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

// The bytes of a name with its single-byte letters folded, one at a time.
class FoldedBytes {
 public:
  explicit FoldedBytes(std::string_view name) : m_name(name) {}
  bool done() const { return m_at == m_name.size(); }
  unsigned char next() {
    const unsigned char byte = static_cast<unsigned char>(m_name[m_at++]);
    if (m_trail) {
      m_trail = false;
      return byte;
    }
    m_trail = is_gbk_lead(byte);
    return folded(byte);
  }

 private:
  std::string_view m_name;
  std::size_t m_at = 0;
  bool m_trail = false;  // the next byte ends a two-byte character
};

}  // namespace

bool holds_character(std::string_view name, char c) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == c) return true;
    if (is_gbk_lead(static_cast<unsigned char>(name[i]))) ++i;
  }
  return false;
}

std::string fold_case(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  FoldedBytes bytes(name);
  while (!bytes.done()) folded += static_cast<char>(bytes.next());
  return folded;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  FoldedBytes left(a);
  FoldedBytes right(b);
  while (!left.done()) {
    if (left.next() != right.next()) return false;
  }
  return true;
}

bool listing_less(std::string_view a, std::string_view b) {
  // Bytes are folded only where they differ: names of one directory share
  // long prefixes, and up to the first difference ignoring case both names
  // are in the same place of a two-byte character (bytes that differ but
  // fold alike are letters, never lead bytes).
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  // Whole words alike with no byte of 0x80 or more: nothing to fold, and no
  // two-byte character begins among them.
  std::size_t i = 0;
  for (; i + 8 <= common; i += 8) {
    std::uint64_t left, right;
    std::memcpy(&left, a.data() + i, 8);
    std::memcpy(&right, b.data() + i, 8);
    if (left != right || (left & 0x8080808080808080ULL) != 0) break;
  }
  bool trail = false;  // the next byte ends a two-byte character
  for (; i < common; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) {
      if (trail) return ca < cb;
      if (folded(ca) != folded(cb)) return folded(ca) < folded(cb);
    }
    trail = !trail && is_gbk_lead(ca);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  // Names equal ignoring case still need one fixed order.
  return a < b;
}

}  // namespace platform
