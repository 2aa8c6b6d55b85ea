// Directory listings, case-insensitive name fallback and file queries.
#include "platform/platform.h"

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

class PlatformTest : public ::testing::Test {
 protected:
  std::string touch(const std::string& relative, const std::string& text = "x") {
    return e2e::write_file(m_dir / relative, text);
  }

  std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> result;
    auto entries = platform::list_dir(dir);
    if (entries) {
      for (const auto& e : *entries) result.push_back(e.name);
    }
    return result;
  }

  e2e::TempDir m_temp;
  const fs::path& m_dir = m_temp.path();
};

TEST(ListingOrder, FoldsLettersToUpperCaseThenComparesBytes) {
  struct Case {
    const char* a;
    const char* b;
  };
  // '_' (0x5F) sorts after the upper-case letters but before the lower-case
  // ones, so folding decides "AB" < "A_" < "a_b".
  const Case cases[] = {
      {"AB", "A_"},  {"A_", "a_b"}, {"ab", "A_"},   {"A", "AB"},      {"", "A"},
      {"a_", "B"},   {"Z", "_"},    {"B_02", "b_03"}, {"ABC", "abc"},  // ties byte-wise: 'A' < 'a'
      {"rec9", "REC~"}, {"x\x7F", "x\xB1"},  // bytes above 0x7F after ASCII
      {"\x81" "B", "\x81" "a"},  // a trail byte is never folded, even when it looks like a letter
      {"\x81" "ab", "\x81" "a_"},  // but the letters after the character are
      {"\x81\x81" "a", "\x81\x81" "B"},  // a trail byte that could lead does not
      {"N_20260112_100000.cfg", "n_20260112_100000.DAT"},  // a long prefix alike but for case
      {"RECORD_20260112_1.cfg", "RECORD_20260112_2.CFG"},
      {"ABCDEFG\x81" "B", "ABCDEFG\x81" "a"},  // a character across the first eight bytes
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(platform::listing_less(c.a, c.b)) << c.a << " < " << c.b;
    EXPECT_FALSE(platform::listing_less(c.b, c.a)) << c.b << " !< " << c.a;
  }
  EXPECT_FALSE(platform::listing_less("same", "same"));
}

TEST_F(PlatformTest, ListsEntriesSortedWithoutDotEntries) {
  for (const char* name : {"a_b", "AB", "A_", "zeta", "Beta.cfg", "beta.CFG"}) touch(name);
  fs::create_directory(m_dir / "Station");
  auto entries = platform::list_dir(m_dir.string());
  ASSERT_TRUE(entries);
  const std::vector<std::string> expected = {"AB", "A_", "a_b", "Beta.cfg", "beta.CFG", "Station", "zeta"};
  EXPECT_EQ(expected, names(m_dir.string()));
  for (const auto& e : *entries) EXPECT_EQ(e.name == "Station", e.is_dir) << e.name;
}

TEST_F(PlatformTest, SymlinkToDirectoryIsNotADirectory) {
  fs::create_directory(m_dir / "real");
  fs::create_directory_symlink(m_dir / "real", m_dir / "link");
  auto entries = platform::list_dir(m_dir.string());
  ASSERT_TRUE(entries);
  ASSERT_EQ(2u, entries->size());
  EXPECT_EQ("link", (*entries)[0].name);
  EXPECT_FALSE((*entries)[0].is_dir);
  EXPECT_TRUE((*entries)[1].is_dir);
}

TEST_F(PlatformTest, SymlinkLoopDoesNotHang) {
  fs::create_directory(m_dir / "d");
  fs::create_directory_symlink(m_dir / "d", m_dir / "d" / "loop");
  fs::create_symlink(m_dir / "self", m_dir / "self");  // a link to itself
  auto entries = platform::list_dir((m_dir / "d").string());
  ASSERT_TRUE(entries);
  ASSERT_EQ(1u, entries->size());
  EXPECT_FALSE((*entries)[0].is_dir);
  EXPECT_FALSE(platform::file_size((m_dir / "self").string()));
  // The listing still names the link; opening it then fails in the ordinary way.
  EXPECT_EQ((m_dir / "self").string(), platform::resolve_case_insensitive((m_dir / "SELF").string()));
}

TEST_F(PlatformTest, ExactPathIsKeptWhenItExists) {
  const std::string path = touch("Rec.cfg");
  EXPECT_EQ(path, platform::resolve_case_insensitive(path));
}

TEST_F(PlatformTest, MissingFileFallsBackToCaseInsensitiveMatch) {
  touch("B_02.CFG");
  touch("B_02.DAT");
  EXPECT_EQ((m_dir / "B_02.CFG").string(),
            platform::resolve_case_insensitive((m_dir / "B_02.cfg").string()));
  EXPECT_EQ((m_dir / "B_02.DAT").string(),
            platform::resolve_case_insensitive((m_dir / "b_02.dat").string()));
}

TEST_F(PlatformTest, MissingDirectoryComponentFallsBackToo) {
  fs::create_directories(m_dir / "North" / "Sub");
  touch("North/Sub/rec.cfg");
  EXPECT_EQ((m_dir / "North" / "Sub" / "rec.cfg").string(),
            platform::resolve_case_insensitive((m_dir / "NORTH" / "sub" / "REC.CFG").string()));
}

TEST_F(PlatformTest, FirstMatchInListingOrderWins) {
  touch("rec.cfg");
  touch("REC.cfg");
  EXPECT_EQ((m_dir / "REC.cfg").string(),
            platform::resolve_case_insensitive((m_dir / "Rec.cfg").string()));
}

TEST_F(PlatformTest, NonAsciiBytesMustMatchExactly) {
  touch("\xB1\xB1\xBE\xA9.cfg");
  EXPECT_EQ((m_dir / "\xB1\xB1\xBE\xA9.cfg").string(),
            platform::resolve_case_insensitive((m_dir / "\xB1\xB1\xBE\xA9.CFG").string()));
  // 0xB1 and 0x91 differ by the bit that ASCII case folding flips.
  const std::string other = (m_dir / "\x91\xB1\xBE\xA9.cfg").string();
  EXPECT_EQ(other, platform::resolve_case_insensitive(other));
  // A trail byte that looks like a letter is part of its character: 81 61
  // and 81 41 are two characters, not one in two cases.
  touch("\x81" "A.cfg");
  const std::string trail = (m_dir / "\x81" "a.cfg").string();
  EXPECT_EQ(trail, platform::resolve_case_insensitive(trail));
}

TEST_F(PlatformTest, NoMatchGivesOriginalPath) {
  fs::create_directory(m_dir / "North");
  const std::string missing_file = (m_dir / "north" / "nothing.cfg").string();
  EXPECT_EQ(missing_file, platform::resolve_case_insensitive(missing_file));
  const std::string missing_dir = (m_dir / "South" / "rec.cfg").string();
  EXPECT_EQ(missing_dir, platform::resolve_case_insensitive(missing_dir));
}

TEST_F(PlatformTest, RelativePathsResolveFromWorkingDirectory) {
  touch("Rel.CFG");
  const fs::path old = fs::current_path();
  fs::current_path(m_dir);
  EXPECT_EQ("Rel.CFG", platform::resolve_case_insensitive("rel.cfg"));
  EXPECT_EQ("./Rel.CFG", platform::resolve_case_insensitive("./REL.cfg"));
  fs::current_path(old);
}

TEST_F(PlatformTest, FileSizeOfSparseFileIsItsLength) {
  const std::string path = touch("sparse", "");
  fs::resize_file(path, 52428801);
  auto size = platform::file_size(path);
  ASSERT_TRUE(size);
  EXPECT_EQ(52428801u, *size);
  EXPECT_EQ(5u, *platform::file_size(touch("five", "12345")));
}

TEST_F(PlatformTest, FileExistsForFilesAndDirectories) {
  EXPECT_TRUE(platform::file_exists(touch("f")));
  EXPECT_TRUE(platform::file_exists(m_dir.string()));
  EXPECT_FALSE(platform::file_exists((m_dir / "nope").string()));
}

// What it replaces (nothing, a file, a FIFO that must not block the open
// that holds it) is gone by name when it returns, as after a plain rename.
TEST_F(PlatformTest, RenameReplacingLeavesTheNamesOfAPlainRename) {
  for (const std::string replaced : {"none", "file", "fifo"}) {
    const std::string from = touch("log", "new " + replaced);
    const std::string to = (m_dir / "log_bak").string();
    if (replaced == "file") touch("log_bak", "old");
    if (replaced == "fifo") {
      ASSERT_EQ(0, ::mkfifo(to.c_str(), 0600));
    }
    ASSERT_TRUE(platform::rename_replacing(from, to)) << replaced;
    EXPECT_FALSE(fs::exists(from)) << replaced;
    EXPECT_EQ("new " + replaced, e2e::file_text(to)) << replaced;
    fs::remove(to);
  }
  // A rename that cannot happen leaves the file it would have replaced.
  const std::string kept = touch("kept", "old");
  EXPECT_FALSE(platform::rename_replacing((m_dir / "missing").string(), kept));
  EXPECT_TRUE(fs::exists(kept));
}

TEST(PlatformPaths, JoinAlwaysInsertsTheSeparator) {
  EXPECT_EQ("root/North", platform::join_path("root", "North"));
  EXPECT_EQ("/North", platform::join_path("", "North"));
}

TEST(PlatformPaths, ExecutablePathNamesThisTestBinary) {
  const std::optional<std::string> path = platform::executable_path();
  ASSERT_TRUE(path);
  const std::filesystem::path exe(*path);
  EXPECT_TRUE(exe.is_absolute());
  EXPECT_EQ("platform_tests", exe.filename());
  EXPECT_TRUE(std::filesystem::is_regular_file(exe));
}

// A helper may still use every processor of the process but one, the
// caller's, and all of them where the process has only one.
TEST(PlatformThreads, KeepsAHelperOffOneProcessorOnly) {
  cpu_set_t allowed;
  ASSERT_EQ(0, ::sched_getaffinity(0, sizeof allowed, &allowed));
  std::promise<void> release;
  std::thread helper([done = release.get_future()] { done.wait(); });
  platform::keep_apart(helper);
  cpu_set_t kept;
  const int asked = ::pthread_getaffinity_np(helper.native_handle(), sizeof kept, &kept);
  release.set_value();
  helper.join();
  ASSERT_EQ(0, asked);
  cpu_set_t inside;
  CPU_AND(&inside, &kept, &allowed);
  EXPECT_EQ(CPU_COUNT(&kept), CPU_COUNT(&inside));
  EXPECT_EQ(std::max(1, CPU_COUNT(&allowed) - 1), CPU_COUNT(&kept));
}

TEST(PlatformEnv, ReadsSetAndUnsetVariables) {
  ::setenv("PLATFORM_TEST_VAR", "D:\xB1\xB1", 1);
  EXPECT_EQ(std::string("D:\xB1\xB1"), platform::get_env("PLATFORM_TEST_VAR"));
  ::unsetenv("PLATFORM_TEST_VAR");
  EXPECT_FALSE(platform::get_env("PLATFORM_TEST_VAR"));
}

TEST(PlatformClock, LocalTimeFieldsAreInRange) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  platform::LocalTime t = platform::local_time(1801439707);  // 2027-01-31 23:55:07 UTC
  EXPECT_EQ(2027, t.year);
  EXPECT_EQ(1, t.month);
  EXPECT_EQ(31, t.day);
  EXPECT_EQ(23, t.hour);
  EXPECT_EQ(55, t.minute);
  EXPECT_EQ(7, t.second);
  EXPECT_GT(platform::now_seconds(), 1700000000);
}

// Error paths

TEST_F(PlatformTest, MissingOrNonDirectoryGivesNullopt) {
  EXPECT_FALSE(platform::list_dir((m_dir / "missing").string()));
  EXPECT_FALSE(platform::list_dir(touch("plain")));
  EXPECT_FALSE(platform::file_size((m_dir / "missing").string()));
}

}  // namespace
