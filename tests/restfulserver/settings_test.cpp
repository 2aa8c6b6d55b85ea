// Where the settings file is and what a handler reads from it as record root.
#include "restfulserver/settings.h"

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include <INIReader.h>
#include <gtest/gtest.h>

#include "support/e2e_support.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("TAVROOT", m_root.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("TAVROOT"); }
  void write_ini(const std::string& text) {
    e2e::write_file(m_root.path() / "cfg" / "ComTrade.ini", text);
  }
  e2e::TempDir m_root;
};

TEST_F(SettingsTest, BuildsThePathUnderCfg) {
  EXPECT_EQ("/opt/x/cfg/ComTrade.ini", settings_file_path("/opt/x"));
  EXPECT_EQ("/cfg/ComTrade.ini", settings_file_path(""));
}

TEST_F(SettingsTest, ReadsFileDirAnewOnEveryCall) {
  write_ini("[base]\nfileDir = /data/one\n");
  EXPECT_EQ("/data/one", read_record_root());
  write_ini("[BASE]\nFileDir=/data/two\nport=1\n");
  EXPECT_EQ("/data/two", read_record_root());
  EXPECT_EQ("/data/two", read_record_root());
  write_ini("[base]\nfileDir = /data/one\n");
  EXPECT_EQ("/data/one", read_record_root());
}

TEST_F(SettingsTest, GivesEmptyTextWithoutTheKeyOrTheFile) {
  EXPECT_EQ("", read_record_root());
  write_ini("[other]\nfileDir=/data\n");
  EXPECT_EQ("", read_record_root());
}

TEST_F(SettingsTest, JoinsARepeatedKeyWithANewline) {
  write_ini("[base]\nfileDir=/a\nfileDir=/b\n");
  EXPECT_EQ("/a\n/b", read_record_root());
}

// The handlers hand the reader the file's bytes; whatever the file holds,
// they must read the value the reader finds when it opens the file itself.
TEST_F(SettingsTest, ReadsFileDirAsTheReaderDoesFromTheFile) {
  const std::string long_value(300, 'x');
  const std::string big_comment = "; " + std::string(5000, 'c') + "\n";
  const std::string texts[] = {
      "",
      "[base]\r\nfileDir=/crlf\r\n",
      "[base]\nfileDir=/no/line/end",
      "\xEF\xBB\xBF[base]\nfileDir=/bom\n",
      "[base]\nfileDir=" + long_value + "\nport=1\n",
      "[base]\nfileDir=/a\n  continued\n",
      "[base]\nfileDir=/nul\0tail\nport=2\n",
      std::string("[base]\n\0junk\nfileDir=/after/nul\n", 30),
      big_comment + big_comment + "[base]\nfileDir=/after/8/KiB\n",
      "fileDir=/outside\n[base\nfileDir=/broken/section\n",
      "[base]\nfileDir = /spaced ; comment\n",
  };
  for (const std::string& text : texts) {
    write_ini(text);
    const std::string path = settings_file_path(m_root.path().string());
    EXPECT_EQ(INIReader(path).Get("base", "fileDir", ""), read_record_root()) << text;
  }
}

TEST_F(SettingsTest, ReadsTheReplyBudgetInMebibytesOrFallsBackToTheDefault) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  const struct {
    const char* text;
    std::uint64_t bytes;
  } cases[] = {
      {"32", 32 * kMiB},  {"1", kMiB},          {"0512", 512 * kMiB},
      {"", 512 * kMiB},   {"0", 512 * kMiB},    {"-5", 512 * kMiB},
      {"+5", 512 * kMiB}, {"1.5", 512 * kMiB},  {"64MB", 512 * kMiB},
      {"99999999999999999999999", UINT64_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(c.bytes, reply_budget_bytes(c.text)) << c.text;
}

TEST_F(SettingsTest, GivesNothingWhenTavrootIsUnset) {
  ::unsetenv("TAVROOT");
  EXPECT_EQ(std::nullopt, read_record_root());
}

}  // namespace
