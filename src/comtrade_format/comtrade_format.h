// One COMTRADE record (a .cfg and a .dat sharing a path, or one .cff) while a
// request uses it, and the process-wide channel name lists of the .cfg read
// last.
#ifndef COMTRADE_FORMAT_COMTRADE_FORMAT_H_
#define COMTRADE_FORMAT_COMTRADE_FORMAT_H_

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "comtrade_format/cfg_info.h"
#include "comtrade_format/data_section.h"
#include "comtrade_format/file_types.h"
#include "comtrade_format/record_header.h"
#include "comtrade_format/sample_sink.h"
#include "comtrade_format/sample_window.h"

// Channel names of the .cfg read last, in line order. They outlive every
// ComTrade_format object; Get_cmtr_cfg_info empties and refills them. Safe
// without a lock only because each request runs to its end on the single
// I/O thread.
extern std::vector<std::string> AI_VEC;
extern std::vector<std::string> DI_VEC;

// Results of Get_cmtr_cfg_info; those of Get_file_type are in file_types.h.
constexpr int kCfgReadOk = 0;
constexpr int kCfgReadFailed = 1;

class ComTrade_format {
 public:
  // `fileName` is the record path without extension. Prints
  // "m_fileName: <path>" and clears the model; reads no file.
  explicit ComTrade_format(std::string fileName);

  // Reads "<fileName>.cfg" into the model, AI_VEC and DI_VEC; when there is
  // no such file, the CFG section of "<fileName>.cff". Returns 0 when the
  // file was opened and its first line read, 1 otherwise. A number that does
  // not convert throws std::invalid_argument or std::out_of_range; the
  // dispatcher catches it.
  int Get_cmtr_cfg_info();
  // The data file type, its letter case and the blanks around it ignored: 0
  // ASCII, 1 BINARY, 2 BINARY32, 3 FLOAT32, -1 (with "Get_file_type error!!"
  // on standard output) otherwise.
  int Get_file_type() const;
  // A copy of the whole model.
  cmtr_cfg_info Get_cfg_info() const;
  // Marks the channels whose names are among the first `n` of `names`; each
  // channel is entered in sel_list once however often it is named. Returns
  // the number of entries made.
  int Select_channels(const std::vector<std::string>& names, int n);
  // Marks the analog channels j with analogs[j] and the digital ones with
  // digitals[j] (0-based positions; shorter lists leave the rest unmarked),
  // in the order Select_channels enters them. Returns the number of entries.
  int Select_positions(const std::vector<bool>& analogs, const std::vector<bool>& digitals);
  // Whether any digital channel numbered `first`..`first`+7 (1-based) is
  // entered in sel_list.
  bool Any_digital_selected(int first) const;

  // Read the record's data and leave one value text per selected channel in
  // CHAN_DATA_MAP (channel_store.h). loadBinaryData reads all three binary
  // types. Return 0 when the file was read, 1 when it cannot be opened or
  // there is nothing to read. Never throw on bad data.
  int loadAsciiData();
  int loadBinaryData();

  // Reduces `window` of the selected channels to buckets of `step` samples
  // (step >= 1) into `out`, reading the data of any file type; binary files
  // are read over the window only. Returns 0 when the data was read, 1 when
  // it cannot be opened or the file type is unknown. Prints nothing.
  int loadBuckets(const SampleWindow& window, std::int64_t step, Buckets& out);

  // Hands the scaled samples of the selected channels over `windows` (in
  // rising order, not overlapping) to `sink`, a run at a time; binary files
  // are read over the windows only. Returns 0 when the data was read, 1 when
  // it cannot be opened or the file type is unknown. Prints nothing.
  int loadSamples(const std::vector<SampleWindow>& windows, SampleSink& sink);
  // The same over one window for a sink that looks only at status channels
  // and at when they change: it is handed at least every sample whose
  // selected status values differ from the sample before, and the first
  // (binary files: those only, found on the raw status bits; ASCII files:
  // the lines whose status fields differ in text from the line before).
  int loadStatusChanges(const SampleWindow& window, SampleSink& sink);

  // Appends to `out` the data section of a slice: the samples of `window`
  // and of the selected channels (analog ones first, each kind in record
  // order), renumbered from 1 with their time stamps kept, ASCII fields as
  // written and binary samples as their raw bytes. Returns the samples
  // written, or -1 when the data cannot be opened or its type is unknown.
  std::int64_t writeSliceData(const SampleWindow& window, std::string& out);

  // Whether Get_cmtr_cfg_info also keeps each channel line's further fields
  // in header().analogs and header().digitals. Off unless asked for: only the
  // full record header shows them, and every other query would pay for their
  // texts and numbers on each request.
  void keep_channel_details(bool keep) { m_keep_channel_details = keep; }

  // The model itself, without the copy Get_cfg_info makes.
  const cmtr_cfg_info& cfg() const { return m_cfg_info; }
  // The fields of the .cfg beyond the model, from the same read (the
  // channels' own only when kept, see keep_channel_details).
  const RecordHeader& header() const { return m_header; }

 private:
  // Where the samples are: "<fileName>.dat", or the DAT section of the .cff.
  DataSection data_section() const;

  cmtr_cfg_info m_cfg_info;
  std::string m_fileName;
  RecordHeader m_header;
  // Set by Get_cmtr_cfg_info for a .cff; empty otherwise.
  DataSection m_data;
  bool m_keep_channel_details = false;
};

#endif  // COMTRADE_FORMAT_COMTRADE_FORMAT_H_
