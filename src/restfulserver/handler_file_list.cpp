// "/getFileName_list": reads the body and sends what answer_file_list decides.
#include "restfulserver/handlers.h"

#include <optional>
#include <utility>

#include <json/value.h>

#include "logger/logger.h"
#include "restfulserver/file_list_answer.h"
#include "restfulserver/reply.h"

void handler_getFileList(transport::Connection& nc, const transport::Request& hm,
                         const std::string& name) {
  Json::Value request;
  if (!read_request(nc, hm, name, request)) return;
  const std::optional<QueryReply> reply = answer_file_list(request, name);
  if (!reply) return;
  std::string out_str = write_json(reply->value);
  if (reply->checked) LOG_WRITE(LOG_INFO, "write outStr:%s", out_str.c_str());
  send_reply(nc, std::move(out_str));
}
