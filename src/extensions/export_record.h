// "/exportRecord": a window of a record and a subset of its channels as a
// file to download.
#ifndef EXTENSIONS_EXPORT_RECORD_H_
#define EXTENSIONS_EXPORT_RECORD_H_

#include <string>

#include <json/value.h>

#include "restfulserver/answer.h"
#include "transport/http_server.h"

// The errorinfo of a "format" the query does not write.
extern const char kTextFormatOutOfRange[];  // "format out of range"

// Answers a parsed request document (an object): "groupName", "fileName",
// "channelList", "from" and "to" as "/getWaveform", and "format" "csv": one
// header line ("time_us", then each analog channel as name[unit], each
// status channel by its name) and a line a sample (time in µs "%.3f",
// analog values "%.4f" as "/getFileInfo", statuses 0 and 1), columns in
// request order. Failures are the JSON envelope. No reply at all when
// TAVROOT is not set.
Answer answer_export_record(const Json::Value& request, const std::string& typeurl);

void handler_exportRecord(transport::Connection& nc, const transport::Request& hm, const std::string& name);

#endif  // EXTENSIONS_EXPORT_RECORD_H_
