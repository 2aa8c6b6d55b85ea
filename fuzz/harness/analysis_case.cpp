// The analysis case: request documents straight into the query answers, over
// records whose every sample a test could work out by hand.
#include "harness/analysis_case.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include <json/value.h>

#include "comtrade_format/comtrade_format.h"
#include "extensions/events.h"
#include "extensions/export_record.h"
#include "extensions/harmonics.h"
#include "extensions/phasors.h"
#include "extensions/record_info.h"
#include "extensions/station_list.h"
#include "extensions/waveform.h"
#include "harness/request_case.h"
#include "harness/scratch_dir.h"
#include "restfulserver/answer.h"
#include "restfulserver/channel_data_answer.h"
#include "restfulserver/channel_info_answer.h"
#include "restfulserver/reply.h"
#include "restfulserver/request.h"

namespace fuzz_harness {

namespace {

using Decide = Answer (*)(const Json::Value&, const std::string&);

struct Query {
  const char* uri;
  Decide decide;
};

const Query kQueries[] = {
    {"/getPhasors", answer_phasors},        {"/getHarmonics", answer_harmonics},
    {"/getEvents", answer_events},          {"/exportRecord", answer_export_record},
    {"/getWaveform", answer_waveform},      {"/getRecordInfo", answer_record_info},
    {"/getStationList", answer_station_list}, {"/getFileInfo", answer_channel_data},
    {"/getChannelInfo", answer_channel_info},
};
constexpr std::size_t kQueryCount = sizeof kQueries / sizeof kQueries[0];

std::string g_last_answer;

constexpr double kPi = 3.14159265358979323846;
constexpr int kSamples = 72;
// The first rate's samples: three cycles of 16 at 50 Hz, then 8 a cycle.
constexpr int kFirstRateSamples = 48;

// Sample n (from 1) in microseconds, by the two rates: a sample lasts the
// period of the rate it is recorded at.
long time_us(int n) {
  return n <= kFirstRateSamples ? (n - 1) * 1250L : kFirstRateSamples * 1250L + (n - kFirstRateSamples - 1) * 2500L;
}

// The raw analog samples of sample n: three phases 120 degrees apart and a
// current with DC, a 3rd and a 5th harmonic.
long raw_sample(int channel, int n) {
  const double angle = 2 * kPi * 50 * static_cast<double>(time_us(n)) * 1e-6;
  if (channel < 3) return std::lround(1000 * std::sin(angle - channel * 2 * kPi / 3));
  return std::lround(500 * std::sin(angle) + 100 * std::sin(3 * angle) + 40 * std::sin(5 * angle) + 50);
}

// Trip rises at sample 30, Close falls at sample 50.
int status(int channel, int n) { return channel == 0 ? (n >= 30 ? 1 : 0) : (n < 50 ? 1 : 0); }

std::string wave_cfg(const char* revision, const std::string& rates, const char* type) {
  return std::string("Waves station,W1,") + revision +
         "\n6,4A,2D\n"
         "1,Ua,A,,V,0.1,0,0,-32768,32767,1,1,P\n"
         "2,Ub,B,,V,0.1,0,0,-32768,32767,1,1,P\n"
         "3,Uc,C,,V,0.1,0,0,-32768,32767,1,1,P\n"
         "4,Ia,A,,A,0.01,0.5,0,-32768,32767,1,1,S\n"
         "1,Trip,,,0\n2,Close,,,1\n50\n" +
         rates + "01/01/2020,00:00:00.000000\n01/01/2020,00:00:00.100000\n" + type + "\n1\n";
}

const char kTwoRates[] = "2\n800,48\n400,72\n";

std::string ascii_data() {
  std::string out;
  for (int n = 1; n <= kSamples; ++n) {
    out += std::to_string(n) + "," + std::to_string(time_us(n));
    for (int c = 0; c < 4; ++c) out += "," + std::to_string(raw_sample(c, n));
    out += "," + std::to_string(status(0, n)) + "," + std::to_string(status(1, n)) + "\r\n";
  }
  return out;
}

// `analog(channel, n)` gives each analog sample's bytes.
template <typename Analog>
std::string binary_data(Analog analog) {
  std::string out;
  for (int n = 1; n <= kSamples; ++n) {
    out += little_endian(n, 4) + little_endian(time_us(n), 4);
    for (int c = 0; c < 4; ++c) out += analog(c, n);
    out += little_endian(status(0, n) | (status(1, n) << 1), 2);
  }
  return out;
}

std::string float_bytes(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return little_endian(static_cast<long>(bits), 4);
}

}  // namespace

void install_wave_records() {
  static const bool installed = [] {
    const std::filesystem::path group = install_store() / kWaveGroup;
    std::filesystem::create_directories(group);
    write_or_die(group / "three.cfg", wave_cfg("1999", kTwoRates, "ASCII"));
    write_or_die(group / "three.dat", ascii_data());
    const std::string words = binary_data([](int c, int n) { return little_endian(raw_sample(c, n), 2); });
    write_or_die(group / "threeb.cfg", wave_cfg("1999", kTwoRates, "BINARY"));
    write_or_die(group / "threeb.dat", words);
    // Time stamps only, and a sample that is not a number.
    write_or_die(group / "floats.cfg", wave_cfg("1999", "0\n0,72\n", "FLOAT32"));
    write_or_die(group / "floats.dat", binary_data([](int c, int n) {
                   return float_bytes(c == 3 && n == 40 ? NAN : static_cast<float>(raw_sample(c, n)) + 0.25f);
                 }));
    // No status channels at all.
    write_or_die(group / "plain.cfg", "Waves station,W2,1999\n1,1A,0D\n1,Ua,A,,V,0.1,0,0,-32768,32767,1,1,P\n50\n"
                                      "1\n800,16\n01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n");
    std::string plain;
    for (int n = 1; n <= 16; ++n) {
      plain += std::to_string(n) + "," + std::to_string(time_us(n)) + "," + std::to_string(raw_sample(0, n)) + "\n";
    }
    write_or_die(group / "plain.dat", plain);
    write_or_die(group / "combo.cff", "--- file type: CFG ---\r\n" + wave_cfg("2013", kTwoRates, "BINARY") +
                                          "0,0\n0,0\n--- file type: INF ---\r\n--- file type: HDR ---\r\n"
                                          "--- file type: DAT BINARY: " +
                                          std::to_string(words.size()) + " ---\r\n" + words);
    return true;
  }();
  (void)installed;
}

char query_byte(const std::string& uri) {
  for (std::size_t i = 0; i < kQueryCount; ++i) {
    if (uri == kQueries[i].uri) return static_cast<char>(i);
  }
  std::fprintf(stderr, "no query %s in the analysis case\n", uri.c_str());
  std::abort();
}

namespace {

std::string joined(const std::vector<SharedText>& parts) {
  std::string out;
  for (const SharedText& part : parts) out += *part;
  return out;
}

// The envelope every document and text answer opens with.
std::string check_json(const std::string& text) {
  Json::Value root;
  std::string errors;
  if (!parse_strict_json(text, root, errors)) return "an answer is not JSON: " + errors + text.substr(0, 200);
  if (!root.isObject() || !root["result"].isInt()) return "an answer lacks its result: " + text.substr(0, 200);
  return std::string();
}

// The window "<record>_<from>-<to>.cff" of the file name, as samples.
long window_samples(const std::string& headers) {
  const std::size_t dot = headers.find(".cff\"");
  const std::size_t under = headers.rfind('_', dot);
  const std::size_t dash = headers.find('-', under);
  if (dot == std::string::npos || under == std::string::npos || dash > dot) return -1;
  return std::atol(headers.c_str() + dash + 1) - std::atol(headers.c_str() + under + 1);
}

// An exported combined file is read back by our own reader, with as many
// samples as the window it was cut from.
std::string check_read_back(const std::string& headers, std::string_view body) {
  const std::string base = scratch_dir() + "/read_back";
  if (!write_file(base + ".cff", body.data(), body.size())) return "cannot write the exported file";
  ComTrade_format copy(base);
  try {
    if (copy.Get_cmtr_cfg_info() != 0) return "an exported combined file does not read back";
  } catch (const std::exception& error) {
    return std::string("an exported combined file throws when read back: ") + error.what();
  }
  if (copy.cfg().samp_count != window_samples(headers)) {
    return "an exported combined file reads back with " + std::to_string(copy.cfg().samp_count) +
           " samples: " + headers;
  }
  return std::string();
}

// A file's headers are whole lines; a combined file's data part is as long
// as its section line says.
std::string check_file(const std::string& headers, std::string_view body) {
  if (headers.size() < 2 || headers.compare(headers.size() - 2, 2, "\r\n") != 0 ||
      headers.find("Content-Disposition: attachment") == std::string::npos) {
    return "a file's headers are not whole lines: " + headers;
  }
  if (headers.find("application/octet-stream") == std::string::npos) {
    if (body.size() < 2 || body.compare(body.size() - 2, 2, "\r\n") != 0) return "a CSV file has a cut line";
    return std::string();
  }
  const std::string marker = "--- file type: DAT ";
  const std::size_t at = body.find(marker);
  const std::size_t colon = at == std::string::npos ? at : body.find(": ", at + marker.size());
  const std::size_t end = colon == std::string::npos ? colon : body.find(" ---\r\n", colon);
  if (end == std::string::npos) return "a combined file without its data section line";
  const std::string count(body.substr(colon + 2, end - colon - 2));
  if (std::to_string(body.size() - end - 6) != count) {
    return "a combined file's data is " + std::to_string(body.size() - end - 6) + " bytes, its line says " + count;
  }
  return check_read_back(headers, body);
}

}  // namespace

std::string run_analysis_case(const std::uint8_t* data, std::size_t size) {
  install_wave_records();
  g_last_answer.clear();
  if (size == 0) return std::string();
  const Query& query = kQueries[data[0] % kQueryCount];
  transport::Request request;
  request.method = "POST";
  request.uri = query.uri;
  request.body.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  Json::Value root;
  if (!parse_body(request, root)) return std::string();
  Answer answer;
  try {
    answer = query.decide(root, query.uri);
  } catch (const std::exception& error) {
    // The store's other station holds a .cfg with a number that does not
    // convert, which throws as it always has; these records are all sound.
    if (string_member(root, "groupName", "") == kWaveGroup) {
      return std::string(query.uri) + " threw on a sound record: " + error.what();
    }
    return std::string();
  }
  switch (answer.kind()) {
    case Answer::Kind::kNoReply:
      return std::string(query.uri) + " gave no reply";
    case Answer::Kind::kDocument:
      g_last_answer = write_json(answer.document(), NonFinite::kNull);
      return check_json(g_last_answer);
    case Answer::Kind::kText:
      g_last_answer = joined(answer.parts());
      return check_json(g_last_answer);
    case Answer::Kind::kFile:
      g_last_answer = answer.headers() + joined(answer.parts());
      return check_file(answer.headers(), std::string_view(g_last_answer).substr(answer.headers().size()));
  }
  return std::string();
}

const std::string& last_answer() { return g_last_answer; }

}  // namespace fuzz_harness
