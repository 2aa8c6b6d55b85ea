// Start-up of the real binary: every early exit with its code and message,
// and the defaults of the settings file.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/e2e_support.h"

namespace {

using e2e::ServiceProcess;
using e2e::Settings;

bool is_empty_dir(const std::filesystem::path& dir) {
  return std::filesystem::is_empty(dir);
}

// An installation root and a working directory for the service, both empty.
class StartupTest : public ::testing::Test {
 protected:
  ServiceProcess::Options options() const { return {m_root.path().string(), m_work.path()}; }
  e2e::TempDir m_root;
  e2e::TempDir m_work;
};

TEST_F(StartupTest, ExitsWithZeroAndWritesNothingWhenTavrootIsUnset) {
  ServiceProcess service({std::nullopt, m_work.path()});
  EXPECT_EQ(0, service.wait_exit());
  EXPECT_TRUE(is_empty_dir(m_work.path()));
  EXPECT_EQ("", service.stdout_text());
  EXPECT_EQ("", service.stderr_text());
}

TEST_F(StartupTest, ExitsWith255AndSaysSoOnStderrWhenTheSettingsFileIsMissing) {
  ServiceProcess service(options());
  EXPECT_EQ(255, service.wait_exit());
  EXPECT_EQ("<< " + m_root.path().string() + "/cfg/ComTrade.ini file not exit!!\n",
            service.stderr_text());
  EXPECT_TRUE(is_empty_dir(m_work.path()));  // no log file anywhere it could go
}

TEST_F(StartupTest, ExitsWith255WhenTheLogCannotBeOpened) {
  const std::string log = (m_work.path() / "missing" / "x.log").string();
  Settings settings;
  settings.log_dir = log;
  settings.port = std::to_string(e2e::free_port());
  e2e::write_install_root(m_root.path(), settings);
  ServiceProcess service(options());
  EXPECT_EQ(255, service.wait_exit());
  EXPECT_EQ("open log file error: " + log + "\n", service.stdout_text());
}

// Nearly every descriptor taken at start: the service says so and ends,
// before it could fail to read its settings or records.
TEST_F(StartupTest, ExitsWithOneWhenTooFewDescriptorsAreFree) {
  Settings settings;
  settings.log_dir = (m_work.path() / "service.log").string();
  settings.port = std::to_string(e2e::free_port());
  e2e::write_install_root(m_root.path(), settings);
  ServiceProcess service({m_root.path().string(), m_work.path(), false, 64, 50});
  EXPECT_EQ(1, service.wait_exit());
  EXPECT_NE(std::string::npos,
            service.stderr_text().find("file descriptors are free (limit 64); at least 24 are needed"))
      << service.stderr_text();
}

TEST_F(StartupTest, ExitsWithOneWhenThePortIsTaken) {
  e2e::RunningService first;
  ASSERT_TRUE(first.ready());
  const std::string port = std::to_string(first.port());

  Settings settings;
  settings.log_dir = (m_work.path() / "second.log").string();
  settings.port = port;
  e2e::write_install_root(m_root.path(), settings);
  ServiceProcess second(options());
  EXPECT_EQ(1, second.wait_exit());
  EXPECT_EQ("Error starting orin_auth on port " + port + ": Address already in use\n",
            second.stderr_text());
  // The first one still answers.
  EXPECT_TRUE(e2e::ask(first.port(), e2e::post("/getGroupFile_list", "{}")).complete);
}

TEST_F(StartupTest, ExitsWithOneOnAPortTextThatIsNoPort) {
  Settings settings;
  settings.log_dir = (m_work.path() / "s.log").string();
  settings.port = "eighty";
  e2e::write_install_root(m_root.path(), settings);
  ServiceProcess service(options());
  EXPECT_EQ(1, service.wait_exit());
  EXPECT_EQ(0u, service.stderr_text().find("Error starting orin_auth on port eighty: "));
}

TEST_F(StartupTest, LogsToTheDefaultFileInTheWorkingDirectoryWithoutLogDir) {
  Settings settings;
  settings.port = std::to_string(e2e::free_port());
  e2e::write_install_root(m_root.path(), settings);
  ServiceProcess service(options());
  ASSERT_TRUE(service.wait_listening(static_cast<unsigned short>(std::stoi(*settings.port))));
  EXPECT_TRUE(std::filesystem::exists(m_work.path() / "D:comtradeInfo.log"));
}

TEST_F(StartupTest, ListensOnPort8000WithoutAPortKey) {
  if (!e2e::port_is_free(8000)) GTEST_SKIP() << "port 8000 is in use here";
  Settings settings;
  settings.log_dir = (m_work.path() / "s.log").string();
  e2e::write_install_root(m_root.path(), settings);
  ServiceProcess service(options());
  ASSERT_TRUE(service.wait_listening(8000));
  EXPECT_TRUE(e2e::ask(8000, e2e::post("/getGroupFile_list", "{}")).complete);
}

}  // namespace

// The settings reader keeps 199 bytes of a line: every longer line is named
// on standard error at start, and a path that still fits keeps working.
TEST_F(StartupTest, NamesEverySettingsLineTooLongForTheReader) {
  e2e::TempDir records;
  std::string file_dir = records.path().string() + "/";
  file_dir += std::string(190 - file_dir.size(), 'd');
  e2e::write_file(std::filesystem::path(file_dir) / "S1" / "r.cfg", "x");
  Settings settings;
  settings.file_dir = file_dir;  // "fileDir=" and 190 bytes: line 2, 198 bytes
  settings.extra = "; " + std::string(197, 'c') + "\r\n" +  // line 5, 199 bytes
                   "; " + std::string(198, 'c') + "\r\n" +  // line 6, 200 bytes
                   "; " + std::string(400, 'c') + "\n";      // line 7
  e2e::RunningService service(settings);
  ASSERT_TRUE(service.ready());
  EXPECT_EQ("{\"errorinfo\":\"\",\"fileName_list\":[\"r\"],\"result\":200,\"typeurl\":\"getFileName_list\"}\n",
            e2e::ask(service.port(), e2e::post("/getFileName_list", R"({"groupName":"S1"})")).body);
  const std::string ini = service.settings_path().string();
  EXPECT_EQ(ini + ": line 6 is longer than 199 bytes; the settings reader ignores the rest of it\n" +
                ini + ": line 7 is longer than 199 bytes; the settings reader ignores the rest of it\n",
            service.process().stderr_text());
}
