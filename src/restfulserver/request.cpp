// Reading the request document.
#include "restfulserver/request.h"

#include <exception>

#include <json/reader.h>

#include "platform/platform.h"
#include "restfulserver/gbk_texts.h"

bool parse_body(const transport::Request& hm, Json::Value& root) {
  const std::string text = hm.body.substr(0, hm.body.find('\0'));
  // Json::Reader is deprecated in favour of CharReader, but the strict-mode
  // rules of this older reader are the ones clients have always been held to.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Json::Reader reader(Json::Features::strictMode());
  bool parsed = false;
  try {
    parsed = reader.parse(text, root, true);
  } catch (const std::exception&) {
    // The reader throws when nesting passes its depth limit; such a document
    // is just one that does not parse.
    parsed = false;
  }
#pragma GCC diagnostic pop
  // An array root parses in strict mode, but every member lookup after this
  // expects an object.
  return parsed && root.isObject();
}

std::string string_member(const Json::Value& root, const char* key, const std::string& fallback) {
  if (!root.isObject()) return fallback;
  const Json::Value& member = root[key];
  return member.isString() ? member.asString() : fallback;
}

bool is_safe_name(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // "/", ":" and NUL are below every trail byte, so they are refused
  // wherever they stand; "\" only where it is a character of its own.
  return name.find_first_of(std::string("/:\0", 3)) == std::string::npos &&
         !platform::holds_character(name, '\\');
}

std::optional<std::string> record_path(const std::string& file_dir, const std::string& groupName,
                                       const std::string& fileName) {
  if (!is_safe_name(groupName) || !is_safe_name(fileName)) return std::nullopt;
  return platform::join_path(platform::join_path(file_dir, groupName), fileName);
}

std::optional<RequestFailure> read_record_names(const Json::Value& request, ChannelRequest& into) {
  const Json::Value& group_member = request["groupName"];
  if (!group_member.isString()) return RequestFailure{2, kTextNoStation};
  const Json::Value& file_member = request["fileName"];
  if (!file_member.isString()) return RequestFailure{1, kTextBadFileName};
  into.groupName = group_member.asString();
  into.fileName = file_member.asString();
  return std::nullopt;
}

std::optional<RequestFailure> read_channel_list(
    const Json::Value& request, ChannelRequest& into,
    const std::function<void(std::size_t, const std::string&)>& seen) {
  const Json::Value& list_member = request["channelList"];
  if (!list_member.isNull() && !list_member.isArray()) return RequestFailure{0, kTextBadChannelList};
  into.channels.clear();
  into.channels.reserve(list_member.size());
  for (Json::ArrayIndex i = 0; i < list_member.size(); ++i) {
    const Json::Value& element = list_member[i];
    if (!element.isString()) return RequestFailure{0, kTextBadChannelList};
    into.channels.push_back(element.asString());
    if (seen) seen(i, into.channels.back());
  }
  if (into.channels.empty()) return RequestFailure{0, kTextEmptyChannelList};
  return std::nullopt;
}
