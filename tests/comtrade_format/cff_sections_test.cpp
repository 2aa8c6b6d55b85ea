// Where the CFG and DAT sections of a .cff begin, read block by block: a
// section line may straddle two blocks, a binary section's bytes may look
// like line ends and section lines, and a line too long to be a section line
// is no section line however it ends.
#include <optional>
#include <string>

#include "comtrade_format/cff_sections.h"
#include "record_fixture.h"

namespace {

using CffSectionsTest = RecordTest;

struct Layout {
  std::uint64_t cfg_offset;
  std::optional<std::uint64_t> dat_offset;
  std::optional<std::uint64_t> dat_length;
};

TEST_F(CffSectionsTest, FindsTheSectionsWhereverTheBlocksEnd) {
  const std::string cfg_line = "--- file type: CFG ---\r\n";
  const std::string binary = std::string("\n--- file type: CFG ---\n\n", 25) + std::string(7, '\0');
  const std::string padding(256 * 1024 - 10, 'x');  // the DAT line then straddles the first block's end
  struct Case {
    const char* label;
    std::string bytes;
    std::optional<Layout> layout;
  };
  const Case cases[] = {
      {"binary bytes stepped over", cfg_line + "c\n--- file type: DAT BINARY: 32 ---\n" + binary + "--- file type: INF ---\n",
       Layout{24, 60, 32}},
      {"across blocks", cfg_line + padding + "\n-- file type  dat ascii ---\n1,0\n",
       Layout{24, 24 + padding.size() + 1 + 28, std::nullopt}},
      {"after a long line", std::string(9000, '-') + "\n" + cfg_line, Layout{9001 + 24, std::nullopt, std::nullopt}},
      {"a long line is none", std::string(5000, ' ') + cfg_line, std::nullopt},
      {"no line end at all", std::string(600 * 1024, '-'), std::nullopt},
      {"a last line without its end", "x\n--- file type: CFG ---", std::nullopt},
      {"no cfg", "--- file type: DAT ASCII ---\n", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::string path = write_file("r.cff", c.bytes);
    const std::optional<CffLayout> found = locate_cff_sections(path, "shown");
    ASSERT_EQ(c.layout.has_value(), found.has_value()) << c.label;
    if (!found) continue;
    EXPECT_EQ(c.layout->cfg_offset, found->cfg_offset) << c.label;
    ASSERT_EQ(c.layout->dat_offset.has_value(), found->dat.has_value()) << c.label;
    if (!found->dat) continue;
    EXPECT_EQ(*c.layout->dat_offset, found->dat->offset) << c.label;
    EXPECT_EQ(c.layout->dat_length, found->dat->length) << c.label;
  }
}

}  // namespace
