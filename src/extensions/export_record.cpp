// A window of chosen channels as a CSV file or a combined .cff.
#include "extensions/export_record.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comtrade_format/fixed4.h"
#include "extensions/analysis_record.h"
#include "extensions/cff_slice.h"
#include "extensions/download_name.h"
#include "extensions/channel_selectors.h"
#include "extensions/extension_request.h"
#include "extensions/text_pieces.h"
#include "extensions/waveform.h"
#include "restfulserver/gbk_texts.h"
#include "restfulserver/request.h"

const char kTextFormatOutOfRange[] = "format out of range";

namespace {

// A CSV field: quoted when it holds a comma, a quote or a line end.
void append_csv_field(std::string& out, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Writes the lines of the samples as they come.
class CsvLines : public SampleSink {
 public:
  CsvLines(const ComTrade_format& record, std::vector<std::pair<std::size_t, bool>> columns, TextPieces& out)
      : m_record(record), m_columns(std::move(columns)), m_out(out),
        m_by_rates(rates_give_time(record.header().rates)), m_clock(record.header().rates) {}

  void take(std::int64_t first, std::int64_t count, std::size_t width, const double* values,
            const double* stamps) override {
    // A line is written into room for its longest form and appended once:
    // an append per field would cost as much as formatting it.
    m_line.resize((1 + m_columns.size()) * (kFixed4MaxChars + 1) + 2);
    for (std::int64_t i = 0; i < count; ++i) {
      char* const line = m_line.data();
      char* at = line;
      const double time = m_by_rates ? m_clock.offset_us(first + i)
                                     : stamps[i] * m_record.header().time_multiplier;
      if (std::isfinite(time)) at += format_fixed3(time, at);
      const double* row = values + static_cast<std::size_t>(i) * width;
      for (const auto& [slot, analog] : m_columns) {
        *at++ = ',';
        const double value = row[slot];
        if (!analog) {
          *at++ = value != 0 ? '1' : '0';
        } else if (std::isfinite(value)) {
          at += format_fixed4(value, at);
        }
      }
      *at++ = '\r';
      *at++ = '\n';
      m_out.append(line, static_cast<std::size_t>(at - line));
    }
  }

 private:
  const ComTrade_format& m_record;
  std::vector<std::pair<std::size_t, bool>> m_columns;  // slot, analog
  TextPieces& m_out;
  bool m_by_rates;
  RateClock m_clock;
  std::vector<char> m_line;
};

}  // namespace

Answer answer_export_record(const Json::Value& request, const std::string& typeurl) {
  const auto fail = [&](int result, const char* errorinfo) { return Answer::envelope(result, errorinfo, typeurl); };
  ChannelQuery query;
  if (std::optional<Answer> early = read_channel_query(request, typeurl, query)) return std::move(*early);
  const ChannelRequest& asked = query.asked;
  const std::vector<ChannelSelector>& selectors = query.selectors;
  const std::optional<SampleWindow> window = window_members(request);
  if (!window) return fail(0, kTextWindowOutOfRange);
  const std::string format = string_member(request, "format", "");
  if (format != "csv" && format != "cff") return fail(0, kTextFormatOutOfRange);

  AnalysisRecord opened;
  if (std::optional<Answer> early = open_analysis_record(asked, selectors, false, typeurl, opened)) {
    return std::move(*early);
  }
  ComTrade_format& record = *opened.record;
  if (select_reached(record, opened.reached) < 1) return fail(0, kTextChannelNotFound);
  const cmtr_cfg_info& cfg = record.cfg();
  const std::int64_t samples = std::max(cfg.samp_count, 0);
  const std::int64_t first = std::min(window->from, samples);
  const std::int64_t last = std::min(window->to, samples);
  if (format == "cff") {
    std::vector<SharedText> parts = cff_slice(record, first, last);
    // A data file that cannot be read is a record without samples to give.
    if (parts.empty()) return fail(2, kTextNoChannels);
    return Answer::file("Content-Type: application/octet-stream\r\nContent-Disposition: " +
                            download_disposition(asked.fileName, first, last, ".cff") + "\r\n",
                        std::move(parts));
  }

  std::string out = "time_us";
  std::vector<std::pair<std::size_t, bool>> columns;
  for (const std::optional<ChannelRef>& channel : opened.reached) {
    if (!channel) continue;
    const bool analog = channel->kind == ChannelKind::kAnalog;
    std::string title = channel_name(cfg, *channel);
    if (analog) title += "[" + trimmed(record.header().analogs[channel->position].unit) + "]";
    out += ',';
    append_csv_field(out, title);
    columns.emplace_back(selected_slot(cfg, *channel), analog);
  }
  out += "\r\n";
  TextPieces text;
  text.append(out);
  CsvLines lines(record, std::move(columns), text);
  // As for the .cff: a data file that cannot be read leaves no file to give,
  // not a header over no samples.
  if (record.loadSamples({SampleWindow{first, last}}, lines) != 0) return fail(2, kTextNoChannels);

  std::string headers = "Content-Type: text/csv; charset=GBK\r\nContent-Disposition: " +
                        download_disposition(asked.fileName, first, last, ".csv") + "\r\n";
  std::vector<SharedText> parts;
  text.move_to(parts);
  return Answer::file(std::move(headers), std::move(parts));
}

void handler_exportRecord(transport::Connection& nc, const transport::Request& hm, const std::string& name) {
  serve_query(nc, hm, name, answer_export_record, Sending{NonFinite::kNull});
}
