// The decision of "/getFileName_list": a station name in, its record names out.
#ifndef RESTFULSERVER_FILE_LIST_ANSWER_H_
#define RESTFULSERVER_FILE_LIST_ANSWER_H_

#include <string>

#include "restfulserver/answer.h"

// Answers a parsed request document (an object). Reads "groupName" (required
// string) and "type" (optional, only logged), the record root from the
// settings, and lists the station directory through scan_cfg_files, which
// refills g_station_vec. Result 200 with "fileName_list" the names; 404 with
// "fileName_list" 0 when nothing is found; 2 when "groupName" is missing or
// not a string, the one answer that is not checked. A station name that
// could leave the record root is answered 404 without touching the file
// system. No reply at all when TAVROOT is not set.
Answer answer_file_list(const Json::Value& request, const std::string& typeurl);

#endif  // RESTFULSERVER_FILE_LIST_ANSWER_H_
