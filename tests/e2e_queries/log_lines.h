// Reading the service's log back: the messages of its lines, without the time
// prefix and the " ->line(N)" end.
#ifndef TESTS_E2E_QUERIES_LOG_LINES_H_
#define TESTS_E2E_QUERIES_LOG_LINES_H_

#include <cctype>
#include <string>
#include <vector>

namespace log_lines {

// The messages of `log`, in order. A line is "[Y-M-D hh:mm:ss] :  <message>
// ->line(<n>)\n"; a message may hold line feeds of its own, so lines are cut
// at the end marker, not at every line feed. Text that does not follow the
// format ends the list with "<unparsed>" and the rest, so a test sees it.
inline std::vector<std::string> messages(const std::string& log) {
  static const std::string kPrefixEnd = "] :  ";
  static const std::string kEndMark = " ->line(";
  std::vector<std::string> found;
  std::size_t pos = 0;
  while (pos < log.size()) {
    const std::size_t start = log.find(kPrefixEnd, pos);
    std::size_t mark = start == std::string::npos ? start : log.find(kEndMark, start);
    std::size_t close = mark == std::string::npos ? mark : log.find(")\n", mark);
    bool ok = log[pos] == '[' && close != std::string::npos;
    for (std::size_t i = mark + kEndMark.size(); ok && i < close; ++i) {
      ok = std::isdigit(static_cast<unsigned char>(log[i])) != 0;
    }
    if (!ok) {
      found.push_back("<unparsed>" + log.substr(pos));
      break;
    }
    found.push_back(log.substr(start + kPrefixEnd.size(), mark - start - kPrefixEnd.size()));
    pos = close + 2;
  }
  return found;
}

}  // namespace log_lines

#endif  // TESTS_E2E_QUERIES_LOG_LINES_H_
