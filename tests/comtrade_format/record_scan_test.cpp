// Finding the records of a station directory by their file names.
#include <filesystem>
#include <string>
#include <vector>

#include "comtrade_format/record_scan.h"
#include "record_fixture.h"

namespace {

using RecordScanTest = RecordTest;

TEST_F(RecordScanTest, ListsConfigurationFilesDirectlyInTheStation) {
  for (const char* name : {"A_01.cfg", "A_01.dat", "B_02.CFG", "notes.txt", "rec.old.cfg", "cfg"})
    write_file(name, "x");
  std::filesystem::create_directory(m_dir / "x.cfg");
  std::filesystem::create_directory(m_dir / "sub");
  write_file("sub/C_03.cfg", "x");
  write_file("x.cfg/D_04.cfg", "x");

  const std::string dir = m_dir.string();
  const std::string out = captured_stdout([&] { scan_cfg_files(dir); });
  EXPECT_EQ((std::vector<std::string>{"A_01", "B_02"}), g_station_vec);
  // Entries come in listing order (letters folded to upper case); directories
  // print their name and a literal "<dir>" and are entered at once.
  const std::string expected =
      "val: 01.c\n"
      "val: 01.d\n"
      "val: 02.C\n"
      "val: cfg\n"
      "val: note\n"
      "val: rec.\n"
      "sub\t<dir>\n"
      "val: 03.c\n"
      "x.cfg\t<dir>\n"
      "val: 04.c\n";
  EXPECT_EQ(expected, out);
}

TEST_F(RecordScanTest, MatchesTheExtensionInAnyLetterCase) {
  for (const char* name : {"a.Cfg", "b.cFG", "c.cfgx", "d.cf", "e.b.cfg", "F_1.CFG", "g.CFF", "h.cffx"})
    write_file(name, "");
  scan_cfg_files(m_dir.string());
  EXPECT_EQ((std::vector<std::string>{"a", "b", "F_1", "g"}), g_station_vec);
}

TEST_F(RecordScanTest, ListsARecordKeptAsPairAndAsCombinedFileOnce) {
  for (const char* name : {"r.cff", "r.cfg", "r.dat", "s.cff", "T.cff", "t.cfg"}) write_file(name, "");
  scan_cfg_files(m_dir.string());
  // Opening "T" would find t.cfg: names match without regard to case.
  EXPECT_EQ((std::vector<std::string>{"r", "s", "t"}), g_station_vec);
}

TEST_F(RecordScanTest, FindsTheStationDirectoryWhateverItsCase) {
  std::filesystem::create_directory(m_dir / "North");
  write_file("North/R1.cfg", "");
  scan_cfg_files((m_dir / "NORTH").string());
  EXPECT_EQ(std::vector<std::string>{"R1"}, g_station_vec);
}

// Error paths

TEST_F(RecordScanTest, MissingDirectoryEmptiesTheList) {
  write_file("R1.cfg", "");
  scan_cfg_files(m_dir.string());
  ASSERT_EQ(1u, g_station_vec.size());
  const std::string out = captured_stdout([&] { scan_cfg_files((m_dir / "none").string()); });
  EXPECT_TRUE(g_station_vec.empty());
  EXPECT_EQ("", out);
}

TEST_F(RecordScanTest, AFileIsNoStationDirectory) {
  const std::string file = write_file("R1.cfg", "");
  scan_cfg_files(file);
  EXPECT_TRUE(g_station_vec.empty());
}

}  // namespace
