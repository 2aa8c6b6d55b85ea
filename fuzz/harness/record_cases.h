// One fuzz execution against the record readers, shared by the libFuzzer
// targets and the regression tests so that a saved input replays exactly.
// Each function returns an empty text when the run kept every invariant, or
// what went wrong; the fuzz targets abort on a non-empty result.
#ifndef FUZZ_HARNESS_RECORD_CASES_H_
#define FUZZ_HARNESS_RECORD_CASES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_harness {

// The input is a whole .cfg. It is read, its type looked up and the model
// copied out; the two documented conversion exceptions are expected.
std::string run_cfg_case(const std::uint8_t* data, std::size_t size);

// Input framing of the data reader cases:
//   byte 0   mode: even = a built-in valid .cfg (variant mode / 2 of a small
//            table) and the rest of the input is the .dat; odd = the rest is a
//            .cfg up to the first kRecordSeparator, the .dat after it.
//   byte 1   seed of the channel selection.
// The record is read, channels are selected by the seed, then the ASCII
// (or BINARY) data reader runs and the channel-data store is checked.
std::string run_ascii_case(const std::uint8_t* data, std::size_t size);
std::string run_binary_case(const std::uint8_t* data, std::size_t size);

// Between the .cfg and the .dat of a framed input.
constexpr char kRecordSeparator[] = "\n@@@@\n";

// How many built-in .cfg variants each data reader case has.
int builtin_cfg_count();
// Built-in .cfg variant `variant` (taken modulo the count), of file type
// ASCII or BINARY.
std::string builtin_cfg(int variant, bool binary);

}  // namespace fuzz_harness

#endif  // FUZZ_HARNESS_RECORD_CASES_H_
