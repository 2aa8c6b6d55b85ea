// Sizing the working lists and handing their texts over.
#include "comtrade_format/working_lists.h"

#include <algorithm>
#include <string>
#include <utility>

#include "comtrade_format/channel_store.h"
#include "comtrade_format/sample_texts.h"
#include "platform/platform.h"

namespace comtrade_detail {

std::uint64_t bytes_after(const DataSection& section) {
  const std::uint64_t size = platform::file_size(section.path).value_or(0);
  return size > section.offset ? size - section.offset : 0;
}

void prepare_working_lists(const cmtr_cfg_info& cfg, std::int64_t samples,
                           std::vector<TextWriter>& analogs, std::vector<TextWriter>& digitals) {
  const std::size_t count = static_cast<std::size_t>(std::max<std::int64_t>(samples, 0));
  AI_DATA_VEC.assign(static_cast<std::size_t>(cfg.sel_ai_num), std::string());
  DI_DATA_VEC.assign(static_cast<std::size_t>(cfg.sel_di_num), std::string());
  analogs.assign(AI_DATA_VEC.size(), TextWriter());
  digitals.assign(DI_DATA_VEC.size(), TextWriter());
  for (int k = 0; k < cfg.sel_ai_num; ++k) {
    const analog_info& analog = cfg.analogs[cfg.sel_list[k] - 1];
    analogs[k].open(AI_DATA_VEC[k], count * analog_value_bytes(analog));
  }
  // A status is one character and its comma.
  for (std::size_t k = 0; k < digitals.size(); ++k) digitals[k].open(DI_DATA_VEC[k], count * 2);
}

void hand_over_texts(const cmtr_cfg_info& cfg, std::int64_t samples_read) {
  if (samples_read <= 0) {
    AI_DATA_VEC.clear();
    DI_DATA_VEC.clear();
    return;
  }
  const int analog_count = std::min<int>(cfg.sel_ai_num, static_cast<int>(AI_DATA_VEC.size()));
  for (int k = 0; k < analog_count; ++k) {
    const analog_info& analog = cfg.analogs[cfg.sel_list[k] - 1];
    CHAN_DATA_MAP.try_emplace(analog.name, std::move(AI_DATA_VEC[k]));
  }
  const int digital_count = std::min<int>(cfg.sel_di_num, static_cast<int>(DI_DATA_VEC.size()));
  for (int k = 0; k < digital_count; ++k) {
    const digital_info& digital = cfg.digitals[cfg.sel_list[cfg.sel_ai_num + k] - kDigitalSelBase];
    CHAN_DATA_MAP.try_emplace(digital.name, std::move(DI_DATA_VEC[k]));
  }
}

}  // namespace comtrade_detail
