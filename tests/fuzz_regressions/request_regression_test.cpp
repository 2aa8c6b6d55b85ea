// Saved inputs of the request path fuzzer, replayed through the same harness
// (a real server on the loopback interface) the fuzz target runs.
#include <string>

#include <gtest/gtest.h>

#include "harness/request_case.h"
#include "seed_files.h"

namespace {

using fuzz_harness::last_reply;
using fuzz_harness::run_request_case;

std::string run(const std::string& input) { return run_request_case(bytes_of(input), input.size()); }

TEST(RequestSeedsTest, SeedsGetWellFormedReplies) {
  const auto seeds = seed_files("request_path");
  ASSERT_FALSE(seeds.empty());
  for (const auto& [name, bytes] : seeds) EXPECT_EQ("", run(bytes)) << name;
}

// The harness must see real answers from the store it made, or the fuzzer
// tests nothing beyond the parser.
TEST(RequestSeedsTest, StoreRecordsAreAnswered) {
  const std::string body = R"({"groupName":"North","fileName":"rec1","channelList":["Ua"]})";
  ASSERT_EQ("", run("POST /getFileInfo HTTP/1.1\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body));
  EXPECT_NE(std::string::npos, last_reply().find("[\"50.0000,51.0000,-3.5000,2.5000\"]"))
      << last_reply();
}

TEST(RequestSeedsTest, GarbageIsRejectedAndClosed) {
  ASSERT_EQ("", run("\x01\x02 nonsense\r\n\r\n"));
  EXPECT_EQ(0u, last_reply().find("HTTP/1.1 400 Bad Request\r\n")) << last_reply();
}

}  // namespace
