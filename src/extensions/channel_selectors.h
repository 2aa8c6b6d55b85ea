// The channels an extension query asks for: each "channelList" element a
// name or a position, since real records repeat names and only a position
// reaches every channel.
#ifndef EXTENSIONS_CHANNEL_SELECTORS_H_
#define EXTENSIONS_CHANNEL_SELECTORS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/comtrade_format.h"
#include "restfulserver/answer.h"
#include "restfulserver/request.h"

enum class ChannelKind { kAnalog, kStatus };

// One "channelList" element: a name (`kind` unset), or {"analog": n} /
// {"status": n} with n the 1-based position within its kind.
struct ChannelSelector {
  std::string name;
  std::optional<ChannelKind> kind;
  std::int64_t position = 0;
};

// Reads "channelList" into `into`: absent, null or empty fails like an empty
// list; anything but an array of names and positions fails (result 0), as
// do positions that are not whole numbers and objects of other members.
std::optional<RequestFailure> read_channel_selectors(const Json::Value& request,
                                                     std::vector<ChannelSelector>& into);

// What every extension query on a record's channels asks first.
struct ChannelQuery {
  ChannelRequest asked;
  std::vector<ChannelSelector> selectors;
};

// Writes the query's log line and reads "groupName" (result 2), "fileName"
// (result 1) and "channelList", in that order; the failure answer when one
// of them fails.
std::optional<Answer> read_channel_query(const Json::Value& request, const std::string& typeurl,
                                         ChannelQuery& into);

// A channel of a record: its kind and its 0-based position within the kind.
struct ChannelRef {
  ChannelKind kind;
  std::size_t position;
};

// The channel each selector reaches in `cfg`, in request order: a name the
// first analog channel of that name, else the first status channel, exactly
// as "/getFileInfo" finds it; nullopt for an unknown name or a position the
// record does not have.
std::vector<std::optional<ChannelRef>> resolve_selectors(const cmtr_cfg_info& cfg,
                                                         const std::vector<ChannelSelector>& selectors);

// Marks the channels reached in `record` (each once) for its readers.
// Returns the number marked: none means the request names no channel of it.
int select_reached(ComTrade_format& record, const std::vector<std::optional<ChannelRef>>& reached);

// The bucket or column of a marked channel in what the readers give back:
// analog channels first, then status channels, each in record order.
std::size_t selected_slot(const cmtr_cfg_info& cfg, const ChannelRef& channel);

// The members every channel object of an extension answer carries, as they
// open the object in the writer's key order: "index":n,"kind":"analog" (no
// braces; "name" sorts after the value members and is the caller's to add).
std::string channel_identity_members(const ChannelRef& channel);

// The channel's name as the record writes it.
const char* channel_name(const cmtr_cfg_info& cfg, const ChannelRef& channel);

#endif  // EXTENSIONS_CHANNEL_SELECTORS_H_
