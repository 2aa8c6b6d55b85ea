// The record scan: the base names of the .cfg files of one station directory.
#ifndef COMTRADE_FORMAT_RECORD_SCAN_H_
#define COMTRADE_FORMAT_RECORD_SCAN_H_

#include <string>
#include <vector>

// Base names (up to the first ".") of the configuration files (.cfg, or .cff
// for a record kept as one combined file) found directly in the directory of
// the latest scan, in listing order; a record kept both ways is listed once. Single I/O thread
// only.
extern std::vector<std::string> g_station_vec;

// Empties g_station_vec and fills it from `dir`. Subdirectories are walked
// and printed ("<name>", a tab and "<dir>") but contribute nothing to the list. A
// directory that cannot be read yields an empty list.
void scan_cfg_files(const std::string& dir);

#endif  // COMTRADE_FORMAT_RECORD_SCAN_H_
