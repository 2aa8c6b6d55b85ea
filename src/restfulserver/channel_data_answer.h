// The decision of "/getFileInfo": a record and channel names in, each
// channel's values as one text out.
#ifndef RESTFULSERVER_CHANNEL_DATA_ANSWER_H_
#define RESTFULSERVER_CHANNEL_DATA_ANSWER_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"

// Answers a parsed request document (an object). Empties the channel-data
// store first, so no answer ever carries values of an earlier request. Checks
// "groupName" (result 2), "fileName" (result 1) and "channelList" (result 0:
// not an array or null, or an element that is not a string; absent, null or
// empty), reads the record and its data file, and fails with result 0 when no
// requested name is a channel of a record that could be read. A record that
// cannot be read, or a name that could leave the record root, gives a
// success answer without items. No reply at all when TAVROOT is not set. A
// number in the .cfg that does not convert throws; the dispatcher catches it.
//
// The success answer is the text
// {"comDataList":[["t1"],["t2"]], "errorinfo":"", "interval" : 100, "result" : 200}
// (no "typeurl", no line end) with an item for every requested name that the
// record holds, in request order, once per mention. Its parts are frames and
// value texts in turn, so the value text of item k is part 2k + 1; a channel
// named twice shares one text. The texts are moved out of CHAN_DATA_MAP and
// JSON-escaped where the data file held a quote, a backslash or a control
// byte.
Answer answer_channel_data(const Json::Value& request, const std::string& typeurl);

#endif  // RESTFULSERVER_CHANNEL_DATA_ANSWER_H_
