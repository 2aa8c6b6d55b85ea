// The one shape of what a query decided, and the one handler body that reads
// a request, asks for the decision and sends it. Every query, the four and
// the extensions, answers through these.
#ifndef RESTFULSERVER_ANSWER_H_
#define RESTFULSERVER_ANSWER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

#include "restfulserver/reply.h"
#include "transport/http_server.h"

// A piece of an answer text, shared so that one text can be queued twice, or
// kept by the connection while it is written, without a copy.
using SharedText = std::shared_ptr<const std::string>;

class Answer {
 public:
  enum class Kind {
    kNoReply,   // nothing at all is sent (the record root is not set)
    kDocument,  // a JSON document, written by write_json
    kText,      // a success text built by the query, in parts
    kFile,      // a file to download, with ordinary headers instead of chunks
  };

  // No reply at all.
  Answer() = default;
  // `checked`: the request got past the query's member checks. The four
  // queries log only the answers of such requests.
  static Answer document(Json::Value value, bool checked = true);
  // The envelope make_reply(result, errorinfo, typeurl) as the document.
  static Answer envelope(int result, const std::string& errorinfo, const std::string& typeurl,
                        bool checked = true);
  // A text sent as one chunk holding the parts in order; "\n" at its end is
  // the query's to add.
  static Answer text(std::vector<SharedText> parts);
  static Answer text(std::string whole);
  // A file sent with `headers` (complete lines, each ending in CRLF: its
  // Content-Type, Content-Disposition...) and a Content-Length, then the
  // parts in order.
  static Answer file(std::string headers, std::vector<SharedText> parts);

  Kind kind() const { return m_kind; }
  bool replies() const { return m_kind != Kind::kNoReply; }
  explicit operator bool() const { return replies(); }
  bool is_document() const { return m_kind == Kind::kDocument; }
  bool checked() const { return m_checked; }
  const Json::Value& document() const { return m_document; }
  const std::vector<SharedText>& parts() const { return m_parts; }
  const std::string& headers() const { return m_headers; }

 private:
  Kind m_kind = Kind::kNoReply;
  bool m_checked = false;
  Json::Value m_document;
  std::vector<SharedText> m_parts;
  std::string m_headers;
};

// How a query's answers go out: how a real that is not finite is written in
// a document, and the head of the log line that carries the document text of
// a checked request, if the query logs one.
struct Sending {
  NonFinite non_finite = NonFinite::kAsLibrary;
  const char* document_log_head = nullptr;
};

// Sends `answer`: a document as one chunk, a text as one chunk whose parts of
// kShareThreshold bytes or more are queued by pointer and the rest copied
// together, so an answer of hundreds of megabytes needs about one copy of
// itself. Returns the kind that was sent.
Answer::Kind send_answer(transport::Connection& nc, const Answer& answer, const Sending& how = {});

// What the request being handled was answered, for the metrics: the
// "result" of a document ("200", "0", ...), "200" for a text or a file,
// "none" without a reply. Handlers that answer without send_answer say it
// with note_answer_result (the viewer's files: "http_200", "http_404"...).
void note_answer_result(std::string result);
const std::string& answer_result();

// Parts shorter than this are copied into their neighbours: one buffer per
// tiny text would cost more than the copy.
constexpr std::size_t kShareThreshold = 4096;

// The whole of a handler whose decision is `decide(request, typeurl)`: reads
// the body, answers a document that does not parse (result 0), and sends
// what the decision gives. Returns the kind that was sent.
template <typename Decide>
Answer::Kind serve_query(transport::Connection& nc, const transport::Request& hm, const std::string& typeurl,
                         Decide&& decide, const Sending& how = {}) {
  Json::Value request;
  if (!read_request(nc, hm, typeurl, request)) {
    note_answer_result("0");  // what read_request answered
    return Answer::Kind::kDocument;
  }
  return send_answer(nc, decide(request, typeurl), how);
}

#endif  // RESTFULSERVER_ANSWER_H_
