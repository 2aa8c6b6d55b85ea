// "/getChannelInfo": sends what answer_channel_info decides.
#include "restfulserver/handlers.h"

#include "restfulserver/answer.h"
#include "restfulserver/channel_info_answer.h"

void handler_getChannelList(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name) {
  serve_query(nc, hm, name, answer_channel_info,
              Sending{NonFinite::kAsLibrary, "write rootResponse outStr:"});
}
