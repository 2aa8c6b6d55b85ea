// The record model: what the configuration reader stores of a .cfg and the
// channel selection of one request.
#ifndef COMTRADE_FORMAT_CFG_INFO_H_
#define COMTRADE_FORMAT_CFG_INFO_H_

#include <cstdint>
#include <vector>

// Bytes of the station, time stamp and file type fields (63 characters + NUL).
constexpr int kTextField = 64;
// Bytes of a channel name field: the longest ch_id of the 2013 standard (128
// characters) and its NUL. Longer names are cut to 128 characters here, in
// AI_VEC/DI_VEC and in the channel-data store alike, so every listed name can
// be requested back.
constexpr int kNameField = 129;
// Base added to a digital channel's 0-based position in `sel_list`.
constexpr int kDigitalSelBase = 10001;

struct analog_info {
  int32_t index;          // An, field 1
  char name[kNameField];  // ch_id, field 2
  double factor_a;        // field 6
  double factor_b;        // field 7
  double smp_min;         // field 9, scaled
  double smp_max;         // field 10, scaled
  int32_t sel_pos;        // 1-based position in sel_list, 0 when not selected
};

struct digital_info {
  int32_t index;          // Dn, field 1
  char name[kNameField];  // ch_id, field 2
  char state;             // last character of the channel line
  int32_t sel_pos;        // 1-based position in sel_list, 0 when not selected
};

// The channel tables hold one entry per channel line actually read, so their
// size follows the file, never the counts of line 2 alone: a .cfg announcing
// two billion channels with three channel lines costs three entries. Channel
// positions below ai_num/di_num but past the tables had no line in the file.
struct cmtr_cfg_info {
  char station_name[kTextField] = {};
  // As read from line 2. They still fix the layout of the data file (field
  // positions, record size) even where the tables hold fewer entries.
  int32_t ai_num = 0;
  int32_t di_num = 0;
  std::vector<analog_info> analogs;
  std::vector<digital_info> digitals;
  int32_t samp_count = 0;
  char start_time[kTextField] = {};
  char end_time[kTextField] = {};
  char file_type[kTextField] = {};
  // Every selected channel once, analog entries first, in channel order.
  std::vector<int32_t> sel_list;
  int32_t sel_ai_num = 0;
  int32_t sel_di_num = 0;
};

#endif  // COMTRADE_FORMAT_CFG_INFO_H_
