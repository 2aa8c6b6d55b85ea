// One fuzz execution against the query answers themselves, without the
// transport: the first input byte picks a query, the rest is its request
// document, and the answer is checked for what a client may be sent. The
// records are small sound ones with known content (a balanced three-phase
// set, a current with harmonics, status steps, two rates, time stamps only,
// a combined file, a record without status channels), so every member of
// the windows, points and selectors reaches the analysis code.
#ifndef FUZZ_HARNESS_ANALYSIS_CASE_H_
#define FUZZ_HARNESS_ANALYSIS_CASE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_harness {

// The station of the analysis records, beside those of request_case.h.
constexpr char kWaveGroup[] = "Waves";

// Adds the analysis records to the store of install_store(). Idempotent.
void install_wave_records();

// Answers the input's query; returns an empty text when the answer is one a
// client may be sent, else what went wrong. A request that does not parse
// is skipped: the transport answers it before any query runs.
std::string run_analysis_case(const std::uint8_t* data, std::size_t size);

// The last answer's text: the document, the text, or a file's headers and
// bytes; empty when the input was skipped.
const std::string& last_answer();

// The query the first input byte picks, by its URI ("/getPhasors"...), for
// seeds and tests.
char query_byte(const std::string& uri);

}  // namespace fuzz_harness

#endif  // FUZZ_HARNESS_ANALYSIS_CASE_H_
