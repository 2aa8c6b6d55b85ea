// The log line and record lookup of the extension queries.
#include "extensions/extension_request.h"

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
