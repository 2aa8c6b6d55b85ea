// The decision of "/getFileInfo" and the sending of its hand-built success
// answer: a record and channel names in, each channel's values as one text out.
#ifndef RESTFULSERVER_CHANNEL_DATA_ANSWER_H_
#define RESTFULSERVER_CHANNEL_DATA_ANSWER_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "transport/http_server.h"

// A value text as it goes into the answer, shared so that a channel named
// twice is queued twice without a second copy.
using ChannelText = std::shared_ptr<const std::string>;

struct ChannelDataAnswer {
  // Set for a failure answer: the envelope with "result", "errorinfo" and
  // "typeurl", written by the ordinary JSON writer.
  std::optional<Json::Value> failure;
  // For a success answer: the value text of every requested name that the
  // record holds, in request order, once per mention, JSON-escaped where the
  // data file held a quote, a backslash or a control byte.
  std::vector<ChannelText> items;
};

// Answers a parsed request document (an object). Empties the channel-data
// store first, so no answer ever carries values of an earlier request. Checks
// "groupName" (result 2), "fileName" (result 1) and "channelList" (result 0:
// not an array or null, or an element that is not a string; absent, null or
// empty), reads the record and its data file, and fails with result 0 when no
// requested name is a channel of a record that could be read. A record that
// cannot be read, or a name that could leave the record root, gives a
// success answer without items. The value texts are moved out of
// CHAN_DATA_MAP. Returns nullopt when TAVROOT is not set (no reply at all). A
// number in the .cfg that does not convert throws; the dispatcher catches it.
std::optional<ChannelDataAnswer> answer_channel_data(const Json::Value& request,
                                                     const std::string& typeurl);

// Bytes of the success answer text
// {"comDataList":[["t1"],["t2"]], "errorinfo":"", "interval" : 100, "result" : 200}
// (no "typeurl", no line end).
std::size_t channel_data_text_length(const std::vector<ChannelText>& items);

// Queues the status line and header, the success answer as one chunk, and
// the closing chunk. Large item texts are queued by pointer, never copied, so
// an answer of hundreds of megabytes needs about one copy of itself.
void send_channel_data(transport::Connection& nc, const std::vector<ChannelText>& items);

#endif  // RESTFULSERVER_CHANNEL_DATA_ANSWER_H_
