// The log file's folder vanishing, standard output losing its reader, and the
// log rotating while many clients are being answered: lines may be lost in
// the first two cases, never split in the third, and the service answers
// throughout.
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service_fixture.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kRotateBytes = 50ull * 1024 * 1024;

class LogFaultTest : public ServiceTest {
 protected:
  void SetUp() override {
    comtrade_gen::RecordSpec shape;
    shape.analog_count = 2;
    shape.digital_count = 1;
    shape.samples = 10;
    write_record("S1", "r", shape);
  }
  std::string info_reply() { return ask("/getChannelInfo", channel_info_body("S1", "r")); }
};

// Whether `line` opens with the time prefix "[Y-M-D hh:mm:ss] :  ", hours,
// minutes and seconds padded with blanks.
bool starts_with_time_prefix(const std::string& line) {
  const std::size_t close = line.find("] :  ");
  if (line.empty() || line[0] != '[' || close == std::string::npos || close > 24) return false;
  const std::string stamp = line.substr(1, close - 1);
  const std::size_t blank = stamp.find(' ');
  if (blank == std::string::npos || stamp.size() - blank != 9) return false;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const char c = stamp[i];
    const bool digit = c >= '0' && c <= '9';
    if (i < blank && !digit && c != '-') return false;
    if (i > blank && !digit && c != ' ' && c != ':') return false;
  }
  return true;
}

// Whether `line` closes with " ->line(N)".
bool ends_with_line_number(const std::string& line) {
  const std::size_t at = line.rfind(" ->line(");
  if (at == std::string::npos || line.back() != ')') return false;
  const std::string digits = line.substr(at + 8, line.size() - at - 9);
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

// Counts the log entries in `text`. An entry starts with the time prefix at
// the start of a line and ends with " ->line(N)" at the end of a line; a
// message may hold line ends of its own. Sets `whole` to false when the
// text starts or ends inside an entry, or an entry starts inside another.
std::size_t count_entries(const std::string& text, bool* whole) {
  *whole = true;
  std::size_t entries = 0;
  bool open = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      *whole = false;  // the last line has no line end
      end = text.size();
    }
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (starts_with_time_prefix(line)) {
      if (open) *whole = false;
      open = true;
      ++entries;
    } else if (!open) {
      *whole = false;
    }
    if (open && ends_with_line_number(line)) open = false;
  }
  if (open) *whole = false;
  return entries;
}

// The log deleted, renamed or its folder removed under the running service:
// the lines go to a file made anew at the log's path (its folder is never
// made), a renamed log stops growing, and the first line written again says
// how many were lost.
TEST_F(LogFaultTest, WritesANewFileWhenTheLogIsDeletedRenamedOrItsFolderRemoved) {
  struct Change {
    const char* name;
    bool folder_gone;  // the log's folder goes and is made again later
  };
  for (const Change change : {Change{"deleted", false}, Change{"renamed", false}, Change{"folder", true}}) {
    SCOPED_TRACE(change.name);
    e2e::TempDir logs;
    e2e::Settings settings;
    const fs::path folder = logs.path() / "folder";
    const fs::path log = folder / "service.log";
    const fs::path renamed = logs.path() / "moved.log";
    settings.log_dir = log.string();
    fs::create_directories(folder);
    start(settings);
    const std::string reply = info_reply();
    ASSERT_NE(std::string::npos, reply.find("\"result\":200"));
    ASSERT_TRUE(fs::exists(log));

    if (change.folder_gone) {
      fs::remove_all(folder);
    } else if (std::string(change.name) == "renamed") {
      fs::rename(log, renamed);
    } else {
      fs::remove(log);
    }
    for (int i = 0; i < 5; ++i) EXPECT_EQ(reply, info_reply()) << i;
    if (change.folder_gone) {
      EXPECT_FALSE(fs::exists(folder)) << "the service made the log's folder";
      fs::create_directories(folder);
      EXPECT_EQ(reply, info_reply());
      m_expected_stderr = "log: cannot write to " + log.string() +
                          " (No such file or directory); lines are counted until it works again\n";
    }
    const std::optional<std::string> fresh = e2e::read_file(log);
    ASSERT_TRUE(fresh) << "no new log at the path";
    bool whole = false;
    EXPECT_GT(count_entries(*fresh, &whole), 0u);
    EXPECT_TRUE(whole);
    if (change.folder_gone) {
      // Each request lost its lines while the folder was gone.
      EXPECT_NE(std::string::npos, fresh->find(" lines could not be written (No such file or directory) ->line("))
          << fresh->substr(0, 300);
    }
    if (fs::exists(renamed)) {
      const std::uintmax_t moved = fs::file_size(renamed);
      EXPECT_EQ(reply, info_reply());
      EXPECT_EQ(moved, fs::file_size(renamed)) << "the renamed log still grows";
    }
    TearDown();
    m_service.reset();
    m_expected_stderr.clear();
  }
}

// Standard output a pipe whose reader has gone (a log collector restarting):
// the diagnostic lines are lost, the requests that print them are answered.
TEST_F(LogFaultTest, AnswersWhenStandardOutputIsAPipeWithoutReader) {
  start({}, true);
  const std::string reply = info_reply();
  ASSERT_NE(std::string::npos, reply.find("\"result\":200"));
  process().close_stdout_reader();

  e2e::HttpClient unknown(port());
  ASSERT_TRUE(unknown.send(e2e::post("/nope", "{}")));  // "error url", no reply
  for (int i = 0; i < 5; ++i) EXPECT_EQ(reply, info_reply()) << i;
  EXPECT_NE("", ask("/getFileInfo", channel_data_body("S1", "r", R"(["U1","D1"])")));
  EXPECT_TRUE(answers());
  ASSERT_TRUE(unknown.send(e2e::post("/getGroupFile_list", "{}")));
  EXPECT_EQ(kGroupOk, unknown.read_chunked_reply().body);
}

TEST_F(LogFaultTest, RotatesOnceWhileManyClientsAreAnsweredWithoutSplittingALine) {
  start();
  const std::string reply = info_reply();
  ASSERT_NE(std::string::npos, reply.find("\"result\":200"));
  const fs::path log = m_service->log_path();
  const fs::path backup = log.string() + "_bak";
  bool whole = false;
  const std::size_t after_one = count_entries(*e2e::read_file(log), &whole);
  ASSERT_TRUE(whole);
  ASSERT_EQ(reply, info_reply());
  const std::size_t per_request = count_entries(*e2e::read_file(log), &whole) - after_one;
  ASSERT_GT(per_request, 0u);

  // Grown sparsely to just under the threshold: the service appends after
  // the hole, and a few dozen requests push it over.
  const std::uintmax_t grown = kRotateBytes - 6000;
  fs::resize_file(log, grown);

  constexpr int kClients = 4;
  const int per_client = scaled(60, 2);
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      for (int i = 0; i < per_client; ++i) {
        if (info_reply() != reply) ++wrong;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_TRUE(answers());

  ASSERT_TRUE(fs::exists(backup));
  const std::string moved = *e2e::read_file(backup);
  ASSERT_GT(moved.size(), kRotateBytes);
  const std::string current = *e2e::read_file(log);
  ASSERT_LT(current.size(), kRotateBytes / 2);

  // The backup holds the old lines, the hole, and the lines written after
  // it up to the rotation.
  const std::string tail = moved.substr(grown);
  const std::size_t tail_entries = count_entries(tail, &whole);
  EXPECT_TRUE(whole) << "the backup ends inside a line";
  const std::size_t current_entries = count_entries(current, &whole);
  EXPECT_TRUE(whole) << "the new log starts inside a line";
  // Every entry of every request is in one of the two files, once.
  EXPECT_EQ(per_request * kClients * per_client, tail_entries + current_entries);

  const std::string out = process().stdout_text();
  const std::string copy_line = "Copy log from (" + log.string() + ") to (" + backup.string() + ")\n";
  const std::size_t first = out.find(copy_line);
  EXPECT_NE(std::string::npos, first) << out.substr(0, 300);
  EXPECT_EQ(std::string::npos, out.find(copy_line, first + 1)) << "rotated more than once";
}

}  // namespace
}  // namespace hostile
