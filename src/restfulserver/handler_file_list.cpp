#include "restfulserver/handlers.h"

void handler_getFileList(transport::Connection&, const transport::Request&, const std::string&) {}
