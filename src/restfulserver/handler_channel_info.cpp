#include "restfulserver/handlers.h"

void handler_getChannelList(transport::Connection&, const transport::Request&, const std::string&) {}
