// The query handlers. Each takes the connection, the request and the URI
// without its "/" (echoed as "typeurl"), and sends at most one reply.
#ifndef RESTFULSERVER_HANDLERS_H_
#define RESTFULSERVER_HANDLERS_H_

#include <string>

#include "transport/http_server.h"

// "/getGroupFile_list": lists the fixed group directory to standard output.
void handler_getGroupFileList(transport::Connection& nc, const transport::Request& hm,
                              const std::string& name);

#endif  // RESTFULSERVER_HANDLERS_H_
