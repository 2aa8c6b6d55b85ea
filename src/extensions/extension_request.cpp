// The log line and record lookup of the extension queries.
#include "extensions/extension_request.h"

#include <limits>

#include "logger/logger.h"
#include "restfulserver/request.h"

void log_extension_request(const std::string& typeurl, const Json::Value& request) {
  const std::string group = string_member(request, "groupName", "");
  const std::string file = string_member(request, "fileName", "");
  LOG_WRITE(LOG_INFO, "ext %s groupName:%s, fileName:%s", typeurl.c_str(), group.c_str(), file.c_str());
}

std::unique_ptr<ComTrade_format> read_record(const std::string& file_dir, const std::string& groupName,
                                             const std::string& fileName, bool channel_details) {
  const std::optional<std::string> path = record_path(file_dir, groupName, fileName);
  if (!path) return nullptr;
  auto record = std::make_unique<ComTrade_format>(*path);
  record->keep_channel_details(channel_details);
  if (record->Get_cmtr_cfg_info() != kCfgReadOk) return nullptr;
  if (record->cfg().analogs.empty() && record->cfg().digitals.empty()) return nullptr;
  return record;
}

std::optional<std::int64_t> integer_member(const Json::Value& request, const char* key, std::int64_t fallback,
                                           std::int64_t low, std::int64_t high) {
  const Json::Value& member = request[key];
  if (member.isNull()) return fallback;
  if (!member.isIntegral() || !member.isInt64()) return std::nullopt;
  const std::int64_t value = member.asInt64();
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<SampleWindow> window_members(const Json::Value& request) {
  constexpr std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();
  const std::optional<std::int64_t> from = integer_member(request, "from", 0, 0, kEnd);
  const std::optional<std::int64_t> to = integer_member(request, "to", kEnd, 0, kEnd);
  if (!from || !to || *from > *to) return std::nullopt;
  return SampleWindow{*from, *to};
}
