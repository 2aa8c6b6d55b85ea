// "/getWaveform": a window of chosen channels reduced to min/max buckets, so a
// plot of a million samples costs a few thousand points and still shows every
// peak.
#ifndef EXTENSIONS_WAVEFORM_H_
#define EXTENSIONS_WAVEFORM_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// The errorinfo of a "points" member outside 1..100000 (or not an integer),
// and of a "from"/"to" that is not a window of samples.
extern const char kTextPointsOutOfRange[];   // "points out of range"
extern const char kTextWindowOutOfRange[];   // "window out of range"

// Answers a parsed request document (an object): "groupName" (result 2),
// "fileName" (result 1) and "channelList" (result 0, as "/getFileInfo"
// checks it), "points" (default 2000), "from" (default 0) and "to" (default
// the end); then the record (result 2 with the no-channel text when it has no
// channel) and its channels (result 0 when none of the names is one). The
// success text ends in "\n"; its number arrays are "%.4f" texts, exactly
// like the values of "/getFileInfo". No reply at all when TAVROOT is not set.
// A number in the .cfg that does not convert throws; the dispatcher catches
// it.
Answer answer_waveform(const Json::Value& request, const std::string& typeurl);

void handler_getWaveform(transport::Connection& nc, const transport::Request& hm,
                         const std::string& name);

#endif  // EXTENSIONS_WAVEFORM_H_
