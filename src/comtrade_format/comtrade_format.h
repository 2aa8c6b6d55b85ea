// One COMTRADE record (a .cfg and a .dat sharing a path) while a request uses
// it, and the process-wide channel name lists of the .cfg read last.
#ifndef COMTRADE_FORMAT_COMTRADE_FORMAT_H_
#define COMTRADE_FORMAT_COMTRADE_FORMAT_H_

#include <string>
#include <vector>

#include "comtrade_format/cfg_info.h"

// Channel names of the .cfg read last, in line order. They outlive every
// ComTrade_format object; Get_cmtr_cfg_info empties and refills them. Safe
// without a lock only because each request runs to its end on the single
// I/O thread.
extern std::vector<std::string> AI_VEC;
extern std::vector<std::string> DI_VEC;

// Results of Get_cmtr_cfg_info and Get_file_type.
constexpr int kCfgReadOk = 0;
constexpr int kCfgReadFailed = 1;
constexpr int kFileTypeAscii = 0;
constexpr int kFileTypeBinary = 1;
constexpr int kFileTypeUnknown = -1;

class ComTrade_format {
 public:
  // `fileName` is the record path without extension. Prints
  // "m_fileName: <path>" and zeroes the model; reads no file.
  explicit ComTrade_format(std::string fileName);

  // Reads "<fileName>.cfg" into the model, AI_VEC and DI_VEC. Returns 0 when
  // the file was opened and its first line read, 1 otherwise (also for a
  // count above 512). A number that does not convert throws
  // std::invalid_argument or std::out_of_range; the dispatcher catches it.
  int Get_cmtr_cfg_info();
  // 0 for "ASCII"/"ascii", 1 for "BINARY"/"binary", -1 otherwise.
  int Get_file_type() const;
  // A copy of the whole model.
  cmtr_cfg_info Get_cfg_info() const;
  // Marks the channels whose names are among the first `n` of `names`; each
  // channel is entered in sel_list once however often it is named. Returns
  // the number of entries made.
  int Select_channels(const std::vector<std::string>& names, int n);
  // Whether any digital channel numbered `first`..`first`+7 (1-based) is
  // entered in sel_list.
  bool Any_digital_selected(int first) const;

  // Read "<fileName>.dat" and leave one value text per selected channel in
  // CHAN_DATA_MAP (channel_store.h). Return 0 when the file was read, 1 when
  // it cannot be opened or there is nothing to read. Never throw on bad data.
  int loadAsciiData();
  int loadBinaryData();

  // The model itself, without the copy Get_cfg_info makes (tests read it).
  const cmtr_cfg_info& cfg() const { return m_cfg_info; }

 private:
  cmtr_cfg_info m_cfg_info;
  std::string m_fileName;
};

#endif  // COMTRADE_FORMAT_COMTRADE_FORMAT_H_
