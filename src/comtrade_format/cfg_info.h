// The record model: fixed-size plain data filled by the configuration reader,
// zeroed with one fill and copied as one block.
#ifndef COMTRADE_FORMAT_CFG_INFO_H_
#define COMTRADE_FORMAT_CFG_INFO_H_

#include <cstdint>

// Most channels of each kind a record may have; a .cfg announcing more is
// treated as unreadable.
constexpr int kMaxChannels = 512;
// Selections a request can make: every analog and every digital channel once.
constexpr int kMaxSelections = 1024;
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

struct cmtr_cfg_info {
  char station_name[kTextField];
  // Wide enough for the 512-entry tables (the original 8-bit counts capped
  // records at 127 channels of a kind).
  int16_t ai_num;
  int16_t di_num;
  analog_info analogs[kMaxChannels];
  digital_info digitals[kMaxChannels];
  int32_t samp_count;
  char start_time[kTextField];
  char end_time[kTextField];
  char file_type[kTextField];
  int32_t sel_list[kMaxSelections];
  int32_t sel_ai_num;
  int32_t sel_di_num;
};

#endif  // COMTRADE_FORMAT_CFG_INFO_H_
