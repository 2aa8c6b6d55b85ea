// Recognising the section lines of a .cff and finding its CFG and DAT parts.
#include "comtrade_format/cff_sections.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The words of a section line: runs of bytes other than blanks, tabs, CR,
// dashes and colons, lower-cased.
std::vector<std::string> section_words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '-' || c == ':') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
      continue;
    }
    word += lower(c);
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::optional<std::uint64_t> byte_count(const std::string& word) {
  if (word.empty() || word.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

bool is_data_type(const std::string& word) {
  return word == "ascii" || word == "binary" || word == "binary32" || word == "float32";
}

}  // namespace

std::optional<CffSectionLine> parse_cff_section_line(std::string_view line) {
  std::size_t first = 0;
  while (first < line.size() && (line[first] == ' ' || line[first] == '\t')) ++first;
  if (first >= line.size() || line[first] != '-') return std::nullopt;
  const std::vector<std::string> words = section_words(line);
  if (words.size() < 3 || words[0] != "file" || words[1] != "type") return std::nullopt;
  CffSectionLine section{CffSectionKind::kCfg, std::nullopt};
  std::size_t next = 3;
  if (words[2] == "cfg") {
    section.kind = CffSectionKind::kCfg;
  } else if (words[2] == "inf") {
    section.kind = CffSectionKind::kInf;
  } else if (words[2] == "hdr") {
    section.kind = CffSectionKind::kHdr;
  } else if (words[2] == "dat") {
    section.kind = CffSectionKind::kDat;
    if (next < words.size() && is_data_type(words[next])) ++next;
  } else {
    return std::nullopt;
  }
  if (next < words.size()) {
    section.bytes = byte_count(words[next]);
    if (!section.bytes) return std::nullopt;
    ++next;
  }
  if (next != words.size()) return std::nullopt;
  return section;
}

std::optional<CffLayout> locate_cff_sections(const std::string& path, const std::string& shown_path) {
  if (!platform::is_regular_file(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  CffLayout layout;
  bool have_cfg = false;
  std::string line;
  while (!(have_cfg && layout.dat) && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::optional<CffSectionLine> section = parse_cff_section_line(line);
    if (!section) continue;
    const std::streamoff after = in.tellg();
    if (after < 0) break;
    if (section->kind == CffSectionKind::kCfg && !have_cfg) {
      layout.cfg_offset = static_cast<std::uint64_t>(after);
      have_cfg = true;
    } else if (section->kind == CffSectionKind::kDat && !layout.dat) {
      DataSection dat;
      dat.path = path;
      dat.shown_path = shown_path;
      dat.offset = static_cast<std::uint64_t>(after);
      dat.length = section->bytes;
      // Without a byte count the section can only be told from what follows
      // by its lines: the ASCII reader stops at the next section line.
      dat.ends_at_section_line = true;
      layout.dat = dat;
      // Binary bytes may hold anything, line ends included: step over them.
      if (section->bytes) in.seekg(static_cast<std::streamoff>(*section->bytes), std::ios::cur);
    }
  }
  if (!have_cfg) return std::nullopt;
  return layout;
}
