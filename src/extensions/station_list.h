// "/getStationList": the stations of the record root, which the group listing
// of the four queries never tells a client.
#ifndef EXTENSIONS_STATION_LIST_H_
#define EXTENSIONS_STATION_LIST_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// Answers a parsed request document (an object; its members are not used):
// result 200 with "stationList" the subdirectory names of the record root in
// listing order (symbolic links are no stations), or 0 when there are none.
// No reply at all when TAVROOT is not set.
Answer answer_station_list(const Json::Value& request, const std::string& typeurl);

void handler_getStationList(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name);

#endif  // EXTENSIONS_STATION_LIST_H_
