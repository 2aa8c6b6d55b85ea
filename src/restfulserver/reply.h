// The reply conventions every answer is sent with: the JSON envelope, the
// compact writer, and the chunked reply sequence.
#ifndef RESTFULSERVER_REPLY_H_
#define RESTFULSERVER_REPLY_H_

#include <cstddef>
#include <string>

#include <json/value.h>

#include "transport/http_server.h"

// Status line and the single header of every reply.
extern const char kReplyHead[];  // "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
// The closing chunk.
extern const char kLastChunk[];  // "0\r\n\r\n"

// {"errorinfo":..., "result":..., "typeurl":...}
Json::Value make_reply(int result, const std::string& errorinfo, const std::string& typeurl);

// How a real that is not finite is written: as the library's writer does it
// (NaN null, infinities 1e+9999 and -1e+9999), which the four queries'
// answers keep, or always as null, the only valid JSON for such a value,
// which is what every other answer gives.
enum class NonFinite { kAsLibrary, kNull };

// Compact JSON, members in ascending key order, bytes >= 0x80 unescaped, one
// "\n" at the end.
std::string write_json(const Json::Value& value, NonFinite non_finite = NonFinite::kAsLibrary);

// Appends the bytes of [begin, end) as the body of a JSON string: the
// two-letter escapes, \u00xx for the other control bytes, every other byte
// (GBK included) as it is.
void append_json_escaped(std::string& out, const char* begin, const char* end);

// "<length in upper-case hex>\r\n".
std::string chunk_size_line(std::size_t length);

// Sends the status line and header, `text` as one chunk, and the closing
// chunk. `text` is moved into the connection's queue, not copied.
void send_reply(transport::Connection& nc, std::string text);

// write_json + send_reply.
void send_json(transport::Connection& nc, const Json::Value& value,
               NonFinite non_finite = NonFinite::kAsLibrary);

// The first step of every handler: parses the body into `root`. When it does
// not parse, sends the result-0 reply for `typeurl` and returns false.
bool read_request(transport::Connection& nc, const transport::Request& hm,
                  const std::string& typeurl, Json::Value& root);

#endif  // RESTFULSERVER_REPLY_H_
