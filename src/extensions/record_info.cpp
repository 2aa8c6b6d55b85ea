// The full header of a record, from the one read of its configuration.
#include "extensions/record_info.h"

#include <memory>

#include "comtrade_format/comtrade_format.h"
#include "comtrade_format/record_header.h"
#include "extensions/extension_request.h"
#include "extensions/time_axis.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/reply.h"
#include "restfulserver/settings.h"

namespace {

template <typename T>
Json::Value number_or_null(const std::optional<T>& value) {
  return value ? Json::Value(*value) : Json::Value(Json::nullValue);
}

Json::Value number_or_null(const std::optional<std::int64_t>& value) {
  return value ? Json::Value(static_cast<Json::Int64>(*value)) : Json::Value(Json::nullValue);
}

Json::Value header_json(const ComTrade_format& record) {
  const cmtr_cfg_info& cfg = record.cfg();
  const RecordHeader& header = record.header();
  Json::Value info(Json::objectValue);
  info["station"] = header.station;
  info["device"] = header.device;
  info["revision"] = header.revision;
  info["frequency"] = number_or_null(header.frequency);
  Json::Value rates(Json::arrayValue);
  for (const SampleRate& rate : header.rates) {
    Json::Value entry(Json::objectValue);
    entry["rate"] = number_or_null(rate.rate);
    entry["last"] = number_or_null(rate.last);
    rates.append(std::move(entry));
  }
  info["rates"] = std::move(rates);
  info["samples"] = cfg.samp_count;
  info["startTime"] = cfg.start_time;
  info["triggerTime"] = cfg.end_time;
  info["fileType"] = header.file_type;
  info["timeMultiplier"] = header.time_multiplier;
  Json::Value analogs(Json::arrayValue);
  for (std::size_t i = 0; i < cfg.analogs.size(); ++i) {
    const analog_info& analog = cfg.analogs[i];
    const AnalogHeader& more = header.analogs[i];
    Json::Value entry(Json::objectValue);
    // The position, not the number the line writes: records number their
    // status channels on from the analogs, and positions are what the
    // channel selectors take.
    entry["index"] = static_cast<Json::UInt64>(i + 1);
    entry["kind"] = "analog";
    entry["name"] = analog.name;
    entry["phase"] = more.phase;
    entry["circuit"] = more.circuit;
    entry["unit"] = more.unit;
    entry["a"] = analog.factor_a;
    entry["b"] = analog.factor_b;
    entry["skew"] = number_or_null(more.skew);
    entry["min"] = number_or_null(more.min);
    entry["max"] = number_or_null(more.max);
    entry["primary"] = number_or_null(more.primary);
    entry["secondary"] = number_or_null(more.secondary);
    entry["ps"] = more.ps;
    analogs.append(std::move(entry));
  }
  info["analogs"] = std::move(analogs);
  Json::Value digitals(Json::arrayValue);
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    const DigitalHeader& more = header.digitals[j];
    Json::Value entry(Json::objectValue);
    entry["index"] = static_cast<Json::UInt64>(j + 1);
    entry["kind"] = "status";
    entry["name"] = cfg.digitals[j].name;
    entry["phase"] = more.phase;
    entry["circuit"] = more.circuit;
    entry["normal"] = more.normal;
    digitals.append(std::move(entry));
  }
  info["digitals"] = std::move(digitals);
  return info;
}

}  // namespace

Answer answer_record_info(const Json::Value& request, const std::string& typeurl) {
  log_extension_request(typeurl, request);
  const Json::Value& file_member = request["fileName"];
  if (!file_member.isString()) return Answer::envelope(1, kTextBadFileName, typeurl);
  const Json::Value& group_member = request["groupName"];
  if (!group_member.isString()) return Answer::envelope(2, kTextNoStation, typeurl);
  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();
  std::unique_ptr<ComTrade_format> record =
      read_record(*file_dir, group_member.asString(), file_member.asString(), true);
  if (!record) return Answer::envelope(2, kTextNoChannels, typeurl);
  Json::Value reply = make_reply(200, "", typeurl);
  Json::Value info = header_json(*record);
  info["durationUs"] = number_or_null(last_sample_offset_us(*record));
  reply["record"] = std::move(info);
  return Answer::document(std::move(reply));
}

void handler_getRecordInfo(transport::Connection& nc, const transport::Request& hm,
                           const std::string& name) {
  serve_query(nc, hm, name, answer_record_info, Sending{NonFinite::kNull});
}
