// The group listing over the fixed directory under the working directory:
// what reaches standard output, and that the list only grows.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/e2e_support.h"

namespace {

const std::string kGroupDir = "D:/mirel/tools/files/comTradeFiles/test";
const std::string kGroupOk =
    "{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n";

TEST(GroupListTest, PrintsEachGroupAndTheGrowingCount) {
  e2e::RunningService service;
  ASSERT_TRUE(service.ready());
  const std::filesystem::path groups = service.work_dir() / kGroupDir;
  for (const char* name : {"G2", "G1"}) std::filesystem::create_directories(groups / name);
  e2e::write_file(groups / "readme.txt", "not a group");

  EXPECT_EQ(kGroupOk, e2e::ask(service.port(), e2e::post("/getGroupFile_list", "{\"type\":\"all\"}")).body);
  ASSERT_TRUE(service.process().wait_stdout_contains("DIR_VEC.size: 2\n"));
  EXPECT_EQ(kGroupOk, e2e::ask(service.port(), e2e::post("/getGroupFile_list", "{}")).body);
  ASSERT_TRUE(service.process().wait_stdout_contains("DIR_VEC.size: 4\n"));

  const std::string once = "G1\t<dir>\nG2\t<dir>\n";
  EXPECT_EQ(once + "DIR_VEC.size: 2\n" + once + "DIR_VEC.size: 4\n", service.process().stdout_text());
}

TEST(GroupListTest, PrintsNothingWithoutTheDirectoryOrForADocumentThatDoesNotParse) {
  e2e::RunningService service;
  ASSERT_TRUE(service.ready());
  EXPECT_EQ(kGroupOk, e2e::ask(service.port(), e2e::post("/getGroupFile_list", "{}")).body);

  std::filesystem::create_directories(service.work_dir() / kGroupDir / "G1");
  EXPECT_NE(kGroupOk, e2e::ask(service.port(), e2e::post("/getGroupFile_list", "")).body);
  // A request that does reach the listing, to know the two above are done.
  e2e::ask(service.port(), e2e::post("/getGroupFile_list", "{}"));
  ASSERT_TRUE(service.process().wait_stdout_contains("DIR_VEC.size: 1\n"));
  EXPECT_EQ("G1\t<dir>\nDIR_VEC.size: 1\n", service.process().stdout_text());
}

}  // namespace
