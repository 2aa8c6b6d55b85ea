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

namespace {

void send_parts(transport::Connection& nc, const std::vector<SharedText>& parts) {
  // The bytes must be exactly those of one chunk holding the whole text, so
  // the length goes first and the parts follow in order.
  std::size_t length = 0;
  for (const SharedText& part : parts) length += part->size();
  std::string piece = kReplyHead;
  piece += chunk_size_line(length);
  for (const SharedText& part : parts) {
    if (part->size() < kShareThreshold) {
      piece += *part;
    } else {
      nc.send(std::move(piece));
      nc.send(part);
      piece.clear();
    }
  }
  piece += "\r\n";
  piece += kLastChunk;
  nc.send(std::move(piece));
}

}  // namespace

Answer::Kind send_answer(transport::Connection& nc, const Answer& answer, const Sending& how) {
  switch (answer.kind()) {
    case Answer::Kind::kNoReply:
      break;
    case Answer::Kind::kDocument: {
      std::string text = write_json(answer.document(), how.non_finite);
      if (how.document_log_head != nullptr && answer.checked()) {
        LOG_WRITE_TEXT(LOG_INFO, how.document_log_head, text, "");
      }
      send_reply(nc, std::move(text));
      break;
    }
    case Answer::Kind::kText:
      send_parts(nc, answer.parts());
      break;
  }
  return answer.kind();
}
