// The record header as the channel-info query answers it.
#include "restfulserver/channel_info_answer.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/comtrade_format.h"
#include "logger/logger.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/reply.h"
#include "restfulserver/request.h"
#include "restfulserver/settings.h"

Answer answer_channel_info(const Json::Value& request, const std::string& typeurl) {
  if (!request.isObject()) return Answer::envelope(0, kTextBadRequest, typeurl, false);
  const Json::Value& file_member = request["fileName"];
  if (!file_member.isString()) return Answer::envelope(1, kTextBadFileName, typeurl, false);
  const Json::Value& group_member = request["groupName"];
  if (!group_member.isString()) return Answer::envelope(2, kTextNoStation, typeurl, false);
  const std::string fileName = file_member.asString();
  const std::string groupName = group_member.asString();
  const std::string vol_type = string_member(request, "type", "all");
  LOG_WRITE(LOG_INFO, "2 receive fileName:%s,groupNmae:%s, vol_type:%s", fileName.c_str(),
            groupName.c_str(), vol_type.c_str());

  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();

  Json::Value reply;
  std::unique_ptr<ComTrade_format> record;
  if (const std::optional<std::string> path = record_path(*file_dir, groupName, fileName)) {
    record = std::make_unique<ComTrade_format>(*path);
    // A record that cannot be read shows as empty lists; the answer says so.
    record->Get_cmtr_cfg_info();
    const cmtr_cfg_info& cfg_info = record->cfg();
    reply["startTime"] = cfg_info.start_time;
    reply["samp_count"] = cfg_info.samp_count;
  } else {
    // A name that could leave the record root is a record that does not
    // exist: the name lists describe it, as a failed read would leave them.
    AI_VEC.clear();
    DI_VEC.clear();
    reply["startTime"] = "";
    reply["samp_count"] = 0;
  }

  if (AI_VEC.empty()) {
    reply["aiList"] = 0;
  } else {
    Json::Value& ai_list = reply["aiList"];
    ai_list = Json::Value(Json::arrayValue);
    const cmtr_cfg_info& cfg_info = record->cfg();
    // AI_VEC[i] names analogs[i]; a number that threw mid-line could leave a
    // name without its entry, but that request never gets this far.
    const std::size_t count = std::min(AI_VEC.size(), cfg_info.analogs.size());
    // Keys that live as long as the program need no copy in every entry.
    static const Json::StaticString kName("name"), kMin("min"), kMax("max");
    for (std::size_t i = 0; i < count; ++i) {
      Json::Value temp_root(Json::objectValue);
      temp_root[kName] = AI_VEC[i];
      temp_root[kMin] = cfg_info.analogs[i].smp_min;
      temp_root[kMax] = cfg_info.analogs[i].smp_max;
      ai_list.append(std::move(temp_root));
    }
  }
  if (DI_VEC.empty()) {
    reply["diList"] = 0;
  } else {
    Json::Value& di_list = reply["diList"];
    di_list = Json::Value(Json::arrayValue);
    for (const std::string& name : DI_VEC) di_list.append(name);
  }
  record.reset();

  if (AI_VEC.empty() && DI_VEC.empty()) {
    reply["result"] = 2;
    reply["errorinfo"] = kTextNoChannels;
  } else {
    reply["result"] = 200;
    reply["errorinfo"] = "";
  }
  reply["typeurl"] = typeurl;
  return Answer::document(std::move(reply));
}
