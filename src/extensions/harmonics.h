// "/getHarmonics": the harmonic content of one cycle of chosen analog
// channels, with THD and the true RMS; only that cycle is read.
#ifndef EXTENSIONS_HARMONICS_H_
#define EXTENSIONS_HARMONICS_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// The errorinfo of an "at" that is no sample of the record, and of "orders"
// that is not a whole number from 0 to 1000.
extern const char kTextAtOutOfRange[];      // "at out of range"
extern const char kTextOrdersOutOfRange[];  // "orders out of range"

// Answers a parsed request document (an object): "groupName", "fileName",
// "channelList" as "/getWaveform", "at" (the sample that ends the cycle,
// default the record's last) and "orders" (default 15, cut to half the
// cycle's samples). Each analog channel gets "harmonics" (order 0 the mean,
// then each order's magnitude and angle), "thd" and "rms"; all null when no
// whole cycle ends at "at". No reply at all when TAVROOT is not set.
Answer answer_harmonics(const Json::Value& request, const std::string& typeurl);

void handler_getHarmonics(transport::Connection& nc, const transport::Request& hm, const std::string& name);

#endif  // EXTENSIONS_HARMONICS_H_
