// The one answer shape and its sending.
#include "restfulserver/answer.h"

#include "logger/logger.h"

Answer Answer::document(Json::Value value, bool checked) {
  Answer answer;
  answer.m_kind = Kind::kDocument;
  answer.m_checked = checked;
  answer.m_document = std::move(value);
  return answer;
}

Answer Answer::envelope(int result, const std::string& errorinfo, const std::string& typeurl, bool checked) {
  return document(make_reply(result, errorinfo, typeurl), checked);
}

Answer Answer::text(std::vector<SharedText> parts) {
  Answer answer;
  answer.m_kind = Kind::kText;
  answer.m_checked = true;
  answer.m_parts = std::move(parts);
  return answer;
}

Answer Answer::text(std::string whole) {
  std::vector<SharedText> parts;
  parts.push_back(std::make_shared<const std::string>(std::move(whole)));
  return text(std::move(parts));
}

Answer Answer::file(std::string headers, std::vector<SharedText> parts) {
  Answer answer = text(std::move(parts));
  answer.m_kind = Kind::kFile;
  answer.m_headers = std::move(headers);
  return answer;
}

namespace {

std::size_t length_of(const std::vector<SharedText>& parts) {
  std::size_t length = 0;
  for (const SharedText& part : parts) length += part->size();
  return length;
}

// Queues `piece` and then the parts in order, large ones by pointer; `tail`
// follows the last.
void send_pieces(transport::Connection& nc, std::string piece, const std::vector<SharedText>& parts,
                 const std::string& tail) {
  for (const SharedText& part : parts) {
    if (part->size() < kShareThreshold) {
      piece += *part;
    } else {
      nc.send(std::move(piece));
      nc.send(part);
      piece.clear();
    }
  }
  piece += tail;
  nc.send(std::move(piece));
}

void send_parts(transport::Connection& nc, const std::vector<SharedText>& parts) {
  // The bytes must be exactly those of one chunk holding the whole text, so
  // the length goes first and the parts follow in order.
  std::string head = kReplyHead;
  head += chunk_size_line(length_of(parts));
  send_pieces(nc, std::move(head), parts, std::string("\r\n") + kLastChunk);
}

void send_file(transport::Connection& nc, const std::string& headers, const std::vector<SharedText>& parts) {
  std::string head = "HTTP/1.1 200 OK\r\n" + headers;
  head += "Content-Length: " + std::to_string(length_of(parts)) + "\r\n\r\n";
  send_pieces(nc, std::move(head), parts, "");
}

}  // namespace

namespace {

std::string& current_result() {
  static std::string result = "none";
  return result;
}

}  // namespace

void note_answer_result(std::string result) { current_result() = std::move(result); }

const std::string& answer_result() { return current_result(); }

Answer::Kind send_answer(transport::Connection& nc, const Answer& answer, const Sending& how) {
  switch (answer.kind()) {
    case Answer::Kind::kNoReply:
      break;
    case Answer::Kind::kDocument: {
      const Json::Value& result = answer.document()["result"];
      note_answer_result(result.isInt() ? std::to_string(result.asInt()) : "none");
      std::string text = write_json(answer.document(), how.non_finite);
      if (how.document_log_head != nullptr && answer.checked()) {
        LOG_WRITE_TEXT(LOG_INFO, how.document_log_head, text, "");
      }
      send_reply(nc, std::move(text));
      break;
    }
    case Answer::Kind::kText:
      note_answer_result("200");
      send_parts(nc, answer.parts());
      break;
    case Answer::Kind::kFile:
      note_answer_result("200");
      send_file(nc, answer.headers(), answer.parts());
      break;
  }
  return answer.kind();
}
