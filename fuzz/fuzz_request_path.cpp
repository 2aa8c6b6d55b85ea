// libFuzzer entry: raw HTTP bytes through the real transport and the four
// query handlers (see request_case.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness/request_case.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The service prints diagnostics for every request.
  std::freopen("/dev/null", "w", stdout);
  fuzz_harness::start_request_server();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz_harness::run_request_case(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
