// What counting costs a request: everything the dispatcher adds for the
// metrics (the result noted, two clock readings, the counter and the
// latency histogram of the request's URI) timed over a mix of URIs and
// results. Prints nanoseconds a request; checks nothing.
//
//   counting_bench [REQUESTS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "extensions/metrics.h"
#include "restfulserver/answer.h"

int main(int argc, char** argv) {
  const long requests = argc > 1 ? std::atol(argv[1]) : 2000000;
  const std::string uris[] = {"/getFileName_list", "/getChannelInfo", "/getFileInfo", "/getWaveform"};
  const char* results[] = {"200", "200", "200", "0", "200"};
  start_metrics();
  double sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < requests; ++i) {
    const auto began = std::chrono::steady_clock::now();
    note_answer_result(results[i % 5]);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    sink += took.count();
    count_request(uris[i % 4], answer_result(), took.count());
  }
  const std::chrono::duration<double, std::nano> all = std::chrono::steady_clock::now() - start;
  std::printf("counting %.0f ns a request (%ld requests, %zu bytes of metrics)\n", all.count() / requests,
              requests, metrics_text().size() + (sink < 0 ? 1 : 0));
  return 0;
}
