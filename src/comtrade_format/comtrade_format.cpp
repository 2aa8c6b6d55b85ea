// The record object itself: construction, the model copy and the channel
// selection. The readers live in their own files.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "comtrade_format/ascii_buckets.h"
#include "comtrade_format/binary_buckets.h"
#include "comtrade_format/slice_data.h"
#include "comtrade_format/window_samples.h"
#include "platform/platform.h"

std::vector<std::string> AI_VEC;
std::vector<std::string> DI_VEC;

ComTrade_format::ComTrade_format(std::string fileName) : m_fileName(std::move(fileName)) {
  std::cout << "m_fileName: " << m_fileName << '\n';
}

cmtr_cfg_info ComTrade_format::Get_cfg_info() const { return m_cfg_info; }

int ComTrade_format::Select_channels(const std::vector<std::string>& names, int n) {
  // A set instead of the name-by-name loop: a request may name every channel
  // of a record of thousands, and matching each channel once is also what
  // keeps a repeated name from entering its channel twice.
  std::unordered_set<std::string_view> wanted;
  const std::size_t count = n > 0 ? std::min(static_cast<std::size_t>(n), names.size()) : 0;
  for (std::size_t k = 0; k < count; ++k) wanted.insert(names[k]);
  std::vector<bool> analogs(m_cfg_info.analogs.size());
  std::vector<bool> digitals(m_cfg_info.digitals.size());
  for (std::size_t j = 0; j < analogs.size(); ++j) {
    analogs[j] = wanted.count(m_cfg_info.analogs[j].name) > 0;
  }
  for (std::size_t j = 0; j < digitals.size(); ++j) {
    digitals[j] = wanted.count(m_cfg_info.digitals[j].name) > 0;
  }
  return Select_positions(analogs, digitals);
}

int ComTrade_format::Select_positions(const std::vector<bool>& analogs, const std::vector<bool>& digitals) {
  // Each object is selected once, but a stale sel_pos would make a reader
  // look for a channel that is no longer in sel_list.
  m_cfg_info.sel_list.clear();
  for (auto& analog : m_cfg_info.analogs) analog.sel_pos = 0;
  for (auto& digital : m_cfg_info.digitals) digital.sel_pos = 0;

  // The tables hold the channel lines read, never more than the counts.
  int analog_count = 0;
  int digital_count = 0;
  for (std::size_t j = 0; j < m_cfg_info.analogs.size() && j < analogs.size(); ++j) {
    if (!analogs[j]) continue;
    m_cfg_info.sel_list.push_back(static_cast<int32_t>(j + 1));
    m_cfg_info.analogs[j].sel_pos = static_cast<int32_t>(m_cfg_info.sel_list.size());
    ++analog_count;
  }
  for (std::size_t j = 0; j < m_cfg_info.digitals.size() && j < digitals.size(); ++j) {
    if (!digitals[j]) continue;
    m_cfg_info.sel_list.push_back(static_cast<int32_t>(kDigitalSelBase + j));
    m_cfg_info.digitals[j].sel_pos = static_cast<int32_t>(m_cfg_info.sel_list.size());
    ++digital_count;
  }
  m_cfg_info.sel_ai_num = analog_count;
  m_cfg_info.sel_di_num = digital_count;
  return analog_count + digital_count;
}

bool ComTrade_format::Any_digital_selected(int first) const {
  for (int i = 0; i < 8; ++i) {
    for (const int32_t entry : m_cfg_info.sel_list) {
      if (entry > 10000 && static_cast<std::int64_t>(entry) == 10000LL + first + i) return true;
    }
  }
  return false;
}

DataSection ComTrade_format::data_section() const {
  if (!m_data.shown_path.empty()) return m_data;
  DataSection dat;
  dat.shown_path = m_fileName + ".dat";
  dat.path = platform::resolve_case_insensitive(dat.shown_path);
  return dat;
}

int ComTrade_format::loadBuckets(const SampleWindow& window, std::int64_t step, Buckets& out) {
  const int type = comtrade_detail::file_type_code(m_cfg_info.file_type);
  if (type == kFileTypeAscii) {
    return comtrade_detail::load_ascii_buckets(m_cfg_info, data_section(), window, step, out);
  }
  if (type == kFileTypeUnknown) {
    out = Buckets();
    out.channels.resize(m_cfg_info.sel_list.size());
    return 1;
  }
  return comtrade_detail::load_binary_buckets(m_cfg_info, type, data_section(), window, step, out);
}

int ComTrade_format::loadSamples(const std::vector<SampleWindow>& windows, SampleSink& sink) {
  const int type = comtrade_detail::file_type_code(m_cfg_info.file_type);
  if (type == kFileTypeAscii) return comtrade_detail::load_ascii_samples(m_cfg_info, data_section(), windows, sink);
  if (type == kFileTypeUnknown) return 1;
  return comtrade_detail::load_binary_samples(m_cfg_info, type, data_section(), windows, sink);
}

std::int64_t ComTrade_format::writeSliceData(const SampleWindow& window, std::string& out) {
  const int type = comtrade_detail::file_type_code(m_cfg_info.file_type);
  if (type == kFileTypeAscii) return comtrade_detail::write_ascii_slice(m_cfg_info, data_section(), window, out);
  if (type == kFileTypeUnknown) return -1;
  return comtrade_detail::write_binary_slice(m_cfg_info, type, data_section(), window, out);
}

int ComTrade_format::loadStatusChanges(const SampleWindow& window, SampleSink& sink) {
  const int type = comtrade_detail::file_type_code(m_cfg_info.file_type);
  if (type == kFileTypeAscii) return comtrade_detail::load_ascii_changes(m_cfg_info, data_section(), window, sink);
  if (type == kFileTypeUnknown) return 1;
  return comtrade_detail::load_binary_changes(m_cfg_info, type, data_section(), window, sink);
}
