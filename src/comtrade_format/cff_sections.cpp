// Recognising the section lines of a .cff and finding its CFG and DAT parts.
#include "comtrade_format/cff_sections.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// Large enough that a file without line ends costs few reads, small enough
// to cost nothing next to the answers.
constexpr std::size_t kScanBlockBytes = 256 * 1024;

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
  if (line.size() > kLongestSectionLine) return std::nullopt;
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
  platform::ReadFile file;
  if (!file.open(path, true)) return std::nullopt;
  CffLayout layout;
  bool have_cfg = false;
  // A line's start that a block left over, while it may still be a section
  // line; `skipping` once it is too long to be one.
  std::string held;
  bool skipping = false;
  // Takes one whole line that ends just before byte `after` of the file;
  // returns where to read on (a binary section is stepped over).
  const auto take_line = [&](std::string_view line, std::uint64_t after) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::optional<CffSectionLine> section = parse_cff_section_line(line);
    if (!section) return after;
    if (section->kind == CffSectionKind::kCfg && !have_cfg) {
      layout.cfg_offset = after;
      have_cfg = true;
    } else if (section->kind == CffSectionKind::kDat && !layout.dat) {
      DataSection dat;
      dat.path = path;
      dat.shown_path = shown_path;
      dat.offset = after;
      dat.length = section->bytes;
      // Without a byte count the section can only be told from what follows
      // by its lines: the ASCII reader stops at the next section line.
      dat.ends_at_section_line = true;
      layout.dat = dat;
      // Binary bytes may hold anything, line ends included: step over them.
      if (section->bytes) return after + *section->bytes;
    }
    return after;
  };

  std::vector<char> block(kScanBlockBytes);
  std::uint64_t block_start = 0;  // the file offset of block[0]
  while (!(have_cfg && layout.dat)) {
    const std::size_t size = file.read(block.data(), block.size());
    // A last line without its line end ends no section line: it is dropped.
    if (size == 0) break;
    const char* p = block.data();
    const char* const end = p + size;
    std::uint64_t next = block_start + size;  // where the next block starts
    while (const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) {
      const std::size_t length = static_cast<std::size_t>(newline - p);
      const std::uint64_t after = block_start + static_cast<std::uint64_t>(newline + 1 - block.data());
      std::uint64_t resume = after;
      if (!skipping && held.size() + length <= kLongestSectionLine) {
        if (held.empty()) {
          resume = take_line(std::string_view(p, length), after);
        } else {
          held.append(p, length);
          resume = take_line(held, after);
        }
      }
      held.clear();
      skipping = false;
      p = newline + 1;
      if (resume != after) {
        next = resume;
        p = end;
        if (!file.seek(resume)) return have_cfg ? std::optional<CffLayout>(layout) : std::nullopt;
        break;
      }
      if (have_cfg && layout.dat) break;
    }
    const std::size_t rest = static_cast<std::size_t>(end - p);
    if (!skipping && held.size() + rest <= kLongestSectionLine) {
      held.append(p, rest);
    } else {
      held.clear();
      skipping = true;
    }
    block_start = next;
  }
  if (!have_cfg) return std::nullopt;
  return layout;
}
