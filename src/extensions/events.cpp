// Changes of state of status channels.
#include "extensions/events.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "extensions/analysis_record.h"
#include "extensions/channel_selectors.h"
#include "extensions/extension_request.h"
#include "extensions/json_text.h"
#include "extensions/text_pieces.h"
#include "extensions/time_axis.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/request.h"

namespace {

constexpr std::size_t kMostEvents = 100000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Watched {
  ChannelRef channel;
  std::size_t slot;
  double value = kNaN;  // the state last seen
  // `{"index":n,"kind":"status","name":"..."`, written once: a long record
  // has tens of thousands of changes of a few channels.
  std::string head;
};

// Compares each sample's states with the one before, a run at a time.
class ChangeFinder : public SampleSink {
 public:
  ChangeFinder(const ComTrade_format& record, std::vector<Watched>& watched)
      : m_record(record), m_watched(watched),
        m_by_rates(rates_give_time(record.header().rates)), m_clock(record.header().rates) {
    // Room for the longest entry: a head, two numbers and the literals.
    std::size_t longest_head = 0;
    for (const Watched& w : m_watched) longest_head = std::max(longest_head, w.head.size());
    m_entry.resize(longest_head + 2 * kNumberChars + 64);
  }

  bool truncated() const { return m_truncated; }
  // The members "initial" and "events", without braces, as far as read.
  const std::string& initial() const { return m_initial; }
  TextPieces& events() { return m_events; }

  void take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
            const double* stamps) override {
    const std::size_t row_bytes = width * sizeof(double);
    for (std::int64_t i = 0; i < count; ++i) {
      const double* row = values + static_cast<std::size_t>(i) * width;
      const std::int64_t sample = first + i;
      // Most samples change nothing: one comparison of the whole row passes
      // them (the rows hold only the watched channels, 0 or 1 each).
      if (m_previous.size() == width && std::memcmp(row, m_previous.data(), row_bytes) == 0) continue;
      m_previous.assign(row, row + width);
      if (sample == 0) {
        for (Watched& w : m_watched) {
          w.value = row[w.slot];
          if (!m_initial.empty()) m_initial += ',';
          m_initial += w.head;
          m_initial += w.value != 0 ? ",\"value\":1}" : ",\"value\":0}";
        }
        continue;
      }
      for (Watched& w : m_watched) {
        if (row[w.slot] == w.value) continue;
        w.value = row[w.slot];
        if (m_count == kMostEvents) {
          m_truncated = true;
          continue;
        }
        ++m_count;
        // Written whole into room for it and appended once: tens of
        // thousands of entries, each of a few appends, cost more than their
        // numbers.
        char* const entry = m_entry.data();
        char* at = entry;
        if (m_count > 1) *at++ = ',';
        at = put(at, w.head.data(), w.head.size());
        at = put(at, ",\"sample\":", 10);
        at = write_integer(at, sample);
        at = put(at, ",\"time\":", 8);
        at = write_number(at, time_of(sample, stamps[i]));
        at = put(at, w.value != 0 ? ",\"value\":1}" : ",\"value\":0}", 11);
        m_events.append(entry, static_cast<std::size_t>(at - entry));
      }
    }
  }

 private:
  static char* put(char* at, const char* text, std::size_t size) {
    std::memcpy(at, text, size);
    return at + size;
  }

  double time_of(std::int64_t sample, double stamp) {
    if (m_by_rates) return m_clock.offset_us(sample);
    return stamp * m_record.header().time_multiplier;
  }

  const ComTrade_format& m_record;
  std::vector<Watched>& m_watched;
  std::vector<double> m_previous;  // the last row that changed something
  std::vector<char> m_entry;       // one event's text
  std::string m_initial;
  TextPieces m_events;
  std::size_t m_count = 0;
  bool m_by_rates;
  RateClock m_clock;
  bool m_truncated = false;
};

}  // namespace

Answer answer_events(const Json::Value& request, const std::string& typeurl) {
  log_extension_request(typeurl, request);
  const auto fail = [&](int result, const char* errorinfo) { return Answer::envelope(result, errorinfo, typeurl); };
  ChannelRequest asked;
  std::vector<ChannelSelector> selectors;
  std::optional<RequestFailure> failed = read_record_names(request, asked);
  const bool every_status = request["channelList"].isNull();
  if (!failed && !every_status) failed = read_channel_selectors(request, selectors);
  if (failed) return fail(failed->result, failed->errorinfo);

  AnalysisRecord opened;
  if (std::optional<Answer> early = open_analysis_record(asked, selectors, false, typeurl, opened)) {
    return std::move(*early);
  }
  ComTrade_format& record = *opened.record;
  const cmtr_cfg_info& cfg = record.cfg();
  std::vector<std::optional<ChannelRef>> statuses;
  if (every_status) {
    for (std::size_t j = 0; j < cfg.digitals.size(); ++j) statuses.push_back(ChannelRef{ChannelKind::kStatus, j});
  } else {
    for (const std::optional<ChannelRef>& channel : opened.reached) {
      if (channel && channel->kind == ChannelKind::kStatus) statuses.push_back(channel);
    }
  }
  // A record without status channels has none to change: every one of
  // them is an empty list. Channels asked by name must be found.
  if (statuses.empty() && !every_status) return fail(0, kTextChannelNotFound);
  select_reached(record, statuses);

  // Each channel once, in channel order: the order of the events at one
  // sample.
  std::vector<Watched> watched;
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    if (cfg.digitals[j].sel_pos > 0) {
      const ChannelRef channel{ChannelKind::kStatus, j};
      std::string head = "{" + channel_identity_members(channel);
      append_key(head, "name");
      append_string(head, channel_name(cfg, channel));
      watched.push_back(Watched{channel, selected_slot(cfg, channel), kNaN, std::move(head)});
    }
  }
  ChangeFinder finder(record, watched);
  // A data file that cannot be read fails the request: an empty list would
  // say that nothing changed. Without a channel to watch, the file is only
  // opened, not walked.
  const std::int64_t walked = watched.empty() ? 0 : std::max(cfg.samp_count, 0);
  if (record.loadStatusChanges(SampleWindow{0, walked}, finder) != 0) {
    return fail(2, kTextNoChannels);
  }
  const std::optional<double> trigger = trigger_offset_us(record);
  // Members in the writer's order; the events, which may run to megabytes,
  // go out as they are, not copied into the rest.
  std::vector<SharedText> parts;
  parts.push_back(std::make_shared<const std::string>("{\"errorinfo\":\"\",\"events\":["));
  finder.events().move_to(parts);
  std::string out = "],\"initial\":[";
  out += finder.initial();
  out += "],\"result\":200,\"truncated\":";
  out += finder.truncated() ? "true" : "false";
  append_key(out, "triggerUs");
  append_number(out, trigger ? *trigger : kNaN);
  append_key(out, "typeurl");
  append_string(out, typeurl.c_str());
  out += "}\n";
  parts.push_back(std::make_shared<const std::string>(std::move(out)));
  return Answer::text(std::move(parts));
}

void handler_getEvents(transport::Connection& nc, const transport::Request& hm, const std::string& name) {
  serve_query(nc, hm, name, answer_events, Sending{NonFinite::kNull});
}
