// The reply conventions every handler shares: the JSON envelope, the compact
// writer, and the chunked reply sequence.
#ifndef RESTFULSERVER_REPLY_H_
#define RESTFULSERVER_REPLY_H_

#include <cstddef>
#include <optional>
#include <string>

#include <json/value.h>

#include "transport/http_server.h"

// Status line and the single header of every reply.
extern const char kReplyHead[];  // "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
// The closing chunk.
extern const char kLastChunk[];  // "0\r\n\r\n"

// What a handler decided: the reply to send, and whether the request got past
// the handler's member checks. Only such replies are logged: a request turned
// away by its checks ends the handling without a log line.
struct QueryReply {
  Json::Value value;
  bool checked = false;
};

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

// The whole of a handler whose decision is `answer(request, typeurl)` giving
// the reply to send, or nullopt for none at all (TAVROOT not set): reads the
// body, answers a document that does not parse itself, sends what comes back.
template <typename Answer>
void answer_request(transport::Connection& nc, const transport::Request& hm, const std::string& typeurl,
                    Answer answer, NonFinite non_finite = NonFinite::kAsLibrary) {
  Json::Value request;
  if (!read_request(nc, hm, typeurl, request)) return;
  const std::optional<Json::Value> reply = answer(request, typeurl);
  if (reply) send_json(nc, *reply, non_finite);
}

#endif  // RESTFULSERVER_REPLY_H_
