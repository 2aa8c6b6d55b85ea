// Which records a station holds, as the file-list query answers it.
#include "restfulserver/file_list_answer.h"

#include <string>
#include <utility>

#include "comtrade_format/record_scan.h"
#include "logger/logger.h"
#include "platform/platform.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/reply.h"
#include "restfulserver/request.h"
#include "restfulserver/settings.h"

Answer answer_file_list(const Json::Value& request, const std::string& typeurl) {
  if (!request.isObject()) return Answer::envelope(0, kTextBadRequest, typeurl, false);
  const Json::Value& group = request["groupName"];
  if (!group.isString()) return Answer::envelope(2, kTextNoStation, typeurl, false);
  const std::string station_name = group.asString();
  const std::string vol_str = string_member(request, "type", "all");
  LOG_WRITE(LOG_INFO, "1 recive station_name:%s,vol_str:%s", station_name.c_str(), vol_str.c_str());

  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();

  if (is_safe_name(station_name)) {
    scan_cfg_files(platform::join_path(*file_dir, station_name));
  } else {
    // Never list a directory outside the record root: such a station simply
    // has no records, and the list must not keep names of an earlier scan.
    g_station_vec.clear();
  }

  if (g_station_vec.empty()) {
    Json::Value reply = make_reply(404, kTextStationListEmpty, typeurl);
    reply["fileName_list"] = 0;
    return Answer::document(std::move(reply));
  }
  LOG_WRITE(LOG_INFO, "g_station_vec.size(): %d", static_cast<int>(g_station_vec.size()));
  // The bytes the library's compact writer gives for the document, its keys
  // in their sorted order, written straight: this is the most frequent query,
  // and building and walking a tree of a few names cost a sixth of it.
  std::string text = "{\"errorinfo\":\"\",\"fileName_list\":[";
  for (std::size_t i = 0; i < g_station_vec.size(); ++i) {
    const std::string& name = g_station_vec[i];
    if (i > 0) text += ',';
    text += '"';
    append_json_escaped(text, name.data(), name.data() + name.size());
    text += '"';
    LOG_WRITE(LOG_INFO, "i: %d, fileName: %s", static_cast<int>(i + 1), name.c_str());
  }
  text += "],\"result\":200,\"typeurl\":\"";
  append_json_escaped(text, typeurl.data(), typeurl.data() + typeurl.size());
  text += "\"}\n";
  LOG_WRITE_TEXT(LOG_INFO, "write outStr:", text, "");
  return Answer::text(std::move(text));
}
