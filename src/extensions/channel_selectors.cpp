// Names and positions of channels, read from a request and found in a record.
#include "extensions/channel_selectors.h"

#include <string_view>
#include <unordered_map>

#include "extensions/extension_request.h"
#include "restfulserver/gbk_texts.h"

namespace {

// {"analog": n} or {"status": n}, n a whole number; nullopt for anything
// else.
std::optional<ChannelSelector> position_selector(const Json::Value& element) {
  if (!element.isObject() || element.size() != 1) return std::nullopt;
  const std::string key = element.getMemberNames().front();
  const Json::Value& n = element[key];
  if (!n.isIntegral() || !n.isInt64()) return std::nullopt;
  ChannelSelector selector;
  if (key == "analog") {
    selector.kind = ChannelKind::kAnalog;
  } else if (key == "status") {
    selector.kind = ChannelKind::kStatus;
  } else {
    return std::nullopt;
  }
  selector.position = n.asInt64();
  return selector;
}

}  // namespace

std::optional<RequestFailure> read_channel_selectors(const Json::Value& request,
                                                     std::vector<ChannelSelector>& into) {
  const Json::Value& list_member = request["channelList"];
  if (!list_member.isNull() && !list_member.isArray()) return RequestFailure{0, kTextBadChannelList};
  into.clear();
  into.reserve(list_member.size());
  for (Json::ArrayIndex i = 0; i < list_member.size(); ++i) {
    const Json::Value& element = list_member[i];
    if (element.isString()) {
      ChannelSelector selector;
      selector.name = element.asString();
      into.push_back(std::move(selector));
      continue;
    }
    std::optional<ChannelSelector> position = position_selector(element);
    if (!position) return RequestFailure{0, kTextBadChannelList};
    into.push_back(std::move(*position));
  }
  if (into.empty()) return RequestFailure{0, kTextEmptyChannelList};
  return std::nullopt;
}

std::optional<Answer> read_channel_query(const Json::Value& request, const std::string& typeurl,
                                         ChannelQuery& into) {
  log_extension_request(typeurl, request);
  std::optional<RequestFailure> failed = read_record_names(request, into.asked);
  if (!failed) failed = read_channel_selectors(request, into.selectors);
  if (failed) return Answer::envelope(failed->result, failed->errorinfo, typeurl);
  return std::nullopt;
}

std::vector<std::optional<ChannelRef>> resolve_selectors(const cmtr_cfg_info& cfg,
                                                         const std::vector<ChannelSelector>& selectors) {
  // The first channel of each name; emplace keeps the first of a repeated one.
  std::unordered_map<std::string_view, ChannelRef> by_name;
  for (std::size_t j = 0; j < cfg.analogs.size(); ++j) {
    by_name.emplace(cfg.analogs[j].name, ChannelRef{ChannelKind::kAnalog, j});
  }
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    by_name.emplace(cfg.digitals[j].name, ChannelRef{ChannelKind::kStatus, j});
  }
  std::vector<std::optional<ChannelRef>> reached;
  reached.reserve(selectors.size());
  for (const ChannelSelector& selector : selectors) {
    if (!selector.kind) {
      const auto found = by_name.find(selector.name);
      reached.push_back(found == by_name.end() ? std::nullopt
                                               : std::optional<ChannelRef>(found->second));
      continue;
    }
    const std::size_t count =
        *selector.kind == ChannelKind::kAnalog ? cfg.analogs.size() : cfg.digitals.size();
    if (selector.position >= 1 && static_cast<std::uint64_t>(selector.position) <= count) {
      reached.push_back(ChannelRef{*selector.kind, static_cast<std::size_t>(selector.position - 1)});
    } else {
      reached.push_back(std::nullopt);
    }
  }
  return reached;
}

int select_reached(ComTrade_format& record, const std::vector<std::optional<ChannelRef>>& reached) {
  std::vector<bool> analogs(record.cfg().analogs.size());
  std::vector<bool> digitals(record.cfg().digitals.size());
  for (const std::optional<ChannelRef>& channel : reached) {
    if (!channel) continue;
    (channel->kind == ChannelKind::kAnalog ? analogs : digitals)[channel->position] = true;
  }
  return record.Select_positions(analogs, digitals);
}

std::size_t selected_slot(const cmtr_cfg_info& cfg, const ChannelRef& channel) {
  const int32_t sel_pos = channel.kind == ChannelKind::kAnalog ? cfg.analogs[channel.position].sel_pos
                                                               : cfg.digitals[channel.position].sel_pos;
  return static_cast<std::size_t>(sel_pos - 1);
}

std::string channel_identity_members(const ChannelRef& channel) {
  return "\"index\":" + std::to_string(channel.position + 1) + ",\"kind\":" +
         (channel.kind == ChannelKind::kAnalog ? "\"analog\"" : "\"status\"");
}

const char* channel_name(const cmtr_cfg_info& cfg, const ChannelRef& channel) {
  return channel.kind == ChannelKind::kAnalog ? cfg.analogs[channel.position].name
                                              : cfg.digitals[channel.position].name;
}
