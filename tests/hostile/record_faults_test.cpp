// Records and folders that used to cost the service memory out of all
// proportion to its answers (data files without line ends, a group folder
// listed over and over), and a channel name that could be listed but not
// asked for.
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "service_fixture.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kOneAnalogOneDigital =
    "S1,R,1999\n2,1A,1D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\n1,Trip,,,0\n50\n1\n1000,10\n"
    "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n";

class RecordFaultTest : public ServiceTest {
 protected:
  pid_t service_pid() {
    const std::optional<pid_t> pid = pid_with_cwd(m_service->work_dir());
    EXPECT_TRUE(pid);
    return pid.value_or(0);
  }
};

// A data file without line ends is one line as long as the file: it is no
// sample, and is dropped as it is read rather than held.
TEST_F(RecordFaultTest, DataWithoutLineEndsCostsItsAnswerNotItsSize) {
  struct Shape {
    const char* name;
    std::uint64_t bytes;
    char fill;  // NUL: a sparse file; CR: line ends of a Mac
  };
  const Shape shapes[] = {{"zeros", 256ull << 20, '\0'}, {"cr_only", 48ull << 20, '\r'}};
  for (const Shape& shape : shapes) {
    e2e::write_file(record_path("S1", std::string(shape.name) + ".cfg"), kOneAnalogOneDigital);
    const fs::path dat = record_path("S1", std::string(shape.name) + ".dat");
    if (shape.fill == '\0') {
      std::ofstream(dat, std::ios::binary).close();
      fs::resize_file(dat, shape.bytes);
    } else {
      std::string line;
      for (int i = 0; line.size() < shape.bytes; ++i) line += std::to_string(i) + ",0,5,1\r";
      e2e::write_file(dat, line);
    }
  }
  // The same in one .cff: a file that is one line and so holds no section,
  // and one whose data section is a line of dashes, the first byte of a
  // section line.
  const fs::path lineless = record_path("S1", "lineless.cff");
  std::ofstream(lineless, std::ios::binary).close();
  fs::resize_file(lineless, 256ull << 20);
  e2e::write_file(record_path("S1", "dashes.cff"), "--- file type: CFG ---\n" + kOneAnalogOneDigital +
                                                       "--- file type: DAT ASCII ---\n" + std::string(32 << 20, '-'));
  start();
  const pid_t pid = service_pid();
  ASSERT_TRUE(answers());
  // Each query is held to its own bound: holding a line whole would cost
  // 32 MiB and more at once, while the read buffers of one request (which a
  // sanitizer's allocator does not reuse for the next) cost about 12 MiB.
  long peak = peak_resident_kib(pid).value_or(0);
  const auto expect_small_growth = [&](const char* what) {
    const long now = peak_resident_kib(pid).value_or(0);
    EXPECT_LT(now - peak, 16 * 1024) << what << ": peak grew by " << now - peak << " KiB";
    peak = now;
  };
  for (const Shape& shape : shapes) {
    EXPECT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("S1", shape.name, R"(["Ia","Trip"])"), std::chrono::seconds(60)))
        << shape.name;
    expect_small_growth(shape.name);
  }
  EXPECT_NE(std::string::npos,
            ask("/getChannelInfo", channel_info_body("S1", "lineless"), std::chrono::seconds(60)).find("\"result\":2,"));
  expect_small_growth("lineless.cff");
  EXPECT_EQ(kNoChannelData, ask("/getFileInfo", channel_data_body("S1", "dashes", R"(["Ia","Trip"])"), std::chrono::seconds(60)));
  expect_small_growth("dashes.cff");
  EXPECT_NE(std::string::npos, process().stdout_text().find("skip dat line at byte 0: longer than"));
}

// A NUL byte ends a channel name wherever it is kept, so the name the
// header lists is one that can be asked for.
TEST_F(RecordFaultTest, ServesTheListedNameOfAChannelWithANulByte) {
  write_record("S1", "nul",
               "S1,R,1999\n1,1A,0D\n1,A\0" "1,,,A,1,0,0,-9,9,1,1,S\n50\n1\n1000,2\n"
               "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n"s,
               "1,0,3\n2,0,4\n");
  start();
  const std::string info = ask("/getChannelInfo", channel_info_body("S1", "nul"));
  EXPECT_NE(std::string::npos, info.find("\"name\":\"A\"}")) << info;
  EXPECT_EQ("{\"comDataList\":[[\"3.0000,4.0000\"]], \"errorinfo\":\"\", \"interval\" : 100, \"result\" : 200}",
            ask("/getFileInfo", channel_data_body("S1", "nul", R"(["A"])")));
}

// Only the number of group names ever listed is printed, so only the number
// is kept: listing a large group folder again and again leaves memory flat.
TEST_F(RecordFaultTest, ListingTheGroupFolderOverAndOverLeavesMemoryFlat) {
  if (sanitized()) GTEST_SKIP() << "the sanitizer's allocator keeps freed memory by design";
  start();
  const fs::path groups = m_service->work_dir() / "D:/mirel/tools/files/comTradeFiles/test";
  for (int i = 0; i < 1000; ++i) fs::create_directories(groups / (std::to_string(i) + std::string(100, 'g')));
  const pid_t pid = service_pid();
  ASSERT_TRUE(answers());
  const long before = resident_kib(pid).value_or(0);
  for (int i = 0; i < 150; ++i) ASSERT_EQ(kGroupOk, ask("/getGroupFile_list", "{}")) << i;
  ASSERT_TRUE(process().wait_stdout_contains("DIR_VEC.size: 151000\n"));
  const long grown = resident_kib(pid).value_or(0) - before;
  EXPECT_LT(grown, 6 * 1024) << "resident size grew by " << grown << " KiB";
}

}  // namespace
}  // namespace hostile
