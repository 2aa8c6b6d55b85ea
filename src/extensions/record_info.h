// "/getRecordInfo": the whole header of one record, everything a viewer needs
// for its axes and labels (rates, units, time multiplier, device...).
#ifndef EXTENSIONS_RECORD_INFO_H_
#define EXTENSIONS_RECORD_INFO_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// Answers a parsed request document (an object) naming "groupName" and
// "fileName": result 1 when "fileName" is not a string, 2 when "groupName"
// is not, 2 with the no-channel text when the record has no channel (missing,
// unreadable, or named outside the record root); otherwise 200 with "record".
// No reply at all when TAVROOT is not set. A number in the
// .cfg that does not convert throws; the dispatcher catches it.
Answer answer_record_info(const Json::Value& request, const std::string& typeurl);

void handler_getRecordInfo(transport::Connection& nc, const transport::Request& hm,
                           const std::string& name);

#endif  // EXTENSIONS_RECORD_INFO_H_
