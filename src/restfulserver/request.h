// Reading the request document, the first step of every handler.
#ifndef RESTFULSERVER_REQUEST_H_
#define RESTFULSERVER_REQUEST_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "transport/http_server.h"

// Parses the body (up to its first NUL byte) as strict JSON into `root`.
// Returns false when it does not parse or its root is not an object; the
// handler then answers result 0.
bool parse_body(const transport::Request& hm, Json::Value& root);

// The member `key` of `root` when it is a JSON string, else `fallback`.
std::string string_member(const Json::Value& root, const char* key, const std::string& fallback);

// Whether `name` may be joined to the record root: not empty, not "." or "..",
// and free of "/", ":", NUL and of "\" as a character (the trail byte of a
// GBK character such as 乗 is no "\"). Names that fail are treated as
// missing without touching the file system.
bool is_safe_name(const std::string& name);

// "<file_dir>/<groupName>/<fileName>", the record path without extension, or
// nullopt when either name could leave the record root (such a record does
// not exist, and the file system is not asked).
std::optional<std::string> record_path(const std::string& file_dir, const std::string& groupName,
                                       const std::string& fileName);

// What a request that names a record and channels failed on: the "result"
// and "errorinfo" of its answer.
struct RequestFailure {
  int result;
  const char* errorinfo;
};

// The members of a query on one record's channels, as checked by every such
// query in the same order: "groupName" (result 2), "fileName" (result 1),
// then "channelList".
struct ChannelRequest {
  std::string groupName;
  std::string fileName;
  std::vector<std::string> channels;
};

// Reads "groupName" and "fileName" into `into`; the failure otherwise.
std::optional<RequestFailure> read_record_names(const Json::Value& request, ChannelRequest& into);

// Reads "channelList" into `into.channels`: absent or null is an empty list,
// which fails like one; anything but an array of strings fails (result 0).
// `seen(i, name)` is told each name as it is read, before a later element
// may fail the list.
std::optional<RequestFailure> read_channel_list(
    const Json::Value& request, ChannelRequest& into,
    const std::function<void(std::size_t, const std::string&)>& seen = nullptr);

#endif  // RESTFULSERVER_REQUEST_H_
