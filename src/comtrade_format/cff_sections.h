// The combined file form of a record: one <name>.cff holding the .cfg, .inf,
// .hdr and .dat as sections, each opened by a line such as
// "--- file type: DAT BINARY: 4214 ---".
#ifndef COMTRADE_FORMAT_CFF_SECTIONS_H_
#define COMTRADE_FORMAT_CFF_SECTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "comtrade_format/data_section.h"

enum class CffSectionKind { kCfg, kInf, kHdr, kDat };

struct CffSectionLine {
  CffSectionKind kind;
  std::optional<std::uint64_t> bytes;  // the byte count, when given
};

// A section line is a few words; a longer line cannot be one, and is passed
// over without being held: a file without line ends is one line as long as
// the file.
constexpr std::size_t kLongestSectionLine = 4096;

// Whether `line` (without its line end) opens a section. Writers vary the
// dashes, blanks, colons and letter case ("-- file type  INF ---" occurs), so
// any line made of dashes, the words "file type", a section name (for DAT
// also its type word) and an optional byte count qualifies; it must begin
// with a dash, which no sample line does.
std::optional<CffSectionLine> parse_cff_section_line(std::string_view line);

struct CffLayout {
  std::uint64_t cfg_offset = 0;  // first byte after the CFG section line
  // The DAT section, when there is one: an ASCII section runs to the next
  // section line or the end, a binary one is exactly its byte count (or runs
  // to the end without one).
  std::optional<DataSection> dat;
};

// Finds the CFG and DAT sections of the .cff at `path`; `shown_path` is what
// the data readers' diagnostics will name. nullopt when the file cannot be
// read or has no CFG section. Read in blocks, holding no line longer than a
// section line can be; binary sections with a byte count are stepped over,
// never read.
std::optional<CffLayout> locate_cff_sections(const std::string& path, const std::string& shown_path);

#endif  // COMTRADE_FORMAT_CFF_SECTIONS_H_
