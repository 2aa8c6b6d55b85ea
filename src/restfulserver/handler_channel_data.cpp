// "/getFileInfo": reads the body and sends what answer_channel_data decides.
#include "restfulserver/handlers.h"

#include <optional>

#include <json/value.h>

#include "comtrade_format/channel_store.h"
#include "logger/logger.h"
#include "platform/platform.h"
#include "restfulserver/channel_data_answer.h"
#include "restfulserver/reply.h"

void handler_getChannelDesc(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name) {
  // Whatever this request turns out to be, nothing of the previous one may
  // stay behind in the store.
  clear_channel_store();
  Json::Value request;
  if (!read_request(nc, hm, name, request)) return;
  const std::optional<ChannelDataAnswer> answer = answer_channel_data(request, name);
  if (!answer) return;
  if (answer->failure) {
    send_json(nc, *answer->failure);
    return;
  }
  send_channel_data(nc, answer->items);
  LOG_WRITE(LOG_ERROR, "6TimeStamp: %ld-End handler_getChannelDesc:mg_printf_http_chunk",
            static_cast<long>(platform::now_seconds()));
}
