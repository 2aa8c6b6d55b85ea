// Writing a slice of a record as a combined file.
#include "extensions/cff_slice.h"

#include <algorithm>

#include "extensions/json_text.h"
#include "extensions/time_axis.h"

namespace {

constexpr char kEol[] = "\r\n";

// The line with its first field, the channel number, replaced.
std::string renumbered(const std::string& line, std::size_t number) {
  const std::size_t comma = line.find(',');
  return std::to_string(number) + (comma == std::string::npos ? std::string(",") : line.substr(comma));
}

std::string number_text(double value) {
  std::string text;
  append_number(text, value);
  return text == "null" ? "" : text;
}

// A time stamp in the 2013 form, read in the source's order, to the digit
// it was written with; as written when it is not wholly a time stamp.
std::string day_first(const std::string& text, bool month_first, double moved_us) {
  const std::optional<Stamp> stamp = read_stamp(text, month_first);
  return stamp ? format_stamp(*stamp, moved_us) : text;
}

std::string slice_cfg(const ComTrade_format& record, std::int64_t from, std::int64_t to) {
  const cmtr_cfg_info& cfg = record.cfg();
  const RecordHeader& header = record.header();
  std::string out = header.station + "," + header.device + ",2013" + kEol;
  std::string channels;
  std::size_t analogs = 0;
  std::size_t digitals = 0;
  for (std::size_t i = 0; i < cfg.analogs.size(); ++i) {
    if (cfg.analogs[i].sel_pos > 0) channels += renumbered(header.analogs[i].line, ++analogs) + kEol;
  }
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    if (cfg.digitals[j].sel_pos > 0) channels += renumbered(header.digitals[j].line, ++digitals) + kEol;
  }
  out += std::to_string(analogs + digitals) + "," + std::to_string(analogs) + "A," + std::to_string(digitals) +
         "D" + kEol + channels;
  out += (header.frequency ? number_text(*header.frequency) : std::string()) + kEol;
  // Segment i holds the samples numbered up to its last one: those that
  // meet the window are kept, their last numbers counted from its start.
  double moved_us = 0;
  if (rates_give_time(header.rates)) {
    std::string rates;
    std::size_t kept = 0;
    std::int64_t start = 0;
    double rate_at_from = 0;
    for (std::size_t i = 0; i < header.rates.size(); ++i) {
      const bool last_segment = i + 1 == header.rates.size() || !header.rates[i].last;
      const std::int64_t end = last_segment ? to : std::max(start, *header.rates[i].last);
      if (rate_at_from == 0 && (end > from || last_segment)) rate_at_from = *header.rates[i].rate;
      if (end > from && start < to) {
        rates += number_text(*header.rates[i].rate) + "," + std::to_string(std::min(end, to) - from) + kEol;
        ++kept;
      }
      if (last_segment) break;
      start = end;
    }
    // A window without samples still gives its rate: a count of no rates
    // must be followed by a line of its own, and readers would take the
    // start time for it.
    if (kept == 0) {
      rates = number_text(rate_at_from) + ",0" + kEol;
      kept = 1;
    }
    out += std::to_string(kept) + kEol + rates;
    moved_us = sample_offset_us(header.rates, from).value_or(0);
  } else {
    out += std::string("0") + kEol + "0," + std::to_string(to - from) + kEol;
  }
  const bool month_first = stamps_month_first(header);
  out += day_first(cfg.start_time, month_first, moved_us) + kEol;
  out += day_first(cfg.end_time, month_first, 0) + kEol;
  out += header.file_type + kEol;
  out += number_text(header.time_multiplier) + kEol;
  // The 2013 time code and leap second lines: local time, quality unknown.
  out += std::string("0,0") + kEol + "0,0" + kEol;
  return out;
}

}  // namespace

std::vector<SharedText> cff_slice(ComTrade_format& record, std::int64_t from, std::int64_t to) {
  auto data = std::make_shared<std::string>();
  const std::int64_t written = record.writeSliceData(SampleWindow{from, to}, *data);
  if (written < 0) return {};
  std::string head = std::string("--- file type: CFG ---") + kEol + slice_cfg(record, from, from + written);
  std::string type = record.header().file_type;
  std::transform(type.begin(), type.end(), type.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  head += std::string("--- file type: INF ---") + kEol + "--- file type: HDR ---" + kEol + "--- file type: DAT " +
          type + ": " + std::to_string(data->size()) + " ---" + kEol;
  std::vector<SharedText> parts;
  parts.push_back(std::make_shared<const std::string>(std::move(head)));
  parts.push_back(std::move(data));
  return parts;
}
