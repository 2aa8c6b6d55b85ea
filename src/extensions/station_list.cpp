// The stations of the record root.
#include "extensions/station_list.h"

#include <utility>
#include <vector>

#include "extensions/extension_request.h"
#include "platform/platform.h"
#include "restfulserver/settings.h"

Answer answer_station_list(const Json::Value& request, const std::string& typeurl) {
  log_extension_request(typeurl, request);
  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();
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
  return Answer::document(std::move(reply));
}

void handler_getStationList(transport::Connection& nc, const transport::Request& hm,
                            const std::string& name) {
  serve_query(nc, hm, name, answer_station_list, Sending{NonFinite::kNull});
}
