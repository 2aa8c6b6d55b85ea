// Opening a record for an analysis query.
#include "extensions/analysis_record.h"

#include <cmath>

#include "extensions/extension_request.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/settings.h"

const char kTextNoLineFrequency[] = "no line frequency";

std::optional<Answer> open_analysis_record(const ChannelRequest& asked, const std::vector<ChannelSelector>& selectors,
                                           bool needs_frequency, const std::string& typeurl, AnalysisRecord& out) {
  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();
  out.record = read_record(*file_dir, asked.groupName, asked.fileName, true);
  if (!out.record) return Answer::envelope(2, kTextNoChannels, typeurl);
  if (needs_frequency) {
    const std::optional<double>& frequency = out.record->header().frequency;
    if (!frequency || !std::isfinite(*frequency) || !(*frequency > 0)) {
      return Answer::envelope(0, kTextNoLineFrequency, typeurl);
    }
    out.frequency = *frequency;
  }
  out.reached = resolve_selectors(out.record->cfg(), selectors);
  return std::nullopt;
}

Json::Value channel_object(const cmtr_cfg_info& cfg, const ChannelRef& channel) {
  Json::Value object(Json::objectValue);
  object["index"] = static_cast<Json::UInt64>(channel.position + 1);
  object["kind"] = channel.kind == ChannelKind::kAnalog ? "analog" : "status";
  object["name"] = channel_name(cfg, channel);
  return object;
}

double skew_seconds(const ComTrade_format& record, std::size_t position) {
  const std::vector<AnalogHeader>& analogs = record.header().analogs;
  if (position >= analogs.size() || !analogs[position].skew || !std::isfinite(*analogs[position].skew)) return 0;
  return *analogs[position].skew * 1e-6;
}
