// Min/max buckets of a window of samples, and their hand-built answer.
#include "extensions/waveform.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "comtrade_format/comtrade_format.h"
#include "comtrade_format/fixed4.h"
#include "extensions/channel_selectors.h"
#include "extensions/extension_request.h"
#include "extensions/json_text.h"
#include "extensions/time_axis.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/reply.h"
#include "restfulserver/request.h"
#include "restfulserver/settings.h"

const char kTextPointsOutOfRange[] = "points out of range";
const char kTextWindowOutOfRange[] = "window out of range";

namespace {

constexpr std::int64_t kDefaultPoints = 2000;
constexpr std::int64_t kMostPoints = 100000;

// Appends the values of one series as a JSON array: analog values as
// "%.4f" numbers, status values as 0 and 1, null where a bucket has none or
// its value is not finite (a FLOAT32 NaN, a·x+b past the range of a double).
void append_array(std::string& out, const std::vector<double>& values, bool analog) {
  out += '[';
  char text[kFixed4MaxChars];
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ',';
    const double value = values[i];
    if (!std::isfinite(value)) {
      out += "null";
    } else if (!analog) {
      out += value != 0 ? '1' : '0';
    } else {
      out.append(text, format_fixed4(value, text));
    }
  }
  out += ']';
}

}  // namespace

Answer answer_waveform(const Json::Value& request, const std::string& typeurl) {
  const auto fail = [&](int result, const char* errorinfo) {
    return Answer::envelope(result, errorinfo, typeurl);
  };
  ChannelQuery query;
  if (std::optional<Answer> early = read_channel_query(request, typeurl, query)) return std::move(*early);
  const ChannelRequest& asked = query.asked;
  const std::vector<ChannelSelector>& selectors = query.selectors;
  const std::optional<std::int64_t> points = integer_member(request, "points", kDefaultPoints, 1, kMostPoints);
  if (!points) return fail(0, kTextPointsOutOfRange);
  const std::optional<SampleWindow> window = window_members(request);
  if (!window) return fail(0, kTextWindowOutOfRange);

  const std::optional<std::string> file_dir = read_record_root();
  if (!file_dir) return Answer();
  std::unique_ptr<ComTrade_format> record =
      read_record(*file_dir, asked.groupName, asked.fileName, false);
  if (!record) return fail(2, kTextNoChannels);
  const std::vector<std::optional<ChannelRef>> reached = resolve_selectors(record->cfg(), selectors);
  if (select_reached(*record, reached) < 1) return fail(0, kTextChannelNotFound);
  const cmtr_cfg_info& cfg = record->cfg();

  // The window as far as the record goes; the buckets are as long as it
  // takes to fit it into `points` of them.
  const std::int64_t first = std::min<std::int64_t>(window->from, std::max(cfg.samp_count, 0));
  const std::int64_t last = std::min<std::int64_t>(window->to, std::max(cfg.samp_count, 0));
  const std::int64_t step = std::max<std::int64_t>(1, (last - first + *points - 1) / *points);
  Buckets buckets;
  // A data file that cannot be read is a record without samples to give,
  // not a chart of none.
  if (record->loadBuckets(SampleWindow{first, last}, step, buckets) != 0) return fail(2, kTextNoChannels);
  const std::vector<std::optional<double>> times = bucket_times_us(*record, buckets, first, step);

  // Members in the writer's order: channels, errorinfo, from, result, step,
  // time, to, typeurl.
  std::string out = "{\"channels\":[";
  bool any = false;
  for (const std::optional<ChannelRef>& channel : reached) {
    if (!channel) continue;
    const Buckets::Channel& values = buckets.channels[selected_slot(cfg, *channel)];
    const bool analog = channel->kind == ChannelKind::kAnalog;
    out += any ? ",{" : "{";
    out += channel_identity_members(*channel);
    out += ",\"max\":";
    append_array(out, values.max, analog);
    out += ",\"min\":";
    append_array(out, values.min, analog);
    append_key(out, "name");
    append_string(out, channel_name(cfg, *channel));
    out += '}';
    any = true;
  }
  out += "],\"errorinfo\":\"\",\"from\":" + std::to_string(first) + ",\"result\":200,\"step\":" +
         std::to_string(step) + ",\"time\":[";
  char text[kFixed4MaxChars];
  for (std::size_t b = 0; b < times.size(); ++b) {
    if (b > 0) out += ',';
    // Rates near the ends of the range of a double can take a time past it.
    if (times[b] && std::isfinite(*times[b])) {
      out.append(text, format_fixed4(*times[b], text));
    } else {
      out += "null";
    }
  }
  out += "],\"to\":" + std::to_string(first + buckets.samples);
  append_key(out, "typeurl");
  append_string(out, typeurl.c_str());
  out += "}\n";
  return Answer::text(std::move(out));
}

void handler_getWaveform(transport::Connection& nc, const transport::Request& hm,
                         const std::string& name) {
  serve_query(nc, hm, name, answer_waveform, Sending{NonFinite::kNull});
}
