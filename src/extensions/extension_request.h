// What the extension queries share beyond the reply conventions of the four:
// their log line and the way they open the record a request names.
#ifndef EXTENSIONS_EXTENSION_REQUEST_H_
#define EXTENSIONS_EXTENSION_REQUEST_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <json/value.h>

#include "comtrade_format/comtrade_format.h"

// Writes the one log line of an extension request, "ext <typeurl>
// groupName:<g>, fileName:<f>" (a member that is not a string as "").
void log_extension_request(const std::string& typeurl, const Json::Value& request);

// The record "<fileDir>/<groupName>/<fileName>" with its configuration read,
// or nullptr when it has no channel at all (missing, unreadable, or named
// with a name that could leave the record root). Fills AI_VEC and DI_VEC. A
// number in the .cfg that does not convert throws; the dispatcher catches it.
// `channel_details`: keep every channel line's further fields in header().
std::unique_ptr<ComTrade_format> read_record(const std::string& file_dir, const std::string& groupName,
                                             const std::string& fileName, bool channel_details);

// A whole number member within [low, high], or `fallback` when absent or
// null; nullopt for anything else (a fraction, a text, a number out of
// range).
std::optional<std::int64_t> integer_member(const Json::Value& request, const char* key, std::int64_t fallback,
                                           std::int64_t low, std::int64_t high);

// "from" (default 0) and "to" (default the end) of a window of samples,
// whole numbers with "from" no later than "to"; nullopt otherwise.
std::optional<SampleWindow> window_members(const Json::Value& request);

#endif  // EXTENSIONS_EXTENSION_REQUEST_H_
