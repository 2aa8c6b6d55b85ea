// The bytes of a reply as the service frames it: status line, the chunked
// header, the body as one chunk and the closing chunk. Header-only and free
// of the test framework, so the benchmark's reference sender uses it too.
#ifndef TESTS_SUPPORT_CHUNKED_REPLY_H_
#define TESTS_SUPPORT_CHUNKED_REPLY_H_

#include <cstdio>
#include <string>

namespace e2e {

inline std::string chunked_reply_bytes(const std::string& body) {
  char size_line[32];
  std::snprintf(size_line, sizeof size_line, "%zX\r\n", body.size());
  return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size_line) + body +
         "\r\n0\r\n\r\n";
}

}  // namespace e2e

#endif  // TESTS_SUPPORT_CHUNKED_REPLY_H_
