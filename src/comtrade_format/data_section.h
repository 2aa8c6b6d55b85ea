// Where the samples of a record are: a whole .dat file, or the DAT section of
// a combined .cff file.
#ifndef COMTRADE_FORMAT_DATA_SECTION_H_
#define COMTRADE_FORMAT_DATA_SECTION_H_

#include <cstdint>
#include <optional>
#include <string>

struct DataSection {
  std::string path;        // the file to open
  std::string shown_path;  // the path the readers' diagnostics name
  std::uint64_t offset = 0;
  // Binary data: bytes from `offset` on; nullopt: up to the end of the file.
  std::optional<std::uint64_t> length;
  // ASCII data inside a .cff ends at the next section line (or the end of
  // the file), whatever byte count its section line gives.
  bool ends_at_section_line = false;
};

#endif  // COMTRADE_FORMAT_DATA_SECTION_H_
