// Plain conversions of log messages.
#include "logger/log_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace {

// Whether every conversion of `format` is one format_plain writes.
bool plain(const char* format) {
  for (const char* p = std::strchr(format, '%'); p != nullptr; p = std::strchr(p, '%')) {
    ++p;
    if (*p == 's' || *p == 'd' || *p == '%') {
      ++p;
    } else if ((p[0] == 'l' && p[1] == 'd') || (p[0] == 'z' && p[1] == 'u')) {
      p += 2;
    } else {
      return false;
    }
  }
  return true;
}

// Appends to a buffer of `room` bytes what fits, counting all.
class Out {
 public:
  Out(char* out, std::size_t room) : m_out(out), m_room(room) {}
  void put(const char* text, std::size_t length) {
    if (m_used + 1 < m_room) {
      const std::size_t fits = std::min(length, m_room - 1 - m_used);
      std::memcpy(m_out + m_used, text, fits);
    }
    m_used += length;
  }
  template <typename Integer>
  void number(Integer value) {
    char digits[24];
    put(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
  }
  int finish() {
    if (m_room > 0) m_out[std::min(m_used, m_room - 1)] = '\0';
    return static_cast<int>(m_used);
  }

 private:
  char* m_out;
  std::size_t m_room;
  std::size_t m_used = 0;
};

}  // namespace

int format_plain(char* out, std::size_t room, const char* format, va_list args) {
  if (!plain(format)) return -1;
  Out text(out, room);
  const char* run = format;
  for (const char* p = std::strchr(format, '%'); p != nullptr; p = std::strchr(run, '%')) {
    text.put(run, static_cast<std::size_t>(p - run));
    ++p;
    switch (*p) {
      case 's': {
        const char* value = va_arg(args, const char*);
        // As the C library prints a null string.
        const std::string_view shown = value != nullptr ? std::string_view(value) : std::string_view("(null)");
        text.put(shown.data(), shown.size());
        break;
      }
      case 'd':
        text.number(va_arg(args, int));
        break;
      case 'l':
        text.number(va_arg(args, long));
        ++p;
        break;
      case 'z':
        text.number(va_arg(args, std::size_t));
        ++p;
        break;
      default:  // "%%"
        text.put("%", 1);
        break;
    }
    run = p + 1;
  }
  text.put(run, std::strlen(run));
  return text.finish();
}
