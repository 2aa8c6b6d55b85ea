// A long answer text written in pieces of a size fixed ahead.
#ifndef EXTENSIONS_TEXT_PIECES_H_
#define EXTENSIONS_TEXT_PIECES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "restfulserver/answer.h"

// Megabytes of events or CSV lines: a text grown by doubling copies all of
// itself at every step, each into fresh memory, and holds two copies at the
// last. Pieces are filled to a size fixed ahead and go out by pointer.
class TextPieces {
 public:
  static constexpr std::size_t kPieceBytes = 1 << 20;

  void append(const char* text, std::size_t length) {
    if (m_piece.size() + length > m_piece.capacity()) next();
    m_piece.append(text, length);
  }
  void append(const std::string& text) { append(text.data(), text.size()); }
  bool empty() const { return m_done.empty() && m_piece.empty(); }
  // Moves the pieces, in order, to the end of `parts`.
  void move_to(std::vector<SharedText>& parts) {
    for (std::string& piece : m_done) parts.push_back(std::make_shared<const std::string>(std::move(piece)));
    if (!m_piece.empty()) parts.push_back(std::make_shared<const std::string>(std::move(m_piece)));
    m_done.clear();
    m_piece = std::string();
  }

 private:
  void next() {
    if (!m_piece.empty()) m_done.push_back(std::move(m_piece));
    m_piece = std::string();
    m_piece.reserve(kPieceBytes);
  }

  std::string m_piece;
  std::vector<std::string> m_done;
};

#endif  // EXTENSIONS_TEXT_PIECES_H_
