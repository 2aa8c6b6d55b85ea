// The stations of the record root.
#include "extensions/station_list.h"

#include <vector>

#include "extensions/extension_request.h"
#include "platform/platform.h"
#include "restfulserver/settings.h"

std::optional<Json::Value> answer_station_list(const Json::Value& request, const std::string& typeurl) {
  log_extension_request(typeurl, request);
  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return std::nullopt;
  Json::Value reply = make_reply(200, "", typeurl);
  Json::Value stations(Json::arrayValue);
  // An empty root names no folder: the record queries would look in the
  // file system's root, which holds no stations of this service.
  if (!file_dir->empty()) {
    const std::optional<std::vector<platform::DirEntry>> entries =
        platform::list_dir(platform::resolve_case_insensitive(*file_dir));
    if (entries) {
      for (const platform::DirEntry& entry : *entries) {
        if (entry.is_dir) stations.append(entry.name);
      }
    }
  }
  reply["stationList"] = stations.empty() ? Json::Value(0) : std::move(stations);
  return reply;
}

void handler_getStationList(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name) {
  answer_request(nc, hm, name, answer_station_list, NonFinite::kNull);
}
