// libFuzzer entry: a .cfg and an ASCII .dat (see record_cases.h for the framing).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness/record_cases.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The readers print progress for every record; at thousands of records a
  // second that output is only cost.
  std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz_harness::run_ascii_case(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
