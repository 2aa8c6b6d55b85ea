// The fixture of tests that talk to one service with default settings: it
// must still run afterwards and have said nothing on standard error, where a
// sanitizer would report.
#ifndef TESTS_E2E_RUNNING_SERVICE_TEST_H_
#define TESTS_E2E_RUNNING_SERVICE_TEST_H_

#include <gtest/gtest.h>

#include "support/e2e_support.h"

class RunningServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_service.ready()); }
  void TearDown() override {
    EXPECT_TRUE(m_service.process().running());
    EXPECT_EQ("", m_service.process().stderr_text());
  }
  unsigned short port() const { return m_service.port(); }
  e2e::RunningService m_service;
};

#endif  // TESTS_E2E_RUNNING_SERVICE_TEST_H_
