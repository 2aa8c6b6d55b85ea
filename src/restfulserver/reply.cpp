// The reply envelope, the compact JSON text and the chunked reply sequence
// that every handler uses.
#include "restfulserver/reply.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <utility>

#include <json/writer.h>

#include "restfulserver/gbk_texts.h"
#include "restfulserver/request.h"

const char kReplyHead[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const char kLastChunk[] = "0\r\n\r\n";

Json::Value make_reply(int result, const std::string& errorinfo, const std::string& typeurl) {
  Json::Value reply(Json::objectValue);
  reply["result"] = result;
  reply["errorinfo"] = errorinfo;
  reply["typeurl"] = typeurl;
  return reply;
}

std::string write_json(const Json::Value& value) {
  // Built once: the settings never change, and building a writer parses them
  // anew. emitUTF8 makes the writer copy bytes >= 0x80 as they are instead of
  // decoding them as UTF-8, which is what keeps the GBK texts intact. Every
  // reply is written on the one I/O thread, so one writer and one stream do.
  static const std::unique_ptr<Json::StreamWriter> writer = [] {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return std::unique_ptr<Json::StreamWriter>(builder.newStreamWriter());
  }();
  static std::ostringstream stream;
  stream.str(std::string());
  stream.clear();
  writer->write(value, &stream);
  stream << '\n';
  return stream.str();
}

std::string chunk_size_line(std::size_t length) {
  char line[32];
  int n = std::snprintf(line, sizeof line, "%zX\r\n", length);
  return std::string(line, static_cast<std::size_t>(n));
}

void send_reply(transport::Connection& nc, std::string text) {
  std::string head = kReplyHead;
  head += chunk_size_line(text.size());
  nc.send(std::move(head));
  nc.send(std::move(text));
  nc.send(std::string("\r\n") + kLastChunk);
}

void send_json(transport::Connection& nc, const Json::Value& value) {
  send_reply(nc, write_json(value));
}

bool read_request(transport::Connection& nc, const transport::Request& hm,
                  const std::string& typeurl, Json::Value& root) {
  if (parse_body(hm, root)) return true;
  send_json(nc, make_reply(0, kTextBadRequest, typeurl));
  return false;
}
