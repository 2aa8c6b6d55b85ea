// What the analysis queries share once their members are checked: the
// record opened with every channel field, its line frequency, and the
// channels their selectors reach.
#ifndef EXTENSIONS_ANALYSIS_RECORD_H_
#define EXTENSIONS_ANALYSIS_RECORD_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "comtrade_format/comtrade_format.h"
#include "extensions/channel_selectors.h"
#include "restfulserver/answer.h"

// The errorinfo of a record without a usable line frequency.
extern const char kTextNoLineFrequency[];  // "no line frequency"

struct AnalysisRecord {
  std::unique_ptr<ComTrade_format> record;
  double frequency = 0;
  // The channel each selector reaches, in request order (nullopt: none).
  std::vector<std::optional<ChannelRef>> reached;
};

// Reads the record root and the record `asked` names, with every channel
// line's fields, its line frequency when `needs_frequency`, and where
// `selectors` reach. Returns the answer to give instead when any of them
// fails (no reply when the root is not set, result 2 without channels,
// result 0 without a line frequency); the caller checks what was reached.
std::optional<Answer> open_analysis_record(const ChannelRequest& asked, const std::vector<ChannelSelector>& selectors,
                                           bool needs_frequency, const std::string& typeurl, AnalysisRecord& out);

// The channel object members every analysis answer opens with: "index",
// "kind" and "name".
Json::Value channel_object(const cmtr_cfg_info& cfg, const ChannelRef& channel);

// The skew of analog channel `position`, in seconds (0 when the line gives
// none).
double skew_seconds(const ComTrade_format& record, std::size_t position);

#endif  // EXTENSIONS_ANALYSIS_RECORD_H_
