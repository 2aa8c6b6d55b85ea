// The record reader cases: framing of the input, the channel selection it
// asks for, and the invariants the readers must keep whatever the files hold.
#include "harness/record_cases.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/channel_store.h"
#include "comtrade_format/comtrade_format.h"
#include "harness/scratch_dir.h"

namespace fuzz_harness {

namespace {

struct CfgVariant {
  int analogs;
  int digitals;
  int samples;
  // An analog and a digital channel share a name: the store keeps the
  // analog text under it.
  bool shared_name;
  // A factor large enough that the value texts outgrow any small buffer.
  bool large_factor;
};

const CfgVariant kVariants[] = {
    {1, 0, 100000, false, false}, {2, 2, 100000, false, false}, {3, 3, 100000, true, true},
    {0, 2, 100000, false, false}, {2, 17, 100000, false, false}, {2, 1, 3, false, false},
};
constexpr int kVariantCount = static_cast<int>(sizeof kVariants / sizeof kVariants[0]);

// A name no record uses, so that requests also name something missing.
constexpr char kMissingName[] = "no-such-channel";

std::string record_base() { return scratch_dir() + "/r"; }

// The reader's documented failures on a number that does not convert.
bool read_cfg(ComTrade_format& record, int& result) {
  try {
    result = record.Get_cmtr_cfg_info();
    return true;
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  return false;
}

std::string c_text(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

bool terminated(const char* field, std::size_t size) {
  return std::memchr(field, '\0', size) != nullptr;
}

std::string check_model(const ComTrade_format& record, bool read_ok, int result) {
  const cmtr_cfg_info& cfg = record.cfg();
  if (!terminated(cfg.station_name, sizeof cfg.station_name) ||
      !terminated(cfg.start_time, sizeof cfg.start_time) ||
      !terminated(cfg.end_time, sizeof cfg.end_time) ||
      !terminated(cfg.file_type, sizeof cfg.file_type)) {
    return "a text field of the model has no terminating zero";
  }
  if (cfg.analogs.size() > static_cast<std::size_t>(std::max(cfg.ai_num, 0)) ||
      cfg.digitals.size() > static_cast<std::size_t>(std::max(cfg.di_num, 0))) {
    return "a channel table holds more entries than its count";
  }
  if (read_ok && result != kCfgReadOk && (cfg.ai_num != 0 || cfg.di_num != 0)) {
    return "a failed read left channel counts in the model";
  }
  const auto check_names = [](const std::vector<std::string>& names, int count,
                              auto name_of) -> std::string {
    if (names.size() > static_cast<std::size_t>(std::max(count, 0))) {
      return "more names listed than the count announces";
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
      const char* stored = name_of(i);
      if (!terminated(stored, kNameField)) return "a channel name has no terminating zero";
      if (names[i].size() > static_cast<std::size_t>(kNameField - 1)) {
        return "a listed name is longer than a channel name may be";
      }
      // A listed name must be one that can be asked for again.
      if (names[i] != stored) {
        return "listed name " + std::to_string(i) + " differs from the model's";
      }
    }
    return std::string();
  };
  std::string failure =
      check_names(AI_VEC, cfg.ai_num, [&](std::size_t i) { return cfg.analogs[i].name; });
  if (failure.empty()) {
    failure = check_names(DI_VEC, cfg.di_num, [&](std::size_t i) { return cfg.digitals[i].name; });
  }
  if (!failure.empty()) return failure;

  const int type = record.Get_file_type();
  // The type word in any letter case, without the blanks, tabs and CR around it.
  std::string type_text = c_text(cfg.file_type, sizeof cfg.file_type);
  type_text.erase(0, std::min(type_text.find_first_not_of(" \t\r"), type_text.size()));
  type_text.erase(type_text.find_last_not_of(" \t\r") + 1);
  for (char& c : type_text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const int expected_type = type_text == "ASCII"      ? kFileTypeAscii
                            : type_text == "BINARY"   ? kFileTypeBinary
                            : type_text == "BINARY32" ? kFileTypeBinary32
                            : type_text == "FLOAT32"  ? kFileTypeFloat32
                                                      : kFileTypeUnknown;
  if (type != expected_type) return "Get_file_type disagrees with the stored type";

  const cmtr_cfg_info copy = record.Get_cfg_info();
  if (copy.ai_num != cfg.ai_num || copy.di_num != cfg.di_num ||
      copy.samp_count != cfg.samp_count ||
      std::memcmp(copy.station_name, cfg.station_name, sizeof cfg.station_name) != 0) {
    return "Get_cfg_info does not copy the model";
  }
  return std::string();
}

std::uint32_t next_random(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// The names a request asks for, from the listed channel names and `seed`:
// all of them, all twice, only a missing one, or a random mix with repeats.
std::vector<std::string> choose_names(std::uint8_t seed) {
  std::vector<std::string> listed(AI_VEC);
  listed.insert(listed.end(), DI_VEC.begin(), DI_VEC.end());
  std::vector<std::string> names;
  switch (seed) {
    case 0:
      return listed;
    case 1:
      names = listed;
      names.insert(names.end(), listed.begin(), listed.end());
      return names;
    case 2:
      return {kMissingName};
    default:
      break;
  }
  std::uint32_t state = 0x9E3779B9u * (seed + 1u);
  for (const std::string& name : listed) {
    if (next_random(state) & 1) names.push_back(name);
  }
  if (!listed.empty() && (next_random(state) & 7) == 0) {
    names.push_back(listed[next_random(state) % listed.size()]);
  }
  if ((next_random(state) & 15) == 0) names.push_back(kMissingName);
  std::reverse(names.begin(), names.end());
  return names;
}

// How many of `names` Select_channels is told about: usually all, sometimes
// fewer or more, since the count is part of its contract.
int name_count(std::uint8_t seed, std::size_t size) {
  if (seed % 13 == 5) return static_cast<int>(size) + 2;
  if (seed % 17 == 3 && size > 0) return static_cast<int>(size) - 1;
  return static_cast<int>(size);
}

std::string check_selection(const cmtr_cfg_info& cfg, const std::set<std::string>& requested) {
  int analogs = 0;
  int digitals = 0;
  for (std::size_t i = 0; i < cfg.analogs.size(); ++i) {
    const analog_info& analog = cfg.analogs[i];
    if (analog.sel_pos <= 0) continue;
    ++analogs;
    if (requested.count(analog.name) == 0) return "an analog channel nobody asked for is selected";
    if (static_cast<std::size_t>(analog.sel_pos) > cfg.sel_list.size() ||
        cfg.sel_list[analog.sel_pos - 1] != static_cast<std::int32_t>(i + 1)) {
      return "an analog sel_pos does not point back at its channel";
    }
  }
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    const digital_info& digital = cfg.digitals[j];
    if (digital.sel_pos <= 0) continue;
    ++digitals;
    if (requested.count(digital.name) == 0) return "a digital channel nobody asked for is selected";
    if (static_cast<std::size_t>(digital.sel_pos) > cfg.sel_list.size() ||
        cfg.sel_list[digital.sel_pos - 1] != static_cast<std::int32_t>(kDigitalSelBase + j)) {
      return "a digital sel_pos does not point back at its channel";
    }
  }
  if (analogs != cfg.sel_ai_num || digitals != cfg.sel_di_num) {
    return "sel_ai_num/sel_di_num disagree with the marked channels";
  }
  return std::string();
}

// Sample lines of an ASCII .dat: every line but the empty or padding ones
// (blanks, CR and 0x1A only), the last one also without its line end.
long long sample_lines(const std::string& dat) {
  long long lines = 0;
  std::size_t start = 0;
  while (start < dat.size()) {
    std::size_t end = dat.find('\n', start);
    if (end == std::string::npos) end = dat.size();
    const bool padding = dat.find_first_not_of(std::string(" \t\r\x1A"), start) >= end;
    if (!padding) ++lines;
    start = end + 1;
  }
  return lines;
}

std::vector<std::string_view> split_values(std::string_view text) {
  std::vector<std::string_view> values;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    values.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) return values;
    start = comma + 1;
  }
}

// What "%.4f" can print.
bool is_fixed4(std::string_view value) {
  if (value == "inf" || value == "-inf" || value == "nan" || value == "-nan") return true;
  if (!value.empty() && value.front() == '-') value.remove_prefix(1);
  const std::size_t point = value.find('.');
  if (point == std::string_view::npos || point == 0 || value.size() - point != 5) return false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (i != point && (value[i] < '0' || value[i] > '9')) return false;
  }
  return true;
}

struct Owner {
  bool analog;
  int position;
};

// `sample_bytes`: the width of a binary analog sample, 2 or 4.
std::string check_store(const cmtr_cfg_info& cfg, bool binary, long long sample_bytes, const std::string& dat) {
  // The channel whose text a name holds: the first selected analog channel
  // of that name, else the first selected digital one.
  std::map<std::string, Owner> owners;
  const int digital_count = std::max<int>(cfg.di_num, 0);
  for (std::size_t i = 0; i < cfg.analogs.size(); ++i) {
    if (cfg.analogs[i].sel_pos > 0) owners.emplace(cfg.analogs[i].name, Owner{true, static_cast<int>(i)});
  }
  for (std::size_t j = 0; j < cfg.digitals.size(); ++j) {
    if (cfg.digitals[j].sel_pos > 0) owners.emplace(cfg.digitals[j].name, Owner{false, static_cast<int>(j)});
  }
  for (const auto& entry : CHAN_DATA_MAP) {
    if (owners.count(entry.first) == 0) return "the store holds a channel that is not selected";
  }
  if (!CHAN_DATA_MAP.empty() && CHAN_DATA_MAP.size() != owners.size()) {
    return "the store holds some selected channels but not all";
  }

  long long expected = 0;  // values every channel of the store must hold
  const int status_words = cfg.di_num / 16 + (cfg.di_num % 16 != 0 ? 1 : 0);
  const long long record_bytes = 8 + sample_bytes * cfg.ai_num + 2LL * status_words;
  // Only a negative count of the other kind can put a channel's bytes outside
  // the binary record; such a channel has no values to show.
  const auto outside_record = [&](const Owner& owner) {
    const long long first = owner.analog ? 8 + sample_bytes * owner.position
                                         : 8 + sample_bytes * cfg.ai_num + owner.position / 8;
    const long long last = owner.analog ? first + sample_bytes : first + 1;
    return first < 0 || last > record_bytes;
  };
  if (!binary) {
    expected = cfg.samp_count > 0 ? std::min<long long>(cfg.samp_count, sample_lines(dat)) : 0;
    if (expected > 0 && !owners.empty() && CHAN_DATA_MAP.empty()) {
      return "sample lines were there but the store is empty";
    }
    if (expected == 0 && !CHAN_DATA_MAP.empty()) {
      return "no sample line was there but the store holds values";
    }
  } else {
    expected = record_bytes >= 1 && cfg.samp_count > 0
                   ? std::min<long long>(cfg.samp_count,
                                         static_cast<long long>(dat.size()) / record_bytes)
                   : 0;
    const bool any_inside = std::any_of(owners.begin(), owners.end(), [&](const auto& entry) {
      return !outside_record(entry.second);
    });
    if (expected > 0 && any_inside && CHAN_DATA_MAP.empty()) {
      return "whole records were there but the store is empty";
    }
    if (expected == 0 && !CHAN_DATA_MAP.empty()) {
      return "no whole record was there but the store holds values";
    }
  }

  long long common = -1;
  std::string common_name;
  for (const auto& entry : CHAN_DATA_MAP) {
    const Owner owner = owners.at(entry.first);
    if (binary && outside_record(owner)) {
      if (!entry.second.empty()) return "channel '" + entry.first + "' outside the record has values";
      continue;
    }
    const std::vector<std::string_view> values = split_values(entry.second);
    for (std::string_view value : values) {
      if (owner.analog && !is_fixed4(value)) {
        return "analog channel '" + entry.first + "' holds a value that is no %.4f text";
      }
      if (!owner.analog && binary && value != "0" && value != "1") {
        return "binary digital channel '" + entry.first + "' holds a value other than 0 or 1";
      }
    }
    const long long count = static_cast<long long>(values.size());
    // The last digital field of an ASCII line is the rest of the line, commas
    // and all, so only its lower bound is known.
    if (!binary && !owner.analog && owner.position == digital_count - 1) {
      if (count < expected) return "the last digital channel holds too few values";
      continue;
    }
    if (common < 0) {
      common = count;
      common_name = entry.first;
    } else if (count != common) {
      return "channels '" + common_name + "' and '" + entry.first +
             "' hold different numbers of values";
    }
  }
  if (common >= 0 && common != expected) {
    return "channels hold " + std::to_string(common) + " values, expected " +
           std::to_string(expected);
  }
  return std::string();
}

std::string run_data_case(const std::uint8_t* data, std::size_t size, bool binary) {
  if (size < 2) return std::string();
  const std::uint8_t mode = data[0];
  const std::uint8_t seed = data[1];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string cfg;
  std::string dat;
  if ((mode & 1) == 0) {
    cfg = builtin_cfg(mode / 2, binary);
    dat = std::string(rest);
  } else {
    const std::size_t separator = rest.find(kRecordSeparator);
    cfg = std::string(rest.substr(0, separator));
    if (separator != std::string_view::npos) {
      dat = std::string(rest.substr(separator + sizeof kRecordSeparator - 1));
    }
  }
  const std::string base = record_base();
  if (!write_file(base + ".cfg", cfg) || !write_file(base + ".dat", dat)) {
    return "cannot write the record files";
  }

  ComTrade_format record(base);
  int result = kCfgReadFailed;
  if (!read_cfg(record, result) || result != kCfgReadOk) return std::string();

  const std::vector<std::string> names = choose_names(seed);
  const int count = name_count(seed, names.size());
  const int entries = record.Select_channels(names, count);
  const std::set<std::string> requested(
      names.begin(), names.begin() + std::clamp<int>(count, 0, static_cast<int>(names.size())));
  const cmtr_cfg_info& model = record.cfg();
  if (entries != model.sel_ai_num + model.sel_di_num) {
    return "Select_channels returned a count other than its entries";
  }
  std::string failure = check_selection(model, requested);
  if (!failure.empty()) return failure;

  if (binary) {
    record.loadBinaryData();
  } else {
    record.loadAsciiData();
  }
  const int type = record.Get_file_type();
  return check_store(model, binary, type == kFileTypeBinary32 || type == kFileTypeFloat32 ? 4 : 2, dat);
}

}  // namespace

std::string run_cfg_case(const std::uint8_t* data, std::size_t size) {
  const std::string base = record_base();
  if (!write_file(base + ".cfg", data, size)) return "cannot write the .cfg";
  ComTrade_format record(base);
  int result = kCfgReadFailed;
  const bool read_ok = read_cfg(record, result);
  if (read_ok && result != kCfgReadOk && result != kCfgReadFailed) {
    return "Get_cmtr_cfg_info returned " + std::to_string(result);
  }
  return check_model(record, read_ok, result);
}

std::string run_ascii_case(const std::uint8_t* data, std::size_t size) {
  return run_data_case(data, size, false);
}

std::string run_binary_case(const std::uint8_t* data, std::size_t size) {
  return run_data_case(data, size, true);
}

int builtin_cfg_count() { return kVariantCount; }

std::string builtin_cfg(int variant, bool binary) {
  const CfgVariant& v = kVariants[((variant % kVariantCount) + kVariantCount) % kVariantCount];
  std::string cfg = "Fuzz station,R1,1999\n";
  cfg += std::to_string(v.analogs + v.digitals) + "," + std::to_string(v.analogs) + "A," +
         std::to_string(v.digitals) + "D\n";
  for (int i = 1; i <= v.analogs; ++i) {
    const char* factor = v.large_factor && i == v.analogs ? "1e10" : "0.5";
    cfg += std::to_string(i) + ",U" + std::to_string(i) + ",A,,kV," + factor +
           ",-1,0,-32768,32767,1,1,S\n";
  }
  for (int j = 1; j <= v.digitals; ++j) {
    const std::string name = v.shared_name && j == 1 ? "U1" : "D" + std::to_string(j);
    cfg += std::to_string(j) + "," + name + ",,," + (j % 2 ? "0" : "1") + "\n";
  }
  cfg += "50\n1\n1000," + std::to_string(v.samples) + "\n";
  cfg += "01/01/2020,00:00:00.000000\n01/01/2020,00:00:00.001000\n";
  // Past the first round of shapes, the binary ones come in the 32-bit
  // formats too.
  static const char* const kBinaryTypes[] = {"BINARY\n", "BINARY32\n", "FLOAT32\n"};
  cfg += binary ? kBinaryTypes[((variant / kVariantCount) % 3 + 3) % 3] : "ASCII\n";
  cfg += "1\n";
  return cfg;
}

}  // namespace fuzz_harness
