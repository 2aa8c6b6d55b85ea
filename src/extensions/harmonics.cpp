// The harmonics of the cycle that ends at one sample.
#include "extensions/harmonics.h"

#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "extensions/analysis_record.h"
#include "extensions/channel_selectors.h"
#include "extensions/cycle_samples.h"
#include "extensions/extension_request.h"
#include "extensions/line_cycles.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/request.h"

const char kTextAtOutOfRange[] = "at out of range";
const char kTextOrdersOutOfRange[] = "orders out of range";

namespace {

constexpr std::int64_t kDefaultOrders = 15;
constexpr std::int64_t kMostOrders = 1000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The members of one channel from its cycle's samples.
void add_harmonics(Json::Value& object, const double* rows, std::size_t stride, const Cycle& cycle,
                   double first_s, double frequency, int orders) {
  Json::Value& harmonics = object["harmonics"] = Json::Value(Json::arrayValue);
  double mean = 0;
  for (int k = 0; k < cycle.samples; ++k) mean += rows[static_cast<std::size_t>(k) * stride];
  mean /= cycle.samples;
  Json::Value dc(Json::objectValue);
  dc["order"] = 0;
  dc["magnitude"] = mean;
  dc["angle"] = std::isfinite(mean) ? 0.0 : kNaN;
  harmonics.append(std::move(dc));
  double fundamental = kNaN;
  double above = 0;
  for (int h = 1; h <= orders; ++h) {
    const std::complex<double> z =
        cycle_phasor(rows, stride, cycle.samples, first_s, cycle.step_us * 1e-6, frequency, h);
    const double magnitude = std::abs(z);
    if (h == 1) fundamental = magnitude;
    if (h >= 2) above += magnitude * magnitude;
    Json::Value entry(Json::objectValue);
    entry["order"] = h;
    entry["magnitude"] = magnitude;
    entry["angle"] = std::isfinite(magnitude) ? angle_degrees(z) : kNaN;
    harmonics.append(std::move(entry));
  }
  object["thd"] = fundamental > 0 ? 100 * std::sqrt(above) / fundamental : kNaN;
  object["rms"] = cycle_rms(rows, stride, cycle.samples);
}

}  // namespace

Answer answer_harmonics(const Json::Value& request, const std::string& typeurl) {
  const auto fail = [&](int result, const char* errorinfo) { return Answer::envelope(result, errorinfo, typeurl); };
  ChannelQuery query;
  if (std::optional<Answer> early = read_channel_query(request, typeurl, query)) return std::move(*early);
  const ChannelRequest& asked = query.asked;
  const std::vector<ChannelSelector>& selectors = query.selectors;
  constexpr std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();
  const std::optional<std::int64_t> at_member = integer_member(request, "at", -1, 0, kEnd);
  if (!at_member) return fail(0, kTextAtOutOfRange);
  const std::optional<std::int64_t> orders = integer_member(request, "orders", kDefaultOrders, 0, kMostOrders);
  if (!orders) return fail(0, kTextOrdersOutOfRange);

  AnalysisRecord opened;
  if (std::optional<Answer> early = open_analysis_record(asked, selectors, true, typeurl, opened)) {
    return std::move(*early);
  }
  ComTrade_format& record = *opened.record;
  std::vector<std::optional<ChannelRef>> analogs;
  for (const std::optional<ChannelRef>& channel : opened.reached) {
    if (channel && channel->kind == ChannelKind::kAnalog) analogs.push_back(channel);
  }
  if (analogs.empty()) return fail(0, kTextChannelNotFound);
  const cmtr_cfg_info& cfg = record.cfg();
  const std::int64_t at = *at_member < 0 ? cfg.samp_count - 1 : *at_member;
  if (at < 0 || at >= cfg.samp_count) return fail(0, kTextAtOutOfRange);
  select_reached(record, analogs);

  CycleFinder finder(record.header().rates, opened.frequency);
  const Cycle cycle = finder.ending_at(at);
  const int used_orders = static_cast<int>(std::min<std::int64_t>(*orders, cycle.samples / 2));
  Json::Value reply = make_reply(200, "", typeurl);
  reply["at"] = static_cast<Json::Int64>(at);
  reply["time"] = cycle.samples > 0 ? cycle.end_us : kNaN;
  reply["samplesPerCycle"] = cycle.samples > 0 ? Json::Value(cycle.samples) : Json::Value(Json::nullValue);
  reply["approximate"] = cycle.approximate;
  reply["orders"] = used_orders;
  Json::Value& channels = reply["channels"] = Json::Value(Json::arrayValue);
  for (const std::optional<ChannelRef>& channel : analogs) {
    Json::Value object = channel_object(cfg, *channel);
    object["harmonics"] = Json::Value(Json::nullValue);
    object["thd"] = Json::Value(Json::nullValue);
    object["rms"] = Json::Value(Json::nullValue);
    channels.append(std::move(object));
  }
  std::vector<CycleSpan> spans;
  if (cycle.whole) spans.push_back(CycleSpan{cycle.first, at, 0});
  const double first_s = (cycle.end_us - (cycle.samples - 1) * cycle.step_us) * 1e-6;
  CycleSamples gathered(std::move(spans), [&](const CycleSpan&, const double* rows, std::size_t width) {
    for (Json::ArrayIndex i = 0; i < channels.size(); ++i) {
      const ChannelRef& channel = *analogs[i];
      add_harmonics(channels[i], rows + selected_slot(cfg, channel), width, cycle,
                    first_s + skew_seconds(record, channel.position), opened.frequency, used_orders);
    }
  });
  // Loaded even without a whole cycle, which reads nothing but opens the
  // data file: one that cannot be read fails the request, as for phasors.
  if (record.loadSamples(gathered.windows(), gathered) != 0) return fail(2, kTextNoChannels);
  return Answer::document(std::move(reply));
}

void handler_getHarmonics(transport::Connection& nc, const transport::Request& hm, const std::string& name) {
  serve_query(nc, hm, name, answer_harmonics, Sending{NonFinite::kNull});
}
