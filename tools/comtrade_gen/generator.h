// Deterministic COMTRADE 1999 record generator: sine waves plus noise for the
// analog channels, slowly toggling states for the digital ones. Tests, the
// benchmark and the demo records all come from here.
#ifndef COMTRADE_GEN_GENERATOR_H_
#define COMTRADE_GEN_GENERATOR_H_

#include <cstdint>
#include <string>
#include <vector>

namespace comtrade_gen {

struct RecordSpec {
  std::string station = "GEN";
  int analog_count = 4;
  int digital_count = 2;
  int samples = 1000;
  bool binary = false;
  std::uint32_t seed = 1;
  int sample_rate = 10000;  // Hz, one rate for the whole record
  // Channel names; missing entries get "U1", "U2", ... / "D1", "D2", ....
  std::vector<std::string> analog_names;
  std::vector<std::string> digital_names;
};

struct GeneratedRecord {
  std::string cfg;   // the .cfg text
  std::string dat;   // the .dat bytes
  // The values written, so tests can compute expected answers themselves.
  std::vector<double> factor_a, factor_b;  // per analog channel
  std::vector<std::int16_t> analog;        // samples x analog_count, row-major
  std::vector<std::uint8_t> digital;       // samples x digital_count, 0 or 1
};

// Builds the record in memory; the same spec always gives the same bytes.
GeneratedRecord generate(const RecordSpec& spec);

// Writes "<base_path>.cfg" and "<base_path>.dat". Returns false when a file
// cannot be written.
bool write_record(const std::string& base_path, const GeneratedRecord& record);

// Writes the same bytes that generate(spec) would hold, sample by sample,
// without keeping the samples: for records of hundreds of megabytes. Returns
// false when a file cannot be written or the spec is not valid.
bool write_record(const std::string& base_path, const RecordSpec& spec);

// Whether `spec` describes a record this generator can write: counts and
// samples not negative, a positive sample rate, analog and digital counts of
// at most 999999, and at most as many names as channels.
bool spec_is_valid(const RecordSpec& spec);

}  // namespace comtrade_gen

#endif  // COMTRADE_GEN_GENERATOR_H_
