// "/getEvents": the initial state of status channels and every change of
// state, with its sample and time, and the trigger time: what happened when
// in a fault, read in one pass over the record.
#ifndef EXTENSIONS_EVENTS_H_
#define EXTENSIONS_EVENTS_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// Answers a parsed request document (an object): "groupName", "fileName",
// and an optional "channelList" of selectors (default every status channel;
// analog ones are left out; each channel once, in channel order). "initial"
// holds each channel's value at sample 0, "events" each change in sample
// order, then channel order, at most
// 100000 of them ("truncated" says whether there were more), "triggerUs"
// the trigger time after the start. No reply at all when TAVROOT is not set.
Answer answer_events(const Json::Value& request, const std::string& typeurl);

void handler_getEvents(transport::Connection& nc, const transport::Request& hm, const std::string& name);

#endif  // EXTENSIONS_EVENTS_H_
