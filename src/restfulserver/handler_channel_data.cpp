#include "restfulserver/handlers.h"

void handler_getChannelDesc(transport::Connection&, const transport::Request&, const std::string&) {}
