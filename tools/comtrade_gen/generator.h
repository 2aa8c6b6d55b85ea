// Deterministic COMTRADE record generator: sine waves plus noise for the
// analog channels, slowly toggling states for the digital ones, in any of the
// four data formats, as a .cfg/.dat pair or one combined .cff. Tests, the
// benchmark and the demo records all come from here.
#ifndef COMTRADE_GEN_GENERATOR_H_
#define COMTRADE_GEN_GENERATOR_H_

#include <cstdint>
#include <string>
#include <vector>

namespace comtrade_gen {

// The data formats. The 32-bit ones carry the very same sample values as
// BINARY (as 32-bit integers, or as floats), so a record gives the same
// answers in every format.
enum class DataFormat { kAscii, kBinary, kBinary32, kFloat32 };

struct RecordSpec {
  std::string station = "GEN";
  int analog_count = 4;
  int digital_count = 2;
  int samples = 1000;
  DataFormat format = DataFormat::kAscii;
  // One <base>.cff holding the configuration and the data, instead of a pair.
  bool combined = false;
  std::uint32_t seed = 1;
  int sample_rate = 10000;  // Hz, one rate for the whole record
  // Channel names; missing entries get "U1", "U2", ... / "D1", "D2", ....
  std::vector<std::string> analog_names;
  std::vector<std::string> digital_names;
};

struct GeneratedRecord {
  std::string cfg;   // the .cfg text
  std::string dat;   // the .dat bytes
  std::string cff;   // both as one .cff, when the spec asks for it
  // The values written, so tests can compute expected answers themselves.
  std::vector<double> factor_a, factor_b;  // per analog channel
  std::vector<std::int16_t> analog;        // samples x analog_count, row-major
  std::vector<std::uint8_t> digital;       // samples x digital_count, 0 or 1
};

// Builds the record in memory; the same spec always gives the same bytes.
GeneratedRecord generate(const RecordSpec& spec);

// Writes "<base_path>.cfg" and "<base_path>.dat" (or "<base_path>.cff" for a
// combined record). Returns false when a file cannot be written.
bool write_record(const std::string& base_path, const GeneratedRecord& record);

// Writes the same bytes that generate(spec) would hold, sample by sample,
// without keeping the samples: for records of hundreds of megabytes. Returns
// false when a file cannot be written or the spec is not valid.
bool write_record(const std::string& base_path, const RecordSpec& spec);

// The file type line of `format` ("ASCII", "BINARY", "BINARY32", "FLOAT32").
const char* format_name(DataFormat format);

// Whether `spec` describes a record this generator can write: counts and
// samples not negative, a positive sample rate, analog and digital counts of
// at most 999999, and at most as many names as channels.
bool spec_is_valid(const RecordSpec& spec);

}  // namespace comtrade_gen

#endif  // COMTRADE_GEN_GENERATOR_H_
