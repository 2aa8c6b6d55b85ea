// Phasors, RMS and sequence components at evenly spread cycle ends.
#include "extensions/phasors.h"

#include <algorithm>
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
#include "extensions/json_text.h"
#include "extensions/line_cycles.h"
#include "extensions/waveform.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/request.h"

namespace {

constexpr std::int64_t kDefaultPoints = 2000;
constexpr std::int64_t kMostPoints = 100000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One analog channel's results, a value per point (NaN: none).
struct Series {
  ChannelRef channel;
  std::size_t slot;  // in the rows of a sample load
  double skew_s;
  std::vector<std::complex<double>> phasors;
  std::vector<double> rms;
};

// "angle":[...],...,"magnitude":[...] of `phasors`, joined by `between`
// (the members that sort between the two, with their leading comma).
void append_polar(std::string& out, const std::vector<std::complex<double>>& phasors, const std::string& between) {
  std::vector<double> magnitude(phasors.size());
  std::vector<double> angle(phasors.size());
  for (std::size_t p = 0; p < phasors.size(); ++p) {
    const std::complex<double> z = phasors[p];
    const bool known = std::isfinite(z.real()) && std::isfinite(z.imag());
    magnitude[p] = known ? std::abs(z) : kNaN;
    angle[p] = known ? angle_degrees(z) : kNaN;
  }
  append_key(out, "angle", true);
  append_numbers(out, angle);
  out += between;
  append_key(out, "magnitude");
  append_numbers(out, magnitude);
}

}  // namespace

Answer answer_phasors(const Json::Value& request, const std::string& typeurl) {
  const auto fail = [&](int result, const char* errorinfo) { return Answer::envelope(result, errorinfo, typeurl); };
  ChannelQuery query;
  if (std::optional<Answer> early = read_channel_query(request, typeurl, query)) return std::move(*early);
  const ChannelRequest& asked = query.asked;
  const std::vector<ChannelSelector>& selectors = query.selectors;
  // The three-phase set, read as a channel list of exactly three.
  std::vector<ChannelSelector> phases;
  const bool with_sequence = !request["sequence"].isNull();
  if (with_sequence) {
    Json::Value sequence(Json::objectValue);
    sequence["channelList"] = request["sequence"];
    if (read_channel_selectors(sequence, phases) || phases.size() != 3) return fail(0, kTextBadChannelList);
  }
  const std::optional<std::int64_t> points = integer_member(request, "points", kDefaultPoints, 1, kMostPoints);
  if (!points) return fail(0, kTextPointsOutOfRange);
  const std::optional<SampleWindow> window = window_members(request);
  if (!window) return fail(0, kTextWindowOutOfRange);

  // The phases are channels like any other, after the listed ones.
  std::vector<ChannelSelector> all = selectors;
  all.insert(all.end(), phases.begin(), phases.end());
  AnalysisRecord opened;
  if (std::optional<Answer> early = open_analysis_record(asked, all, true, typeurl, opened)) return std::move(*early);
  ComTrade_format& record = *opened.record;
  const std::vector<std::optional<ChannelRef>>& reached = opened.reached;
  for (std::size_t p = selectors.size(); p < reached.size(); ++p) {
    if (!reached[p] || reached[p]->kind != ChannelKind::kAnalog) return fail(0, kTextChannelNotFound);
  }
  std::vector<std::optional<ChannelRef>> analogs;
  for (const std::optional<ChannelRef>& channel : reached) {
    if (channel && channel->kind == ChannelKind::kAnalog) analogs.push_back(channel);
  }
  if (analogs.empty()) return fail(0, kTextChannelNotFound);
  select_reached(record, analogs);
  const cmtr_cfg_info& cfg = record.cfg();

  // The cycle ends, evenly spread so that the last is the window's last
  // sample.
  const std::int64_t samples = std::max(cfg.samp_count, 0);
  const std::int64_t first = std::min(window->from, samples);
  const std::int64_t last = std::min(window->to, samples);
  const std::int64_t count = std::min(*points, last - first);
  CycleFinder finder(record.header().rates, opened.frequency);
  std::vector<Cycle> cycles;
  std::vector<CycleSpan> spans;
  cycles.reserve(static_cast<std::size_t>(count));
  for (std::int64_t k = 0; k < count; ++k) {
    const std::int64_t end = first + (k + 1) * (last - first) / count - 1;
    cycles.push_back(finder.ending_at(end));
    if (cycles.back().whole) spans.push_back(CycleSpan{cycles.back().first, end, static_cast<std::size_t>(k)});
  }

  std::vector<Series> series;
  for (const std::optional<ChannelRef>& channel : analogs) {
    series.push_back(Series{*channel, selected_slot(cfg, *channel), skew_seconds(record, channel->position),
                            std::vector<std::complex<double>>(cycles.size(), {kNaN, kNaN}),
                            std::vector<double>(cycles.size(), kNaN)});
  }
  std::vector<std::size_t> slots;
  std::vector<double> skews;
  for (const Series& one : series) {
    slots.push_back(one.slot);
    skews.push_back(one.skew_s);
  }
  std::vector<std::complex<double>> phasors(series.size());
  std::vector<double> rms(series.size());
  CycleSamples gathered(spans, [&](const CycleSpan& span, const double* rows, std::size_t width) {
    const Cycle& cycle = cycles[span.point];
    const double first_s = (cycle.end_us - (cycle.samples - 1) * cycle.step_us) * 1e-6;
    cycle_phasors(rows, width, slots.data(), skews.data(), series.size(), cycle.samples, first_s,
                  cycle.step_us * 1e-6, opened.frequency, 1, phasors.data(), rms.data());
    for (std::size_t c = 0; c < series.size(); ++c) {
      series[c].phasors[span.point] = phasors[c];
      series[c].rms[span.point] = rms[c];
    }
  });
  // A data file that cannot be read fails the request rather than being
  // answered as cycles that are all null.
  if (record.loadSamples(gathered.windows(), gathered) != 0) return fail(2, kTextNoChannels);

  // Members in the writer's order: approximate, channels, errorinfo,
  // result, samplesPerCycle, sequence, time, typeurl.
  std::vector<double> times;
  std::vector<double> per_cycle;
  bool approximate = false;
  for (const Cycle& cycle : cycles) {
    times.push_back(cycle.samples > 0 ? cycle.end_us : kNaN);
    per_cycle.push_back(cycle.samples > 0 ? cycle.samples : kNaN);
    approximate = approximate || cycle.approximate;
  }
  const bool constant = !per_cycle.empty() && std::all_of(per_cycle.begin(), per_cycle.end(), [&](double n) {
    return n == per_cycle.front() || (std::isnan(n) && std::isnan(per_cycle.front()));
  });
  std::string out = "{";
  append_key(out, "approximate", true);
  out += approximate ? "true" : "false";
  append_key(out, "channels");
  out += '[';
  std::size_t at = 0;
  bool any = false;
  for (std::size_t i = 0; i < selectors.size(); ++i) {
    const std::optional<ChannelRef>& channel = reached[i];
    if (!channel || channel->kind != ChannelKind::kAnalog) continue;
    const Series& one = series[at++];
    out += any ? ",{" : "{";
    any = true;
    append_polar(out, one.phasors, "," + channel_identity_members(one.channel));
    append_key(out, "name");
    append_string(out, channel_name(cfg, one.channel));
    append_key(out, "rms");
    append_numbers(out, one.rms);
    out += '}';
  }
  out += ']';
  out += ",\"errorinfo\":\"\",\"result\":200";
  append_key(out, "samplesPerCycle");
  if (constant) {
    append_number(out, per_cycle.front());
  } else {
    append_numbers(out, per_cycle);
  }
  if (with_sequence) {
    // After the listed channels come the three phases, in order.
    const Series& a = series[series.size() - 3];
    const Series& b = series[series.size() - 2];
    const Series& c = series[series.size() - 1];
    const std::complex<double> turn = std::polar(1.0, 2 * 3.14159265358979323846 / 3);
    std::vector<std::complex<double>> zero, positive, negative;
    for (std::size_t p = 0; p < cycles.size(); ++p) {
      zero.push_back((a.phasors[p] + b.phasors[p] + c.phasors[p]) / 3.0);
      positive.push_back((a.phasors[p] + turn * b.phasors[p] + turn * turn * c.phasors[p]) / 3.0);
      negative.push_back((a.phasors[p] + turn * turn * b.phasors[p] + turn * c.phasors[p]) / 3.0);
    }
    append_key(out, "sequence");
    out += "{\"negative\":{";
    append_polar(out, negative, "");
    out += "},\"positive\":{";
    append_polar(out, positive, "");
    out += "},\"zero\":{";
    append_polar(out, zero, "");
    out += "}}";
  }
  append_key(out, "time");
  append_numbers(out, times);
  append_key(out, "typeurl");
  append_string(out, typeurl.c_str());
  out += "}\n";
  return Answer::text(std::move(out));
}

void handler_getPhasors(transport::Connection& nc, const transport::Request& hm, const std::string& name) {
  serve_query(nc, hm, name, answer_phasors, Sending{NonFinite::kNull});
}
