// The fixture every hostile test starts from: the real service on a record
// root of the test's own, and the checks that it survived whatever was done
// to it (still running, nothing on standard error, where a sanitizer reports).
#ifndef TESTS_HOSTILE_SERVICE_FIXTURE_H_
#define TESTS_HOSTILE_SERVICE_FIXTURE_H_

#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "comtrade_gen/generator.h"
#include "support/e2e_support.h"
#include "support/hostile_support.h"
#include "support/record_files.h"

namespace hostile {

// The answer of "/getFileInfo" when nothing could be read.
inline const std::string kNoChannelData =
    "{\"comDataList\":[], \"errorinfo\":\"\", \"interval\" : 100, \"result\" : 200}";
// The answer of "/getGroupFile_list": small, fixed, and logged by nobody.
inline const std::string kGroupOk =
    "{\"errorinfo\":\"\",\"result\":200,\"typeurl\":\"getGroupFile_list\"}\n";

inline std::string file_list_body(const std::string& group) {
  return "{\"groupName\":\"" + group + "\"}";
}
inline std::string channel_info_body(const std::string& group, const std::string& file) {
  return "{\"groupName\":\"" + group + "\",\"fileName\":\"" + file + "\"}";
}
inline std::string channel_data_body(const std::string& group, const std::string& file,
                                     const std::string& channels_json) {
  return "{\"groupName\":\"" + group + "\",\"fileName\":\"" + file +
         "\",\"channelList\":" + channels_json + "}";
}

class ServiceTest : public ::testing::Test {
 protected:
  // The service is started by start(), so a test can prepare the
  // environment it inherits (descriptor limit, sanitizer options) first.
  void start(e2e::Settings settings = {}, bool stdout_pipe = false, unsigned descriptor_limit = 0) {
    if (!settings.file_dir) settings.file_dir = m_records.path().string();
    m_service.emplace(settings, stdout_pipe, descriptor_limit);
    ASSERT_TRUE(m_service->ready());
  }
  void TearDown() override {
    if (!m_service) return;
    EXPECT_TRUE(m_service->process().running());
    EXPECT_EQ(m_expected_stderr, m_service->process().stderr_text());
  }

  // What the service is to have written to standard error by the end.
  std::string m_expected_stderr;

  unsigned short port() const { return m_service->port(); }
  e2e::ServiceProcess& process() { return m_service->process(); }
  std::filesystem::path record_path(const std::string& group, const std::string& name) const {
    return m_records.path() / group / name;
  }
  // Writes the record and returns what was written.
  comtrade_gen::GeneratedRecord write_record(const std::string& group, const std::string& name,
                                             const comtrade_gen::RecordSpec& shape) {
    return e2e::write_generated_record(m_records.path() / group, name, shape);
  }
  // A pair whose bytes the test spells out.
  void write_record(const std::string& group, const std::string& name, const std::string& cfg,
                    const std::string& dat) {
    e2e::write_record_files(m_records.path() / group, name, cfg, dat);
  }

  // One request on a fresh connection; the body of its reply, or "" when no
  // complete reply came within `timeout`.
  std::string ask(const std::string& uri, const std::string& body,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    e2e::HttpClient client(port());
    if (!client.connected() || !client.send(e2e::post(uri, body))) return "";
    e2e::HttpClient::ChunkedReply reply = client.read_chunked_reply(timeout);
    return reply.complete ? reply.body : "";
  }
  // Whether the service still answers at all.
  bool answers() { return ask("/getGroupFile_list", "{}") == kGroupOk; }

  e2e::TempDir m_records;
  std::optional<e2e::RunningService> m_service;
};

}  // namespace hostile

#endif  // TESTS_HOSTILE_SERVICE_FIXTURE_H_
