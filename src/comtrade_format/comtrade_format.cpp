// The record object itself: construction, the model copy and the channel
// selection. The readers live in their own files.
#include "comtrade_format/comtrade_format.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string_view>
#include <unordered_set>
#include <utility>

std::vector<std::string> AI_VEC;
std::vector<std::string> DI_VEC;

ComTrade_format::ComTrade_format(std::string fileName) : m_fileName(std::move(fileName)) {
  std::cout << "m_fileName: " << m_fileName << '\n';
  std::memset(&m_cfg_info, 0, sizeof m_cfg_info);
}

cmtr_cfg_info ComTrade_format::Get_cfg_info() const { return m_cfg_info; }

int ComTrade_format::Select_channels(const std::vector<std::string>& names, int n) {
  // A set instead of the name-by-name loop: a request may name all 1024
  // channels, and matching each channel once is also what keeps a repeated
  // name from entering its channel twice.
  std::unordered_set<std::string_view> wanted;
  const std::size_t count = n > 0 ? std::min(static_cast<std::size_t>(n), names.size()) : 0;
  for (std::size_t k = 0; k < count; ++k) wanted.insert(names[k]);

  // Each object is selected once, but a stale sel_pos would make a reader
  // look for a channel that is no longer in sel_list.
  std::memset(m_cfg_info.sel_list, 0, sizeof m_cfg_info.sel_list);
  for (auto& analog : m_cfg_info.analogs) analog.sel_pos = 0;
  for (auto& digital : m_cfg_info.digitals) digital.sel_pos = 0;

  int next = 0;
  int analog_count = 0;
  int digital_count = 0;
  for (int j = 0; j < m_cfg_info.ai_num && next < kMaxSelections; ++j) {
    if (wanted.count(m_cfg_info.analogs[j].name) == 0) continue;
    m_cfg_info.sel_list[next++] = j + 1;
    m_cfg_info.analogs[j].sel_pos = next;
    ++analog_count;
  }
  for (int j = 0; j < m_cfg_info.di_num && next < kMaxSelections; ++j) {
    if (wanted.count(m_cfg_info.digitals[j].name) == 0) continue;
    m_cfg_info.sel_list[next++] = kDigitalSelBase + j;
    m_cfg_info.digitals[j].sel_pos = next;
    ++digital_count;
  }
  m_cfg_info.sel_ai_num = analog_count;
  m_cfg_info.sel_di_num = digital_count;
  return analog_count + digital_count;
}

bool ComTrade_format::Any_digital_selected(int first) const {
  const int entries = m_cfg_info.sel_ai_num + m_cfg_info.sel_di_num;
  for (int i = 0; i < 8; ++i) {
    for (int k = 0; k < entries && k < kMaxSelections; ++k) {
      const int entry = m_cfg_info.sel_list[k];
      if (entry > 10000 && entry == 10000 + first + i) return true;
    }
  }
  return false;
}
