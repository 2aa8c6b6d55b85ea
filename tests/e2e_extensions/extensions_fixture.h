// What the end-to-end tests of the extension queries share: made-up
// records written in either format, the answers expected of them, and a
// service over a record root of its own.
#ifndef TESTS_E2E_EXTENSIONS_EXTENSIONS_FIXTURE_H_
#define TESTS_E2E_EXTENSIONS_EXTENSIONS_FIXTURE_H_

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "comtrade_gen/generator.h"
#include "support/e2e_support.h"
#include "support/json_support.h"
#include "support/record_root_test.h"

namespace extensions_e2e {

inline const std::string kNoStation = "\xC7\xEB\xC7\xF3\xD5\xBE\xC3\xFB\xCE\xAA\xBF\xD5\xA3\xA1";
inline const std::string kBadFileName = "\xC7\xEB\xC7\xF3\xCA\xFD\xBE\xDD" "fileName is error\xA3\xA1";
inline const std::string kNoChannels =
    "\xCD\xA8\xB5\xC0\xCE\xAA\xBF\xD5\xA3\xAC\xBF\xC9\xC4\xDC\xD5\xBE\xC3\xFB\xB2\xBB\xB4\xE6"
    "\xD4\xDA\xA3\xAC\xBB\xF2\xC3\xFB\xD7\xD6\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3i";
inline const std::string kBadRequest = "\xC7\xEB\xC7\xF3\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3\xA3\xA1";
inline const std::string kNotFound =
    "channel \xD4\xDA" "cfg\xCE\xC4\xBC\xFE\xD6\xD0\xCE\xB4\xD5\xD2\xB5\xBD\xA3\xA1\xA3\xA1\xA3\xA1";
inline const std::string kBadList =
    "channel error\xC7\xEB\xC7\xF3\xCD\xA8\xB5\xC0\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3\xA3\xA1";
inline const std::string kEmptyList =
    "channel empty\xC7\xEB\xC7\xF3\xCD\xA8\xB5\xC0\xCA\xFD\xBE\xDD\xCE\xAA\xBF\xD5\xA3\xA1";

inline std::string envelope(int result, const std::string& errorinfo, const std::string& typeurl) {
  return "{\"errorinfo\":\"" + errorinfo + "\",\"result\":" + std::to_string(result) +
         ",\"typeurl\":\"" + typeurl + "\"}\n";
}

inline std::string fixed4(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Samples of a made-up record, row by row, and its files in either format.
struct Samples {
  std::vector<double> a, b;            // factors per analog channel
  std::vector<std::int32_t> analog;    // count x a.size()
  std::vector<int> digital;            // count x digital_count
  int digital_count = 0;
  std::size_t count() const { return a.empty() ? 0 : analog.size() / a.size(); }
  double value(std::size_t s, std::size_t c) const { return analog[s * a.size() + c] * a[c] + b[c]; }
};

inline Samples from_generator(const comtrade_gen::GeneratedRecord& record, int digital_count) {
  Samples samples;
  samples.a = record.factor_a;
  samples.b = record.factor_b;
  samples.analog.assign(record.analog.begin(), record.analog.end());
  samples.digital.assign(record.digital.begin(), record.digital.end());
  samples.digital_count = digital_count;
  return samples;
}

inline std::string cfg_of(const Samples& samples, const std::string& type, const std::string& rates) {
  std::string cfg = "S,DEV,2013\r\n" + std::to_string(samples.a.size() + samples.digital_count) + "," +
                    std::to_string(samples.a.size()) + "A," + std::to_string(samples.digital_count) + "D\r\n";
  char line[256];
  for (std::size_t c = 0; c < samples.a.size(); ++c) {
    std::snprintf(line, sizeof line, "%zu,U%zu,,,V,%.17g,%.17g,0,-32768,32767,1,1,S\r\n", c + 1, c + 1,
                  samples.a[c], samples.b[c]);
    cfg += line;
  }
  for (int j = 1; j <= samples.digital_count; ++j) cfg += std::to_string(j) + ",D" + std::to_string(j) + ",,,0\r\n";
  return cfg + "50\r\n" + rates + "01/01/2020,00:00:00.000000\r\n01/01/2020,00:00:00.100000\r\n" + type + "\r\n2\r\n";
}

inline void put_le(std::string& bytes, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The data file of `samples` in `type`, sample n stamped `stamps[n]` (or n).
inline std::string dat_of(const Samples& samples, const std::string& type, const std::vector<int>& stamps = {}) {
  std::string dat;
  for (std::size_t s = 0; s < samples.count(); ++s) {
    const int stamp = s < stamps.size() ? stamps[s] : static_cast<int>(s);
    if (type == "ASCII") {
      dat += std::to_string(s + 1) + "," + std::to_string(stamp);
      for (std::size_t c = 0; c < samples.a.size(); ++c) dat += "," + std::to_string(samples.analog[s * samples.a.size() + c]);
      for (int j = 0; j < samples.digital_count; ++j) dat += samples.digital[s * samples.digital_count + j] ? ",1" : ",0";
      dat += "\r\n";
      continue;
    }
    const int width = type == "BINARY" ? 2 : 4;
    put_le(dat, static_cast<std::uint32_t>(s + 1), 4);
    put_le(dat, static_cast<std::uint32_t>(stamp), 4);
    for (std::size_t c = 0; c < samples.a.size(); ++c) {
      put_le(dat, static_cast<std::uint32_t>(samples.analog[s * samples.a.size() + c]), width);
    }
    std::vector<std::uint8_t> status(2 * ((samples.digital_count + 15) / 16), 0);
    for (int j = 0; j < samples.digital_count; ++j) {
      if (samples.digital[s * samples.digital_count + j]) status[j / 8] |= static_cast<std::uint8_t>(1 << (j % 8));
    }
    dat.append(status.begin(), status.end());
  }
  return dat;
}

// The expected "channels" member entry of channel `name` (analog `c`, or
// digital `c` when `analog` is false, 0-based) over [from, to) in buckets of `step`.
inline std::string channel_entry(const Samples& samples, const std::string& name, bool analog, std::size_t c,
                          std::size_t from, std::size_t to, std::size_t step) {
  std::string mins, maxs;
  for (std::size_t first = from; first < to; first += step) {
    double low = 1e300, high = -1e300;
    for (std::size_t s = first; s < std::min(first + step, to); ++s) {
      const double v = analog ? samples.value(s, c) : samples.digital[s * samples.digital_count + c];
      low = std::min(low, v);
      high = std::max(high, v);
    }
    mins += (first > from ? "," : "") + (analog ? fixed4(low) : std::to_string(static_cast<int>(low)));
    maxs += (first > from ? "," : "") + (analog ? fixed4(high) : std::to_string(static_cast<int>(high)));
  }
  return "{\"index\":" + std::to_string(c + 1) + ",\"kind\":\"" + (analog ? "analog" : "status") +
         "\",\"max\":[" + maxs + "],\"min\":[" + mins + "],\"name\":\"" + name + "\"}";
}

inline std::string waveform_text(const std::vector<std::string>& channels, std::size_t from, std::size_t to,
                          std::size_t step, const std::vector<double>& times) {
  std::string text = "{\"channels\":[";
  for (std::size_t i = 0; i < channels.size(); ++i) text += (i ? "," : "") + channels[i];
  text += "],\"errorinfo\":\"\",\"from\":" + std::to_string(from) + ",\"result\":200,\"step\":" +
          std::to_string(step) + ",\"time\":[";
  for (std::size_t i = 0; i < times.size(); ++i) text += (i ? "," : "") + fixed4(times[i]);
  return text + "],\"to\":" + std::to_string(to) + ",\"typeurl\":\"getWaveform\"}\n";
}

inline Json::Value parse(const std::string& text) { return e2e::parse_json(text); }

// Whether `a` and `b` hold the same members and values, numbers compared as
// numbers (the writer gives 50 as 50.0).
inline bool same_json(const Json::Value& a, const Json::Value& b) {
  if (a.isNumeric() && b.isNumeric()) return a.asDouble() == b.asDouble();
  if (a.type() != b.type()) return false;
  if (a.isArray()) {
    if (a.size() != b.size()) return false;
    for (Json::ArrayIndex i = 0; i < a.size(); ++i) {
      if (!same_json(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.isObject()) {
    if (a.getMemberNames() != b.getMemberNames()) return false;
    for (const std::string& name : a.getMemberNames()) {
      if (!same_json(a[name], b[name])) return false;
    }
    return true;
  }
  return a == b;
}

// Bytes process `pid` has read through system calls (rchar of /proc/<pid>/io).
inline long long bytes_read(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  for (std::string line; std::getline(io, line);) {
    if (line.compare(0, 6, "rchar:") == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

class ExtensionsTest : public e2e::RecordRootTest {
 protected:
  // Every answer of an extension is checked as a strict JSON parser reads it.
  e2e::HttpClient::ChunkedReply ask(const std::string& uri, const std::string& body) {
    e2e::HttpClient::ChunkedReply reply = e2e::RecordRootTest::ask(uri, body);
    e2e::parse_strict_json(reply.body);
    return reply;
  }
  void write(const std::string& relative, const std::string& bytes) {
    e2e::write_file(m_records.path() / relative, bytes);
  }
  std::string waveform(const std::string& file, const std::string& members) {
    return ask("/getWaveform", "{\"groupName\":\"S\",\"fileName\":\"" + file + "\"," + members + "}").body;
  }
};

}  // namespace extensions_e2e

#endif  // TESTS_E2E_EXTENSIONS_EXTENSIONS_FIXTURE_H_
