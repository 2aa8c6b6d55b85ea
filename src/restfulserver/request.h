// Reading the request document, the first step of every handler.
#ifndef RESTFULSERVER_REQUEST_H_
#define RESTFULSERVER_REQUEST_H_

#include <optional>
#include <string>

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

#endif  // RESTFULSERVER_REQUEST_H_
