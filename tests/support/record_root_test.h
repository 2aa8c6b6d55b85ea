// The fixture of end-to-end tests whose service runs on a record root of the
// test's own: a fresh folder as "fileDir", filled by the test before it asks.
// On another base for parameterised tests.
#ifndef TESTS_SUPPORT_RECORD_ROOT_TEST_H_
#define TESTS_SUPPORT_RECORD_ROOT_TEST_H_

#include <string>

#include <gtest/gtest.h>

#include "support/e2e_support.h"

namespace e2e {

template <typename Base>
class RecordRootTestOn : public Base {
 protected:
  RecordRootTestOn() : m_service(settings_for(m_records)) {}
  void SetUp() override { ASSERT_TRUE(m_service.ready()); }

  // One request on a fresh connection; its chunked reply.
  HttpClient::ChunkedReply ask(const std::string& uri, const std::string& body) {
    return e2e::ask(m_service.port(), post(uri, body));
  }

  TempDir m_records;  // before m_service: the service is started on it
  RunningService m_service;

 private:
  static Settings settings_for(const TempDir& records) {
    Settings settings;
    settings.file_dir = records.path().string();
    return settings;
  }
};

using RecordRootTest = RecordRootTestOn<::testing::Test>;

}  // namespace e2e

#endif  // TESTS_SUPPORT_RECORD_ROOT_TEST_H_
