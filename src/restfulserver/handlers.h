// The query handlers. Each takes the connection, the request and the URI
// without its "/" (echoed as "typeurl"), and sends at most one reply.
#ifndef RESTFULSERVER_HANDLERS_H_
#define RESTFULSERVER_HANDLERS_H_

#include <string>

#include "transport/http_server.h"

// "/getFileName_list": the record names of one station.
void handler_getFileList(transport::Connection& nc, const transport::Request& hm,
                         const std::string& name);
// "/getChannelInfo": the header of one record (start time, sample count,
// analog channels with their scaled ranges, digital channel names).
void handler_getChannelList(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name);
// "/getFileInfo": the sampled values of chosen channels of one record.
void handler_getChannelDesc(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name);
// "/getGroupFile_list": lists the fixed group directory to standard output.
void handler_getGroupFileList(transport::Connection& nc, const transport::Request& hm,
                              const std::string& name);

#endif  // RESTFULSERVER_HANDLERS_H_
