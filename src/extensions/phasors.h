// "/getPhasors": the fundamental of chosen analog channels cycle by cycle,
// with the true RMS and, for a three-phase set, the sequence components;
// only the cycles at the points asked for are read.
#ifndef EXTENSIONS_PHASORS_H_
#define EXTENSIONS_PHASORS_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// Answers a parsed request document (an object): the members of
// "/getWaveform" ("points" cycle ends spread evenly over the window from
// "from" to "to") and an optional "sequence" of three selectors (A, B, C).
// Result 0 "no line frequency" for a record without one; status channels
// are left out; a cycle that starts before the record, crosses a rate change
// or has fewer than 4 samples is null. No reply at all when TAVROOT is not
// set.
Answer answer_phasors(const Json::Value& request, const std::string& typeurl);

void handler_getPhasors(transport::Connection& nc, const transport::Request& hm, const std::string& name);

#endif  // EXTENSIONS_PHASORS_H_
