// Download names: plain ASCII for every client, the record's own name for
// those that read filename*.
#include "extensions/download_name.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(DownloadNameTest, GivesTheRecordsOwnNameBesideAPlainOne) {
  const struct {
    const char* record;
    const char* disposition;
  } cases[] = {
      {"line_test", "attachment; filename=\"line_test_0-10.csv\""},
      {"a\"b;c/d", "attachment; filename=\"a_b_c_d_0-10.csv\""},
      // GBK, as recorders write, and UTF-8, as 2013 records may.
      {"\xB1\xB1\xBE\xA9 1",
       "attachment; filename=\"____ 1_0-10.csv\"; filename*=UTF-8''%E5%8C%97%E4%BA%AC%201_0-10.csv"},
      {"\xE5\x8C\x97\xE4\xBA\xAC",
       "attachment; filename=\"_______0-10.csv\"; filename*=UTF-8''%E5%8C%97%E4%BA%AC_0-10.csv"},
      {"\xFF\xFF", "attachment; filename=\"___0-10.csv\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.disposition, download_disposition(c.record, 0, 10, ".csv")) << c.record;
}

}  // namespace
