// libFuzzer entry: request documents straight into the query answers, the
// analysis queries above all (see analysis_case.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness/analysis_case.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The readers print diagnostics for every record they open.
  std::freopen("/dev/null", "w", stdout);
  fuzz_harness::install_wave_records();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = fuzz_harness::run_analysis_case(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
