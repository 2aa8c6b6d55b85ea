// Saved inputs of the analysis query fuzzer, replayed through the harness
// the fuzz target runs.
#include <string>

#include <gtest/gtest.h>

#include "harness/analysis_case.h"
#include "seed_files.h"

namespace {

using fuzz_harness::last_answer;
using fuzz_harness::query_byte;
using fuzz_harness::run_analysis_case;

std::string run(const std::string& uri, const std::string& body) {
  const std::string input = query_byte(uri) + body;
  return run_analysis_case(bytes_of(input), input.size());
}

TEST(AnalysisSeedsTest, SeedsGetSoundAnswers) {
  const auto seeds = seed_files("analysis_queries");
  ASSERT_FALSE(seeds.empty());
  for (const auto& [name, bytes] : seeds) {
    EXPECT_EQ("", run_analysis_case(bytes_of(bytes), bytes.size())) << name;
    const char* success = name.rfind("export", 0) == 0 ? "Content-Disposition"
                          : name == "file_info.bin"     ? "\"comDataList\""
                                                        : "\"result\":200";
    EXPECT_NE(std::string::npos, last_answer().find(success)) << name << ": " << last_answer().substr(0, 300);
  }
}

// The harness's records must be read as meant, or the fuzzer would only
// ever reach the failures: the balanced set's positive sequence carries it
// all, the status steps are where they were written.
TEST(AnalysisSeedsTest, RecordsAreReadAsWritten) {
  ASSERT_EQ("", run("/getEvents", R"({"groupName":"Waves","fileName":"threeb","channelList":["Trip","Close"]})"));
  EXPECT_NE(std::string::npos, last_answer().find(R"("sample":29,"time":36250,"value":1)")) << last_answer();
  EXPECT_NE(std::string::npos, last_answer().find(R"("sample":49,"time":62500,"value":0)")) << last_answer();
  ASSERT_EQ("", run("/getPhasors", R"({"groupName":"Waves","fileName":"three","channelList":["Ua"],)"
                                   R"("points":1,"from":16,"to":32,"sequence":["Ua","Ub","Uc"]})"));
  EXPECT_NE(std::string::npos, last_answer().find("\"result\":200")) << last_answer();
  ASSERT_EQ("", run("/getRecordInfo", R"({"groupName":"Waves","fileName":"combo"})"));
  EXPECT_NE(std::string::npos, last_answer().find("800")) << last_answer();
}

}  // namespace
