// Record files that change, vanish or are not what they seem between the
// moment a client lists a station and the moment it reads a record.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "service_fixture.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char kChannels[] = R"(["U1","U2","D1"])";

// The value texts of a channel-data answer, or an empty list when `body` is
// not one (the caller's check of the whole text reports that).
std::vector<std::string> items_of(const std::string& body) {
  static const std::string kHead = "{\"comDataList\":[";
  static const std::string kTail =
      "], \"errorinfo\":\"\", \"interval\" : 100, \"result\" : 200}";
  std::vector<std::string> items;
  if (body.compare(0, kHead.size(), kHead) != 0 || body.size() < kHead.size() + kTail.size() ||
      body.compare(body.size() - kTail.size(), kTail.size(), kTail) != 0) {
    return items;
  }
  const std::string list = body.substr(kHead.size(), body.size() - kHead.size() - kTail.size());
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find("\"]", at);
    if (list.compare(at, 2, "[\"") != 0 || end == std::string::npos) return {};
    items.push_back(list.substr(at + 2, end - at - 2));
    at = end + 2;
    if (at < list.size() && list[at] == ',') ++at;
  }
  return items;
}

std::vector<std::string> split_values(const std::string& text) {
  std::vector<std::string> values;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    values.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return values;
    start = comma + 1;
  }
}

// True when every item of `got` holds the same number of values, at most
// as many as in `full`, and all but the last of them equal those of `full`
// (the last may come from a line cut short).
::testing::AssertionResult is_cut_short_of(const std::string& got, const std::string& full) {
  const std::vector<std::string> got_items = items_of(got);
  const std::vector<std::string> full_items = items_of(full);
  if (got == kNoChannelData) return ::testing::AssertionSuccess();
  if (got_items.size() != full_items.size()) {
    return ::testing::AssertionFailure() << "not the same channels: " << got.substr(0, 200);
  }
  std::size_t count = 0;
  for (std::size_t i = 0; i < got_items.size(); ++i) {
    const std::vector<std::string> values = split_values(got_items[i]);
    const std::vector<std::string> all = split_values(full_items[i]);
    if (i == 0) count = values.size();
    if (values.size() != count || count > all.size()) {
      return ::testing::AssertionFailure() << "item " << i << " holds " << values.size();
    }
    for (std::size_t v = 0; v + 1 < count; ++v) {
      if (values[v] != all[v]) return ::testing::AssertionFailure() << "item " << i << " value " << v;
    }
  }
  return ::testing::AssertionSuccess();
}

class FileFaultTest : public ServiceTest {
 protected:
  void SetUp() override {
    for (bool binary : {false, true}) {
      comtrade_gen::RecordSpec shape;
      shape.analog_count = 2;
      shape.digital_count = 1;
      shape.samples = 300;
      shape.format = binary ? comtrade_gen::DataFormat::kBinary : comtrade_gen::DataFormat::kAscii;
      write_record("S1", binary ? "bin" : "asc", shape);
    }
    start();
  }
  std::string list() { return ask("/getFileName_list", file_list_body("S1")); }
  std::string info(const std::string& name) {
    return ask("/getChannelInfo", channel_info_body("S1", name));
  }
  std::string data(const std::string& name) {
    return ask("/getFileInfo", channel_data_body("S1", name, kChannels));
  }
  // The body of the reply to `request`, or "" when the service sent none and
  // closed the connection at once (a number that does not convert).
  std::string ask_or_nothing(const std::string& request) {
    e2e::HttpClient client(port());
    if (!client.send(request)) return "<send failed>";
    e2e::HttpClient::ChunkedReply reply = client.read_chunked_reply();
    if (reply.complete) return reply.body;
    return reply.raw.empty() && client.wait_closed(100ms) ? "" : "<no reply, still open>";
  }
};

TEST_F(FileFaultTest, AnswersFilesDeletedAfterTheListAsMissing) {
  ASSERT_NE(std::string::npos, list().find("[\"asc\",\"bin\"]"));
  fs::remove(record_path("S1", "asc.dat"));
  EXPECT_NE(std::string::npos, info("asc").find("\"result\":200"));
  EXPECT_EQ(kNoChannelData, data("asc"));
  fs::remove(record_path("S1", "bin.cfg"));
  EXPECT_NE(std::string::npos, info("bin").find("\"result\":2,"));
  EXPECT_EQ(kNoChannelData, data("bin"));
  fs::remove_all(record_path("S1", ""));
  EXPECT_NE(std::string::npos, list().find("\"result\":404"));
  EXPECT_EQ(kNoChannelData, data("asc"));
}

// Every length a data file can be cut to gives the samples that are whole,
// and every length of a .cfg gives a well-formed answer or, for a number
// cut in half, none at all; the service goes on either way.
TEST_F(FileFaultTest, ReadsWhatIsLeftOfFilesTruncatedAfterTheList) {
  const std::string full_asc = data("asc");
  const std::string full_bin = data("bin");
  ASSERT_EQ(3u, items_of(full_asc).size());
  ASSERT_EQ(full_asc, full_bin);
  const std::string asc_dat = *e2e::read_file(record_path("S1", "asc.dat"));
  const std::string bin_dat = *e2e::read_file(record_path("S1", "bin.dat"));
  const std::string asc_cfg = *e2e::read_file(record_path("S1", "asc.cfg"));

  const std::size_t step = static_cast<std::size_t>(scaled(37, 4) * 4 + 1);
  for (std::size_t size = 0; size < asc_dat.size(); size += step) {
    e2e::write_file(record_path("S1", "asc.dat"), asc_dat.substr(0, size));
    EXPECT_TRUE(is_cut_short_of(data("asc"), full_asc)) << size;
  }
  // A binary record is 8 + 2 * 2 + 2 = 14 bytes.
  for (std::size_t size = 0; size < bin_dat.size(); size += step) {
    e2e::write_file(record_path("S1", "bin.dat"), bin_dat.substr(0, size));
    const std::vector<std::string> items = items_of(data("bin"));
    const std::size_t whole = size / 14;
    if (whole == 0) {
      EXPECT_TRUE(items.empty()) << size;
      continue;
    }
    ASSERT_EQ(3u, items.size()) << size;
    EXPECT_EQ(whole, split_values(items[0]).size()) << size;
    EXPECT_TRUE(is_cut_short_of(data("bin"), full_bin)) << size;
  }
  for (std::size_t size = 0; size < asc_cfg.size(); ++size) {
    e2e::write_file(record_path("S1", "asc.cfg"), asc_cfg.substr(0, size));
    const std::string label = asc_cfg.substr(0, size);
    const std::string info_reply =
        ask_or_nothing(e2e::post("/getChannelInfo", channel_info_body("S1", "asc")));
    EXPECT_TRUE(info_reply.empty() || info_reply.find("\"typeurl\":\"getChannelInfo\"}\n") !=
                                          std::string::npos)
        << label << "\n" << info_reply;
    const std::string data_reply =
        ask_or_nothing(e2e::post("/getFileInfo", channel_data_body("S1", "asc", kChannels)));
    EXPECT_TRUE(data_reply.empty() || data_reply == kNoChannelData ||
                data_reply.find("\"typeurl\":\"getFileInfo\"}\n") != std::string::npos ||
                !items_of(data_reply).empty())
        << label << "\n" << data_reply;
  }
  EXPECT_TRUE(answers());
}

// Recorders append to files that are being read, and files are replaced
// under the reader's feet; a read sees a consistent prefix or nothing.
TEST_F(FileFaultTest, ReadsFilesThatGrowOrShrinkWhileBeingRead) {
  const std::string full = data("bin");
  ASSERT_EQ(3u, items_of(full).size());
  const fs::path bin_dat = record_path("S1", "bin.dat");
  const fs::path asc_dat = record_path("S1", "asc.dat");
  const std::string bin_bytes = *e2e::read_file(bin_dat);
  const std::string asc_bytes = *e2e::read_file(asc_dat);

  // More samples than the .cfg announces are never read.
  {
    std::ofstream(bin_dat, std::ios::app | std::ios::binary) << bin_bytes;
    std::ofstream(asc_dat, std::ios::app | std::ios::binary) << asc_bytes;
  }
  EXPECT_EQ(full, data("bin"));
  EXPECT_EQ(full, data("asc"));

  std::atomic<bool> stop{false};
  std::thread writer([&] {
    // Bounded: at most a few thousand rounds, and stopped by the test.
    for (int round = 0; round < 5000 && !stop; ++round) {
      {
        std::ofstream out(bin_dat, std::ios::app | std::ios::binary);
        out << bin_bytes.substr(0, 14 * 7 + 3);
      }
      // Shrinks in place (no new file), so a reader can see the end move.
      if (round % 3 == 0) fs::resize_file(asc_dat, asc_bytes.size() / (1 + round % 5));
      if (round % 3 == 1) e2e::write_file(asc_dat, asc_bytes);
      std::this_thread::sleep_for(1ms);
    }
  });
  const int rounds = scaled(40, 4);
  for (int i = 0; i < rounds; ++i) {
    EXPECT_EQ(full, data("bin")) << i;
    EXPECT_TRUE(is_cut_short_of(data("asc"), full)) << i;
  }
  stop = true;
  writer.join();
}

// A data file replaced by another (renamed over it) while it is read: the
// reader keeps the file it opened, so each answer is that of one version.
TEST_F(FileFaultTest, AnswersFromOneVersionOfADataFileReplacedWhileItIsRead) {
  for (const comtrade_gen::DataFormat format : {comtrade_gen::DataFormat::kAscii, comtrade_gen::DataFormat::kBinary}) {
    comtrade_gen::RecordSpec shape;
    shape.analog_count = 2;
    shape.digital_count = 1;
    shape.samples = scaled(200000, 10);
    shape.format = format;
    const std::string base = format == comtrade_gen::DataFormat::kAscii ? "big_asc" : "big_bin";
    const std::string first = write_record("S1", base, shape).dat;
    shape.seed = 2;
    const std::string second = comtrade_gen::generate(shape).dat;
    const fs::path dat = record_path("S1", base + ".dat");
    const std::string answer_of_first = data(base);
    e2e::write_file(dat, second);
    const std::string answer_of_second = data(base);
    ASSERT_NE(answer_of_first, answer_of_second);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
      const fs::path next = record_path("S1", base + ".next");
      for (int round = 0; round < 2000 && !stop; ++round) {
        e2e::write_file(next, round % 2 == 0 ? first : second);
        fs::rename(next, dat);
        std::this_thread::sleep_for(2ms);
      }
    });
    for (int i = 0; i < scaled(20, 4); ++i) {
      const std::string answer = data(base);
      EXPECT_TRUE(answer == answer_of_first || answer == answer_of_second) << i << ": " << answer.substr(0, 200);
    }
    stop = true;
    writer.join();
  }
}

TEST_F(FileFaultTest, AnswersUnreadableFilesAsMissing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files of any mode";
  ::chmod(record_path("S1", "asc.cfg").c_str(), 0);
  ::chmod(record_path("S1", "bin.dat").c_str(), 0);
  EXPECT_NE(std::string::npos, info("asc").find("\"result\":2,"));
  EXPECT_EQ(kNoChannelData, data("asc"));
  EXPECT_NE(std::string::npos, info("bin").find("\"result\":200"));
  EXPECT_EQ(kNoChannelData, data("bin"));
  ::chmod(record_path("S1", "").c_str(), 0);
  EXPECT_NE(std::string::npos, list().find("\"result\":404"));
  ::chmod(record_path("S1", "").c_str(), 0755);
  ::chmod(record_path("S1", "asc.cfg").c_str(), 0644);
  ::chmod(record_path("S1", "bin.dat").c_str(), 0644);
}

TEST_F(FileFaultTest, AnswersFilesAndFoldersThatAreTheWrongKind) {
  e2e::write_file(m_records.path() / "Plain", "a station that is a file\n");
  EXPECT_NE(std::string::npos,
            ask("/getFileName_list", file_list_body("Plain")).find("\"result\":404"));
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("Plain", "asc")).find("\"result\":2,"));
  EXPECT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("Plain", "asc", kChannels)));

  // Folders where record files should be.
  fs::create_directories(record_path("S2", "dircfg.cfg"));
  fs::create_directories(record_path("S2", "dirdat.dat"));
  fs::copy_file(record_path("S1", "bin.cfg"), record_path("S2", "dirdat.cfg"));
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("S2", "dircfg")).find("\"result\":2,"));
  EXPECT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("S2", "dircfg", kChannels)));
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("S2", "dirdat")).find("\"result\":200"));
  EXPECT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("S2", "dirdat", kChannels)));
}

// A FIFO opens only once a writer comes, and the service has one thread: a
// record file that is one must be refused, not waited for.
TEST_F(FileFaultTest, AnswersRecordFilesThatAreFifosWithoutWaiting) {
  ASSERT_EQ(0, ::mkfifo(record_path("S1", "pipe.cfg").c_str(), 0644));
  fs::copy_file(record_path("S1", "asc.cfg"), record_path("S1", "pipedat.cfg"));
  ASSERT_EQ(0, ::mkfifo(record_path("S1", "pipedat.dat").c_str(), 0644));
  // Once one request waits, every later one does: stop at the first.
  ASSERT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("S1", "pipe"), 3s).find("\"result\":2,"));
  ASSERT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("S1", "pipedat", kChannels), 3s));
  EXPECT_TRUE(answers());
}

TEST(RegularFileTest, TellsRegularFilesFromEverythingElse) {
  e2e::TempDir dir;
  const fs::path file = dir.path() / "file";
  e2e::write_file(file, "x");
  fs::create_symlink("file", dir.path() / "link");
  fs::create_symlink("loop", dir.path() / "loop");
  ASSERT_EQ(0, ::mkfifo((dir.path() / "fifo").c_str(), 0644));
  EXPECT_TRUE(platform::is_regular_file(file.string()));
  EXPECT_TRUE(platform::is_regular_file(dir / "link"));
  for (const char* name : {"", "loop", "fifo", "missing"}) {
    EXPECT_FALSE(platform::is_regular_file(dir / name)) << name;
  }
  EXPECT_FALSE(platform::is_regular_file("/dev/null"));
}

TEST_F(FileFaultTest, ListsAndReadsStationsWithSymbolicLinkLoops) {
  const fs::path station = record_path("S1", "");
  fs::create_directory_symlink(".", station / "here");
  fs::create_directory_symlink("..", station / "up");
  fs::create_directories(station / "sub");
  fs::create_directory_symlink("..", station / "sub" / "back");
  fs::create_symlink("self.cfg", station / "self.cfg");
  fs::create_symlink("b.cfg", station / "a.cfg");
  fs::create_symlink("a.cfg", station / "b.cfg");
  fs::create_symlink("a.dat", station / "a.dat");
  fs::create_directory_symlink("Loop", m_records.path() / "Loop");

  const std::string names = list();
  EXPECT_NE(std::string::npos, names.find("\"asc\",")) << names;
  EXPECT_NE(std::string::npos, names.find("\"result\":200")) << names;
  for (const char* name : {"self", "a", "b"}) {
    EXPECT_NE(std::string::npos, info(name).find("\"result\":2,")) << name;
    EXPECT_EQ(kNoChannelData, data(name)) << name;
  }
  EXPECT_NE(std::string::npos,
            ask("/getFileName_list", file_list_body("Loop")).find("\"result\":404"));
  EXPECT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("Loop", "asc", kChannels)));

  // The group listing walks its fixed folder (relative to the working
  // directory) without following a link back into it.
  const fs::path groups = m_service->work_dir() / "D:/mirel/tools/files/comTradeFiles/test";
  fs::create_directories(groups / "G1");
  fs::create_directory_symlink(".", groups / "loop");
  EXPECT_EQ(kGroupOk, ask("/getGroupFile_list", "{}"));
  ASSERT_TRUE(process().wait_stdout_contains("DIR_VEC.size: 1\n"));
  EXPECT_EQ(std::string::npos, process().stdout_text().find("loop\t"));
}

}  // namespace
}  // namespace hostile
