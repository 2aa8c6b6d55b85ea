// The reply to a HEAD request: its status line and header, nothing after.
#ifndef TRANSPORT_HEAD_REPLY_H_
#define TRANSPORT_HEAD_REPLY_H_

#include <cstddef>
#include <memory>
#include <string>

namespace transport {

// Follows the pieces of one reply as they are queued and keeps what comes
// up to the blank line that ends the header: a kept-alive client would read
// a body as its next reply.
class HeaderOnly {
 public:
  // False when nothing of `piece` is kept; `piece` is cut when the header
  // ends inside it.
  bool keep(std::shared_ptr<const std::string>& piece) {
    static constexpr char kHeaderEnd[] = "\r\n\r\n";
    if (m_matched == 4) return false;
    const std::string& text = *piece;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == kHeaderEnd[m_matched]) {
        ++m_matched;
      } else {
        m_matched = text[i] == '\r' ? 1 : 0;
      }
      if (m_matched == 4) {
        if (i + 1 < text.size()) piece = std::make_shared<const std::string>(text, 0, i + 1);
        return true;
      }
    }
    return true;
  }

 private:
  int m_matched = 0;  // bytes of the header's end seen so far
};

}  // namespace transport

#endif  // TRANSPORT_HEAD_REPLY_H_
