// "/getFileInfo": sends what answer_channel_data decides.
#include "restfulserver/handlers.h"

#include "comtrade_format/channel_store.h"
#include "logger/logger.h"
#include "platform/platform.h"
#include "restfulserver/answer.h"
#include "restfulserver/channel_data_answer.h"

void handler_getChannelDesc(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name) {
  // Whatever this request turns out to be, nothing of the previous one may
  // stay behind in the store.
  clear_channel_store();
  if (serve_query(nc, hm, name, answer_channel_data) == Answer::Kind::kText) {
    LOG_WRITE(LOG_ERROR, "6TimeStamp: %ld-End handler_getChannelDesc:mg_printf_http_chunk",
              static_cast<long>(platform::now_seconds()));
  }
}
