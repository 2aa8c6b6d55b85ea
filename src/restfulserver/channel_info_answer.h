// The decision of "/getChannelInfo": a record named in, its header out.
#ifndef RESTFULSERVER_CHANNEL_INFO_ANSWER_H_
#define RESTFULSERVER_CHANNEL_INFO_ANSWER_H_

#include <string>

#include "restfulserver/answer.h"

// Answers a parsed request document (an object). Checks "fileName" (result 1)
// and then "groupName" (result 2), both required strings (the answers that
// are not checked); "type" is only logged. Reads
// "<fileDir>/<groupName>/<fileName>.cfg" (which refills AI_VEC and DI_VEC)
// and answers "startTime", "samp_count", "aiList" (objects with "name",
// "min", "max") and "diList" (names), an empty list as the integer 0. Result
// 200 when the record has any channel, else 2 with the "no channels" text; a
// name that could leave the record root counts as a missing record. No reply
// at all when TAVROOT is not set. A number in the .cfg that does not convert
// throws; the dispatcher catches it.
Answer answer_channel_info(const Json::Value& request, const std::string& typeurl);

#endif  // RESTFULSERVER_CHANNEL_INFO_ANSWER_H_
