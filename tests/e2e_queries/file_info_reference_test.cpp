// "/getFileInfo" from the real service, byte for byte, against the plainest
// computation of its answer: every value printed with snprintf("%.4f") one at
// a time and joined. Records of every file type, as pairs and as combined
// .cff files, short ones and long ones (the readers take different paths for
// them), with awkward factors.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "expected_answers.h"
#include "support/e2e_support.h"
#include "support/record_root_test.h"

namespace {

using namespace std::chrono_literals;

// Inexact in binary, ties at the fifth decimal, products rounding to (minus)
// zero, texts of more than a dozen characters, a negative factor.
const std::vector<std::pair<double, double>> kFactors = {
    {0.1, 0},  {3.0517578125e-05, -0.00005}, {-0.0125, 1.25}, {123456.789, 0.5},
    {1e-7, 0}, {6.16245, -23.59385}};
constexpr int kDigitals = 5;

// The samples of one generated record, row by row.
struct Samples {
  int count = 0;
  std::vector<std::int16_t> analog;  // count x kFactors.size()
  std::vector<int> digital;          // count x kDigitals, 0 or 1
  std::int16_t a(int s, int c) const { return analog[s * kFactors.size() + c]; }
  int d(int s, int j) const { return digital[s * kDigitals + j]; }
};

Samples make_samples(int count) {
  Samples samples;
  samples.count = count;
  std::uint32_t state = 12345;
  for (int s = 0; s < count; ++s) {
    for (std::size_t c = 0; c < kFactors.size(); ++c) {
      state = state * 1103515245u + 12345u;
      // The ends of the range now and then, otherwise anything.
      std::int16_t value = static_cast<std::int16_t>(state >> 16);
      if (s % 101 == 3) value = (c % 2 == 0) ? INT16_MIN : INT16_MAX;
      samples.analog.push_back(value);
    }
    for (int j = 0; j < kDigitals; ++j) samples.digital.push_back((s / (j + 1)) % 3 == 0);
  }
  return samples;
}

std::string make_cfg(int samples, const char* type) {
  std::string text = "REF,DEV,1999\n" + std::to_string(kFactors.size() + kDigitals) + "," +
                     std::to_string(kFactors.size()) + "A," + std::to_string(kDigitals) + "D\n";
  char line[256];
  for (std::size_t i = 0; i < kFactors.size(); ++i) {
    std::snprintf(line, sizeof line, "%zu,A%zu,,,V,%.17g,%.17g,0,-32768,32767,1,1,S\r\n", i + 1,
                  i + 1, kFactors[i].first, kFactors[i].second);
    text += line;
  }
  for (int j = 1; j <= kDigitals; ++j) text += std::to_string(j) + ",D" + std::to_string(j) + ",,,0\r\n";
  text += "50\r\n1\r\n10000," + std::to_string(samples) + "\r\n";
  text += "01/01/2020,00:00:00.000000\r\n01/01/2020,00:00:00.001000\r\n" + std::string(type) +
          "\r\n1\r\n";
  return text;
}

void put_u16(std::string& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
}

void put_u32(std::string& bytes, std::uint32_t value) {
  put_u16(bytes, static_cast<std::uint16_t>(value & 0xFFFF));
  put_u16(bytes, static_cast<std::uint16_t>(value >> 16));
}

// The same samples in the layout of `type`: 16-bit words, 32-bit integers
// or floats.
std::string make_binary_dat(const Samples& samples, const std::string& type) {
  std::string bytes;
  for (int s = 0; s < samples.count; ++s) {
    put_u32(bytes, static_cast<std::uint32_t>(s + 1));
    put_u32(bytes, static_cast<std::uint32_t>(s * 100));
    for (std::size_t c = 0; c < kFactors.size(); ++c) {
      const std::int16_t sample = samples.a(s, static_cast<int>(c));
      if (type == "BINARY") {
        put_u16(bytes, static_cast<std::uint16_t>(sample));
      } else if (type == "BINARY32") {
        put_u32(bytes, static_cast<std::uint32_t>(static_cast<std::int32_t>(sample)));
      } else {
        const float value = sample;
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        put_u32(bytes, bits);
      }
    }
    std::uint16_t status = 0;
    for (int j = 0; j < kDigitals; ++j) status |= static_cast<std::uint16_t>(samples.d(s, j) << j);
    put_u16(bytes, status);
  }
  return bytes;
}

std::string make_ascii_dat(const Samples& samples) {
  std::string text;
  for (int s = 0; s < samples.count; ++s) {
    text += std::to_string(s + 1) + "," + std::to_string(s * 100);
    for (std::size_t c = 0; c < kFactors.size(); ++c) {
      text += "," + std::to_string(samples.a(s, static_cast<int>(c)));
    }
    for (int j = 0; j < kDigitals; ++j) text += samples.d(s, j) ? ",1" : ",0";
    text += "\r\n";
  }
  return text;
}

// The reference: one snprintf per value.
std::string analog_text(const Samples& samples, int c) {
  std::string text;
  char value[400];
  for (int s = 0; s < samples.count; ++s) {
    std::snprintf(value, sizeof value, "%.4f",
                  static_cast<double>(samples.a(s, c)) * kFactors[c].first + kFactors[c].second);
    if (s > 0) text += ',';
    text += value;
  }
  return text;
}

std::string digital_text(const Samples& samples, int j) {
  std::string text;
  for (int s = 0; s < samples.count; ++s) {
    if (s > 0) text += ',';
    text += samples.d(s, j) ? '1' : '0';
  }
  return text;
}

std::string reply_bytes(const std::vector<std::string>& items) {
  return e2e::chunked_reply_bytes(expected::channel_data(items));
}

// EXPECT_EQ would print megabytes on a failure; the first difference is enough.
void expect_same(const std::string& expected, const std::string& got) {
  std::size_t at = 0;
  while (at < expected.size() && at < got.size() && expected[at] == got[at]) ++at;
  EXPECT_TRUE(expected == got) << "sizes " << expected.size() << " and " << got.size()
                               << ", first difference at byte " << at << ": want \""
                               << expected.substr(at > 30 ? at - 30 : 0, 80) << "\", got \""
                               << got.substr(at > 30 ? at - 30 : 0, 80) << "\"";
}

// A file type, and whether the record is one combined .cff.
struct Form {
  const char* type;
  bool combined;
};

class FileInfoReferenceTest : public e2e::RecordRootTestOn<::testing::TestWithParam<Form>> {
 protected:
  void write_record(const std::string& name, const Samples& samples) {
    const std::string type = GetParam().type;
    // A combined file's data ends with its section, whatever the .cfg claims.
    const std::string cfg = make_cfg(samples.count + (GetParam().combined ? 5 : 0), GetParam().type);
    const std::string dat = type == "ASCII" ? make_ascii_dat(samples) : make_binary_dat(samples, type);
    if (!GetParam().combined) {
      e2e::write_record_files(m_records.path() / "S", name, cfg, dat);
      return;
    }
    // The section lines as recorders vary them; an ASCII section needs no count.
    const std::string dat_line = type == "ASCII" ? "--- file type: DAT ASCII ---\r\n"
                                                 : "-- File Type:  dat " + type + ": " +
                                                       std::to_string(dat.size()) + " --\r\n";
    e2e::write_file(m_records.path() / "S" / (name + ".cff"),
                    "--- file type: CFG ---\r\n" + cfg + "--- file type: INF ---\r\n\r\n" +
                        "-- file type  HDR ---\r\nnotes\r\n" + dat_line + dat +
                        (type == "ASCII" ? "--- file type: INF ---\r\n9,9,9,9,9\r\n" : ""));
  }
  std::string ask(const std::string& name, const std::string& channels) {
    e2e::HttpClient client(m_service.port());
    EXPECT_TRUE(client.connected());
    client.send(e2e::post("/getFileInfo", "{\"groupName\":\"S\",\"fileName\":\"" + name +
                                              "\",\"channelList\":[" + channels + "]}"));
    return client.read_chunked_reply(60s).raw;
  }
};

TEST_P(FileInfoReferenceTest, EveryChannelOfAShortAndALongRecordMatchesPrintf) {
  // 3000 samples and 12000: below and above the length from which the
  // readers keep per-channel tables of value texts.
  for (int count : {3000, 12000}) {
    SCOPED_TRACE(count);
    const Samples samples = make_samples(count);
    const std::string name = "rec_" + std::to_string(count);
    write_record(name, samples);
    std::vector<std::string> items;
    std::string channels;
    for (std::size_t c = 0; c < kFactors.size(); ++c) {
      channels += (c ? ",\"A" : "\"A") + std::to_string(c + 1) + "\"";
      items.push_back(analog_text(samples, static_cast<int>(c)));
    }
    for (int j = 0; j < kDigitals; ++j) {
      channels += ",\"D" + std::to_string(j + 1) + "\"";
      items.push_back(digital_text(samples, j));
    }
    expect_same(reply_bytes(items), ask(name, channels));
  }
}

TEST_P(FileInfoReferenceTest, FollowsTheRequestOrderWithRepeatsAndUnknownNames) {
  const Samples samples = make_samples(9000);
  write_record("r", samples);
  const std::string a4 = analog_text(samples, 3);
  expect_same(reply_bytes({a4, digital_text(samples, 4), analog_text(samples, 0), a4}),
              ask("r", R"("A4","D5","nope","A1","A4")"));
  // The next request carries nothing of this one.
  expect_same(reply_bytes({digital_text(samples, 1)}), ask("r", R"("D2")"));
}

using FileInfoEscapeTest = e2e::RecordRootTest;

TEST_F(FileInfoEscapeTest, EscapesBytesFarInsideALongDigitalText) {
  // One quote, one backslash and one control byte among thousands of plain
  // states, each at another offset within its run of bytes.
  std::string dat, expected;
  for (int s = 0; s < 3000; ++s) {
    std::string state = s % 2 ? "1" : "0";
    if (s == 700) state = "a\"b";
    if (s == 1333) state = "c\\";
    if (s == 2900) state = "\x01";
    dat += std::to_string(s + 1) + ",0,5," + state + "\n";
    if (s > 0) expected += ',';
    expected += s == 700 ? "a\\\"b" : s == 1333 ? "c\\\\" : s == 2900 ? "\\u0001" : state;
  }
  e2e::write_record_files(m_records.path() / "S", "q",
                          "S,R,1999\n2,1A,1D\n1,Ia,,,A,1,0,0,-9,9,1,1,S\n1,Q,,,0\n50\n1\n1000,3000\n"
                          "01/01/2020,00:00:00\n01/01/2020,00:00:00\nASCII\n1\n",
                          dat);
  const std::string raw =
      ask("/getFileInfo", R"({"groupName":"S","fileName":"q","channelList":["Q"]})").raw;
  expect_same(reply_bytes({expected}), raw);
}

INSTANTIATE_TEST_SUITE_P(EveryForm, FileInfoReferenceTest,
                         ::testing::Values(Form{"BINARY", false}, Form{"ASCII", false},
                                           Form{"BINARY32", false}, Form{"FLOAT32", false},
                                           Form{"ASCII", true}, Form{"BINARY32", true},
                                           Form{"FLOAT32", true}),
                         [](const ::testing::TestParamInfo<Form>& info) {
                           return std::string(info.param.type) + (info.param.combined ? "_cff" : "_pair");
                         });

}  // namespace
