// The log line, rotation above 50 MiB, message cutting and the exit-time close.
#include "logger/logger.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kThreshold = 52428800;

using e2e::file_text;

// A file of `size` bytes that takes no disk space.
void make_sparse(const fs::path& path, std::uintmax_t size) {
  std::ofstream(path, std::ios::binary).close();
  fs::resize_file(path, size);
}

class LoggerTest : public ::testing::Test {
 protected:
  e2e::TempDir m_temp;
  const fs::path& m_dir = m_temp.path();
  const std::string m_path = m_temp / "comtradeInfo.log";
};

// "[Y-M-D hh:mm:ss] :  " with hour, minute and second blank-padded.
const char kPrefixPattern[] = R"(\[\d{4}-\d{1,2}-\d{1,2} [ \d]\d:[ \d]\d:[ \d]\d\] :  )";

TEST_F(LoggerTest, WritesPrefixMessageAndLineNumber) {
  CLogger log;
  log.Open(m_path.c_str());
  ASSERT_TRUE(log.IsOpen());
  log.Log(__FILE__, __func__, 120, LOG_INFO, "g_station_vec.size(): %d", 3);
  log.Log(__FILE__, __func__, 7, LOG_ERROR, "%s|%5.2f", "\xB1\xB1\xBE\xA9", 1.5);
  const std::string text = file_text(m_path);
  const std::regex line(std::string("^") + kPrefixPattern + "g_station_vec.size\\(\\): 3 ->line\\(120\\)\n" +
                        kPrefixPattern + "\xB1\xB1\xBE\xA9\\| 1.50 ->line\\(7\\)\n$");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LoggerTest, MacroPassesTheCallersLine) {
  CSingleton<CLogger>::GetInstance()->Open(m_path.c_str());
  LOG_WRITE(LOG_INFO, "from the macro");
  const int line = __LINE__ - 1;
  CSingleton<CLogger>::GetInstance()->Close();
  const std::string text = file_text(m_path);
  const std::string end = "from the macro ->line(" + std::to_string(line) + ")\n";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(end, text.substr(text.size() - end.size()));
}

TEST(LogPrefix, PadsHourMinuteSecondWithBlanksOnly) {
  EXPECT_EQ("[2027-1-31 23:59: 7] :  ", format_log_prefix(platform::LocalTime{2027, 1, 31, 23, 59, 7}));
  EXPECT_EQ("[2026-12-7  8: 5: 3] :  ", format_log_prefix(platform::LocalTime{2026, 12, 7, 8, 5, 3}));
  EXPECT_EQ("[2026-1-1  0: 0: 0] :  ", format_log_prefix(platform::LocalTime{2026, 1, 1, 0, 0, 0}));
}

TEST_F(LoggerTest, FormatWithoutConversionsAndNewlinesIsWrittenUnchanged) {
  CLogger log;
  log.Open(m_path.c_str());
  log.Log(__FILE__, __func__, 1, LOG_DEBUG, "plain text\nsecond part");
  const std::string text = file_text(m_path);
  EXPECT_TRUE(std::regex_match(text, std::regex(std::string("^") + kPrefixPattern +
                                                "plain text\nsecond part ->line\\(1\\)\n$")))
      << text;
}

TEST_F(LoggerTest, OpenAppendsToExistingFile) {
  std::ofstream(m_path) << "earlier\n";
  CLogger log;
  log.Open(m_path.c_str());
  log.Log(__FILE__, __func__, 2, LOG_INFO, "later");
  EXPECT_EQ(0u, file_text(m_path).find("earlier\n["));
}

TEST_F(LoggerTest, MessageIsCutTo524287Characters) {
  CLogger log;
  log.Open(m_path.c_str());
  const std::string message(600000, 'x');
  log.Log(__FILE__, __func__, 42, LOG_INFO, "%s", message.c_str());
  const std::string text = file_text(m_path);
  const std::size_t start = text.find('x');
  ASSERT_NE(std::string::npos, start);
  EXPECT_EQ(std::string(CLogger::kMaxMessage, 'x') + " ->line(42)\n", text.substr(start));
}

TEST_F(LoggerTest, FileOfExactlyTheThresholdIsNotRotated) {
  make_sparse(m_path, kThreshold);
  CLogger log;
  log.Open(m_path.c_str());
  ::testing::internal::CaptureStdout();
  log.Log(__FILE__, __func__, 5, LOG_INFO, "kept");
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_FALSE(fs::exists(m_path + "_bak"));
  EXPECT_GT(fs::file_size(m_path), kThreshold);
}

TEST_F(LoggerTest, FileOneByteOverIsRotatedBeforeTheLine) {
  make_sparse(m_path, kThreshold + 1);
  CLogger log;
  log.Open(m_path.c_str());
  ::testing::internal::CaptureStdout();
  log.Log(__FILE__, __func__, 9, LOG_INFO, "first of the new file");
  const std::string console = ::testing::internal::GetCapturedStdout();
  const std::string backup = m_path + "_bak";
  EXPECT_EQ("Copy log from (" + m_path + ") to (" + backup + ")\n" + "Copy log from (" + m_path + ") to (" +
                backup + "),size(52428801),(52428800)\n",
            console);
  EXPECT_EQ(kThreshold + 1, fs::file_size(backup));
  EXPECT_TRUE(log.IsOpen());
  EXPECT_TRUE(std::regex_match(file_text(m_path), std::regex(std::string("^") + kPrefixPattern +
                                                             "first of the new file ->line\\(9\\)\n$")));
  // The next line goes on into the new file without another rotation.
  log.Log(__FILE__, __func__, 10, LOG_INFO, "second");
  EXPECT_NE(std::string::npos, file_text(m_path).find("second ->line(10)\n"));
}

TEST_F(LoggerTest, RotationReplacesAnExistingBackup) {
  std::ofstream(m_path + "_bak") << "previous backup";
  make_sparse(m_path, kThreshold + 1);
  CLogger log;
  log.Open(m_path.c_str());
  ::testing::internal::CaptureStdout();
  log.Log(__FILE__, __func__, 3, LOG_INFO, "after");
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(kThreshold + 1, fs::file_size(m_path + "_bak"));
  EXPECT_LT(fs::file_size(m_path), 100u);
}

TEST_F(LoggerTest, LogBeforeOpenWritesAndPrintsNothing) {
  CLogger log;
  ::testing::internal::CaptureStdout();
  log.Log(__FILE__, __func__, 1, LOG_INFO, "lost %d", 1);
  log.Close();
  log.Log(__FILE__, __func__, 2, LOG_INFO, "lost too");
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(fs::is_empty(m_dir));
}

TEST_F(LoggerTest, CloseThenOpenAgainContinuesTheFile) {
  CLogger log;
  log.Open(m_path.c_str());
  log.Log(__FILE__, __func__, 1, LOG_INFO, "one");
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  log.Log(__FILE__, __func__, 2, LOG_INFO, "dropped");
  log.Open(m_path.c_str());
  log.Log(__FILE__, __func__, 3, LOG_INFO, "three");
  const std::string text = file_text(m_path);
  EXPECT_NE(std::string::npos, text.find("one ->line(1)"));
  EXPECT_EQ(std::string::npos, text.find("dropped"));
  EXPECT_NE(std::string::npos, text.find("three ->line(3)"));
}

// Error paths

TEST_F(LoggerTest, OpenFailureLeavesLoggerClosedAndSilent) {
  CLogger log;
  const std::string bad = (m_dir / "missing" / "x.log").string();
  log.Open(bad.c_str());
  EXPECT_FALSE(log.IsOpen());
  ::testing::internal::CaptureStdout();
  log.Log(__FILE__, __func__, 1, LOG_INFO, "lost");
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_FALSE(fs::exists(bad));
}

// A full disk, as a file size limit makes one: the lines that do not fit are
// lost, standard error says so once, and once there is room the log goes on
// on a line of its own, with the count of what was lost.
TEST_F(LoggerTest, WritesAgainAfterAFullDiskAndCountsTheLinesLost) {
  CLogger log;
  log.Open(m_path.c_str());
  log.Log(__FILE__, __func__, 1, LOG_INFO, "first");
  const std::uintmax_t size = fs::file_size(m_path);
  ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit room;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &room));
  const struct rlimit full = {static_cast<rlim_t>(size + 10), room.rlim_max};
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &full));
  // Standard error into a pipe: a captured file would be held to the limit.
  int ends[2];
  ASSERT_EQ(0, ::pipe(ends));
  const int saved_stderr = ::dup(2);
  ::dup2(ends[1], 2);
  log.Log(__FILE__, __func__, 2, LOG_INFO, "lost in the middle");
  log.Log(__FILE__, __func__, 3, LOG_INFO, "lost whole");
  ::dup2(saved_stderr, 2);
  ::close(saved_stderr);
  ::close(ends[1]);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &room));
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
  ::close(ends[0]);
  log.Log(__FILE__, __func__, 4, LOG_INFO, "back");

  EXPECT_EQ("log: cannot write to " + m_path + " (File too large); lines are counted until it works again\n",
            said);
  const std::string text = file_text(m_path);
  const std::regex shape(std::string("") + kPrefixPattern + "first ->line\\(1\\)\n" +
                         ".{10}\n" + kPrefixPattern +
                         "log: 2 lines could not be written \\(File too large\\) ->line\\(4\\)\n" +
                         kPrefixPattern + "back ->line\\(4\\)\n");
  EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

TEST_F(LoggerTest, FailedRenameKeepsWritingToTheSameFile) {
  // A directory under the backup name makes the rename fail.
  fs::create_directory(m_path + "_bak");
  make_sparse(m_path, kThreshold + 1);
  CLogger log;
  log.Open(m_path.c_str());
  ::testing::internal::CaptureStdout();
  log.Log(__FILE__, __func__, 1, LOG_INFO, "still here");
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, console.find("),size(52428801),(52428800)\n"));
  EXPECT_TRUE(log.IsOpen());
  EXPECT_GT(fs::file_size(m_path), kThreshold + 1);
  EXPECT_TRUE(fs::is_directory(m_path + "_bak"));
}

// The exit-time action registered by the first GetInstance closes the file and
// resets the pointer. Runs after that action (registered earlier, so called later).
void check_instance_reset_at_exit() {
  _exit(CSingleton<CLogger>::GetInstance()->IsOpen() ? 3 : 0);
}

TEST(LoggerExit, ExitClosesTheFileAndResetsTheInstance) {
  // A fresh process per death test, so this GetInstance is the first one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child re-runs this test from the start; the environment carries the
  // parent's file name over to it.
  const char* kEnv = "LOGGER_EXIT_TEST_LOG";
  if (!platform::get_env(kEnv)) {
    const std::string name =
        (fs::temp_directory_path() / ("logger_exit_" + std::to_string(::getpid()) + ".log")).string();
    ::setenv(kEnv, name.c_str(), 1);
  }
  const std::string path = *platform::get_env(kEnv);
  EXPECT_EXIT(
      {
        std::atexit(check_instance_reset_at_exit);
        CSingleton<CLogger>::GetInstance()->Open(path.c_str());
        LOG_WRITE(LOG_INFO, "last words %d", 7);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_NE(std::string::npos, file_text(path).find("last words 7 ->line("));
  fs::remove(path);
  ::unsetenv(kEnv);
}

}  // namespace
