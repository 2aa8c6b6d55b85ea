// Record generator: one row producer feeds both the in-memory record and the
// streaming writer, so both give the same bytes for the same spec.
#include "comtrade_gen/generator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

namespace comtrade_gen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLineFrequency = 50.0;
constexpr int kAnalogLimit = 32767;
// Digital channels change state about once in this many samples.
constexpr std::uint64_t kToggleOdds = 500;
// The streaming writer hands the files this much at a time.
constexpr std::size_t kFlushBytes = 1 << 20;

// Factors are kept as text so the .cfg shows short decimals and a reader's
// std::stod gives back exactly the double used to compute expected values.
const char* const kFactorA[] = {"0.01", "0.0125", "0.003051851", "0.02", "0.005", "0.1", "0.00625"};
const char* const kFactorB[] = {"0", "0", "0.5", "-1.25", "0.001"};

// splitmix64: small, fast and the same on every standard library, unlike the
// std:: distributions.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform enough for test data in [0, bound).
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }

 private:
  std::uint64_t m_state;
};

struct ChannelShape {
  const char* factor_a;
  const char* factor_b;
  double amplitude;
  double phase;
};

// Produces the samples row by row, deterministic from the spec's seed.
class RowProducer {
 public:
  explicit RowProducer(const RecordSpec& spec)
      : m_spec(spec), m_rng(0x5EED0000ull ^ spec.seed), m_digital(spec.digital_count, 0) {
    for (int i = 0; i < spec.analog_count; ++i) {
      ChannelShape shape;
      shape.factor_a = kFactorA[m_rng.below(std::size(kFactorA))];
      shape.factor_b = kFactorB[m_rng.below(std::size(kFactorB))];
      shape.amplitude = 8000.0 + static_cast<double>(m_rng.below(22001));
      shape.phase = 2.0 * kPi * static_cast<double>(m_rng.below(360)) / 360.0;
      m_shapes.push_back(shape);
    }
    for (std::uint8_t& state : m_digital) state = static_cast<std::uint8_t>(m_rng.below(2));
  }

  const std::vector<ChannelShape>& shapes() const { return m_shapes; }

  // Fills `analog` and `digital` with the values of sample `index` (from 0).
  void next(std::int64_t index, std::vector<std::int16_t>& analog, std::vector<std::uint8_t>& digital) {
    const double t = static_cast<double>(index) / static_cast<double>(m_spec.sample_rate);
    analog.resize(m_shapes.size());
    for (std::size_t i = 0; i < m_shapes.size(); ++i) {
      const double wave = m_shapes[i].amplitude * std::sin(2.0 * kPi * kLineFrequency * t + m_shapes[i].phase);
      const double noise = static_cast<double>(m_rng.below(201)) - 100.0;
      long value = std::lround(wave + noise);
      value = std::clamp(value, static_cast<long>(-kAnalogLimit), static_cast<long>(kAnalogLimit));
      analog[i] = static_cast<std::int16_t>(value);
    }
    for (std::uint8_t& state : m_digital) {
      if (m_rng.below(kToggleOdds) == 0) state ^= 1;
    }
    digital = m_digital;
  }

 private:
  const RecordSpec& m_spec;
  SplitMix64 m_rng;
  std::vector<ChannelShape> m_shapes;
  std::vector<std::uint8_t> m_digital;
};

std::string analog_name(const RecordSpec& spec, int i) {
  if (static_cast<std::size_t>(i) < spec.analog_names.size()) return spec.analog_names[i];
  return "U" + std::to_string(i + 1);
}

std::string digital_name(const RecordSpec& spec, int i) {
  if (static_cast<std::size_t>(i) < spec.digital_names.size()) return spec.digital_names[i];
  return "D" + std::to_string(i + 1);
}

// Time stamp in microseconds of sample `index` (from 0).
std::uint64_t time_stamp(const RecordSpec& spec, std::int64_t index) {
  return static_cast<std::uint64_t>(index) * 1000000u / static_cast<std::uint64_t>(spec.sample_rate);
}

bool is_binary(const RecordSpec& spec) { return spec.format != DataFormat::kAscii; }

// Bytes of one binary record.
std::uint64_t record_bytes(const RecordSpec& spec) {
  const std::uint64_t sample_bytes = spec.format == DataFormat::kBinary ? 2 : 4;
  return 8 + sample_bytes * static_cast<std::uint64_t>(spec.analog_count) +
         2 * static_cast<std::uint64_t>((spec.digital_count + 15) / 16);
}

std::string cfg_text(const RecordSpec& spec, const std::vector<ChannelShape>& shapes) {
  const char* eol = "\r\n";
  std::string cfg;
  // The 32-bit formats came with the 2013 revision.
  const bool wide = spec.format == DataFormat::kBinary32 || spec.format == DataFormat::kFloat32;
  cfg += spec.station + ",GEN01," + (wide ? "2013" : "1999") + eol;
  cfg += std::to_string(spec.analog_count + spec.digital_count) + "," + std::to_string(spec.analog_count) +
         "A," + std::to_string(spec.digital_count) + "D" + eol;
  for (int i = 0; i < spec.analog_count; ++i) {
    cfg += std::to_string(i + 1) + "," + analog_name(spec, i) + ",A,,kV," + shapes[i].factor_a + "," +
           shapes[i].factor_b + ",0,-32767,32767,1,1,P" + eol;
  }
  for (int i = 0; i < spec.digital_count; ++i) {
    cfg += std::to_string(i + 1) + "," + digital_name(spec, i) + ",,,0" + eol;
  }
  cfg += std::string("50") + eol + "1" + eol;
  cfg += std::to_string(spec.sample_rate) + "," + std::to_string(spec.samples) + eol;
  cfg += std::string("01/12/2026,10:00:00.000000") + eol;
  cfg += std::string("01/12/2026,10:00:00.100000") + eol;
  cfg += std::string(format_name(spec.format)) + eol;
  cfg += std::string("1") + eol;
  return cfg;
}

void append_number(std::string& out, std::int64_t value) {
  char text[24];
  auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

void append_le(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Appends the .dat bytes of sample `index` (from 0).
void append_row(std::string& out, const RecordSpec& spec, std::int64_t index,
                const std::vector<std::int16_t>& analog, const std::vector<std::uint8_t>& digital) {
  const std::uint64_t t = time_stamp(spec, index);
  if (is_binary(spec)) {
    append_le(out, static_cast<std::uint32_t>(index + 1), 4);
    append_le(out, static_cast<std::uint32_t>(t), 4);
    for (std::int16_t value : analog) {
      if (spec.format == DataFormat::kBinary) {
        append_le(out, static_cast<std::uint16_t>(value), 2);
      } else if (spec.format == DataFormat::kBinary32) {
        append_le(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)), 4);
      } else {
        const float as_float = static_cast<float>(value);
        std::uint32_t bits;
        std::memcpy(&bits, &as_float, sizeof bits);
        append_le(out, bits, 4);
      }
    }
    // Byte w of the status area holds channels 8w+1..8w+8, lowest bit first.
    const std::size_t words = (digital.size() + 15) / 16;
    const std::size_t start = out.size();
    out.append(2 * words, '\0');
    for (std::size_t j = 0; j < digital.size(); ++j) {
      if (digital[j]) out[start + j / 8] = static_cast<char>(out[start + j / 8] | (1 << (j % 8)));
    }
    return;
  }
  append_number(out, index + 1);
  out += ',';
  append_number(out, static_cast<std::int64_t>(t));
  for (std::int16_t value : analog) {
    out += ',';
    append_number(out, value);
  }
  for (std::uint8_t state : digital) {
    out += ',';
    out += state ? '1' : '0';
  }
  out += "\r\n";
}

// The section lines of a combined file around the .cfg text; the .dat bytes
// follow the DAT line. A binary section says how many bytes it holds.
std::string cff_head(const RecordSpec& spec, const std::string& cfg) {
  std::string head = "--- file type: CFG ---\r\n" + cfg +
                     "--- file type: INF ---\r\n--- file type: HDR ---\r\n--- file type: DAT " +
                     format_name(spec.format);
  if (is_binary(spec)) head += ": " + std::to_string(record_bytes(spec) * static_cast<std::uint64_t>(spec.samples));
  return head + " ---\r\n";
}

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool write_all(std::FILE* file, const std::string& bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool write_file(const std::string& path, const std::string& bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  bool ok = write_all(file.get(), bytes);
  return std::fclose(file.release()) == 0 && ok;
}

}  // namespace

const char* format_name(DataFormat format) {
  switch (format) {
    case DataFormat::kBinary:
      return "BINARY";
    case DataFormat::kBinary32:
      return "BINARY32";
    case DataFormat::kFloat32:
      return "FLOAT32";
    case DataFormat::kAscii:
      break;
  }
  return "ASCII";
}

bool spec_is_valid(const RecordSpec& spec) {
  return spec.analog_count >= 0 && spec.analog_count <= 999999 && spec.digital_count >= 0 &&
         spec.digital_count <= 999999 && spec.samples >= 0 && spec.sample_rate > 0 &&
         spec.analog_names.size() <= static_cast<std::size_t>(spec.analog_count) &&
         spec.digital_names.size() <= static_cast<std::size_t>(spec.digital_count);
}

GeneratedRecord generate(const RecordSpec& spec) {
  GeneratedRecord record;
  if (!spec_is_valid(spec)) return record;
  RowProducer producer(spec);
  record.cfg = cfg_text(spec, producer.shapes());
  for (const ChannelShape& shape : producer.shapes()) {
    record.factor_a.push_back(std::stod(shape.factor_a));
    record.factor_b.push_back(std::stod(shape.factor_b));
  }
  const std::size_t samples = static_cast<std::size_t>(spec.samples);
  record.analog.reserve(samples * static_cast<std::size_t>(spec.analog_count));
  record.digital.reserve(samples * static_cast<std::size_t>(spec.digital_count));
  std::vector<std::int16_t> analog;
  std::vector<std::uint8_t> digital;
  for (std::int64_t i = 0; i < spec.samples; ++i) {
    producer.next(i, analog, digital);
    append_row(record.dat, spec, i, analog, digital);
    record.analog.insert(record.analog.end(), analog.begin(), analog.end());
    record.digital.insert(record.digital.end(), digital.begin(), digital.end());
  }
  if (spec.combined) record.cff = cff_head(spec, record.cfg) + record.dat;
  return record;
}

bool write_record(const std::string& base_path, const GeneratedRecord& record) {
  if (!record.cff.empty()) return write_file(base_path + ".cff", record.cff);
  return write_file(base_path + ".cfg", record.cfg) && write_file(base_path + ".dat", record.dat);
}

bool write_record(const std::string& base_path, const RecordSpec& spec) {
  if (!spec_is_valid(spec)) return false;
  RowProducer producer(spec);
  const std::string cfg = cfg_text(spec, producer.shapes());
  if (!spec.combined && !write_file(base_path + ".cfg", cfg)) return false;
  File file(std::fopen((base_path + (spec.combined ? ".cff" : ".dat")).c_str(), "wb"));
  if (!file) return false;
  std::string chunk;
  if (spec.combined) chunk = cff_head(spec, cfg);
  chunk.reserve(kFlushBytes + 4096);
  std::vector<std::int16_t> analog;
  std::vector<std::uint8_t> digital;
  bool ok = true;
  for (std::int64_t i = 0; i < spec.samples && ok; ++i) {
    producer.next(i, analog, digital);
    append_row(chunk, spec, i, analog, digital);
    if (chunk.size() >= kFlushBytes) {
      ok = write_all(file.get(), chunk);
      chunk.clear();
    }
  }
  ok = ok && write_all(file.get(), chunk);
  return std::fclose(file.release()) == 0 && ok;
}

}  // namespace comtrade_gen
