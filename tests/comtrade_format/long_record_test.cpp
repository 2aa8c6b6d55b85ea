// Long records, where the readers keep a table of value texts per channel:
// every value must still be exactly what "%.4f" prints for it, whichever
// way it was produced (table, a text too long for the table, or a sample
// outside the 16-bit range of an ASCII file).
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "record_fixture.h"

namespace {

// Long enough that the readers use their tables.
constexpr int kSamples = 12000;

// Factors chosen to be awkward: inexact in binary, ties at the fifth
// decimal, tiny products that round to (minus) zero, texts longer than a
// table entry, a negative factor, and more channels than get a table.
const std::vector<std::pair<double, double>> kFactors = {
    {0.1, 0},        {0.003051851, 0.5}, {3.0517578125e-05, -0.00005}, {1e-7, 0},
    {-0.0125, 1.25}, {123456.789, 0},    {0.00625, 0.001},             {6.16245, -23.59385},
    {1, 0},          {0.02, -1.25},      {1e-4, 0.00005},              {2.5e-5, 0},
    {0.0001, 0},     {7.5e-5, 0},        {10.0, 0.33333},              {0.3, 0.1},
    {1.5, 2.5},      {1e9, 0},           {-1e-5, 0},                   {0.01, 0}};

// Sample `s` of channel `c`: spread over the whole 16-bit range, the two
// ends included, and different for every channel.
int sample_of(int s, int c) {
  if (s == 0) return c % 2 == 0 ? -32768 : 32767;
  if (s == 1) return c % 2 == 0 ? 32767 : -32768;
  return static_cast<int>((static_cast<long long>(s) * 40503 + c * 977) % 65536) - 32768;
}

std::string reference_text(const std::vector<long long>& samples, double a, double b) {
  std::string text;
  char value[400];
  for (std::size_t s = 0; s < samples.size(); ++s) {
    // The reader converts a clamped 32-bit integer, so the reference does too.
    std::snprintf(value, sizeof value, "%s%.4f", s ? "," : "",
                  static_cast<double>(static_cast<int>(samples[s])) * a + b);
    text += value;
  }
  return text;
}

class LongRecordTest : public RecordTest {
 protected:
  std::vector<std::string> all_names(int digitals) {
    std::vector<std::string> names;
    for (std::size_t i = 1; i <= kFactors.size(); ++i) names.push_back("A" + std::to_string(i));
    for (int j = 1; j <= digitals; ++j) names.push_back("D" + std::to_string(j));
    return names;
  }
  void load(const std::string& base, const std::vector<std::string>& names, bool binary) {
    ComTrade_format rec((m_dir / base).string());
    captured_stdout([&] {
      ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
      rec.Select_channels(names, static_cast<int>(names.size()));
      EXPECT_EQ(0, binary ? rec.loadBinaryData() : rec.loadAsciiData());
    });
  }
  void expect_analog(const std::string& name, const std::string& expected) {
    const auto found = CHAN_DATA_MAP.find(name);
    ASSERT_NE(CHAN_DATA_MAP.end(), found) << name;
    // EXPECT_EQ would print megabytes on a failure; the first difference is enough.
    const std::string& text = found->second;
    std::size_t at = 0;
    while (at < text.size() && at < expected.size() && text[at] == expected[at]) ++at;
    EXPECT_TRUE(text == expected) << name << " differs at byte " << at << ": got \""
                                  << text.substr(at > 20 ? at - 20 : 0, 60) << "\", want \""
                                  << expected.substr(at > 20 ? at - 20 : 0, 60) << "\"";
  }
};

// With 40 statuses a block holds enough values to be built in two lanes;
// with 3, in one.
TEST_F(LongRecordTest, BinaryValuesMatchPrintfOnEveryChannel) {
  for (const int digitals : {3, 40}) {
    write_cfg("r", make_cfg(kFactors, digitals, kSamples, "BINARY"));
    const int words = (digitals + 15) / 16;
    std::string dat;
    std::vector<std::vector<long long>> samples(kFactors.size());
    std::vector<std::string> digital_texts(static_cast<std::size_t>(digitals));
    for (int s = 0; s < kSamples; ++s) {
      put_u32(dat, static_cast<std::uint32_t>(s + 1));
      put_u32(dat, static_cast<std::uint32_t>(s * 100));
      for (std::size_t c = 0; c < kFactors.size(); ++c) {
        samples[c].push_back(sample_of(s, static_cast<int>(c)));
        put_u16(dat, static_cast<std::uint16_t>(samples[c].back() & 0xFFFF));
      }
      for (int w = 0; w < words; ++w) {
        const auto word = static_cast<std::uint16_t>(s * 7 + w * 13 + (s >> 4));
        put_u16(dat, word);
        for (int b = 0; b < 16 && 16 * w + b < digitals; ++b) {
          digital_texts[16 * w + b] += std::string(s ? "," : "") + ((word >> b) & 1 ? "1" : "0");
        }
      }
    }
    write_dat("r", dat);

    load("r", all_names(digitals), true);
    for (std::size_t c = 0; c < kFactors.size(); ++c) {
      expect_analog("A" + std::to_string(c + 1),
                    reference_text(samples[c], kFactors[c].first, kFactors[c].second));
    }
    for (int j = 0; j < digitals; ++j) {
      EXPECT_TRUE(CHAN_DATA_MAP["D" + std::to_string(j + 1)] == digital_texts[j]) << digitals << " D" << j + 1;
    }
  }
}

TEST_F(LongRecordTest, AsciiValuesMatchPrintfInsideAndOutsideTheSixteenBitRange) {
  const int digitals = 2;
  write_cfg("r", make_cfg(kFactors, digitals, kSamples, "ASCII"));
  // Every 97th line holds numbers a 16-bit table cannot cover; the 32-bit
  // ones are clamped, as strtol-style reading does.
  const long long kWide[] = {40000, -40000, 32768, -32769, 2147483647, -2147483648LL,
                             99999999999LL};
  std::string dat;
  std::vector<std::vector<long long>> samples(kFactors.size());
  for (int s = 0; s < kSamples; ++s) {
    dat += std::to_string(s + 1) + "," + std::to_string(s * 100);
    for (std::size_t c = 0; c < kFactors.size(); ++c) {
      long long value = sample_of(s, static_cast<int>(c));
      if (s % 97 == 5) value = kWide[(s / 97 + c) % 7];
      dat += "," + std::to_string(value);
      samples[c].push_back(std::min<long long>(std::max<long long>(value, INT32_MIN), INT32_MAX));
    }
    dat += ",1,0\r\n";
  }
  write_dat("r", dat);

  load("r", all_names(digitals), false);
  for (std::size_t c = 0; c < kFactors.size(); ++c) {
    expect_analog("A" + std::to_string(c + 1),
                  reference_text(samples[c], kFactors[c].first, kFactors[c].second));
  }
}

TEST_F(LongRecordTest, AsciiFieldsAcrossLongLinesAndShortLinesKeepTheirPlaces) {
  // Lines of several hundred bytes with fields of very different widths,
  // some lines cut short, and a last digital field that holds commas.
  write_cfg("r", make_cfg(40, 2, kSamples, "ASCII", 0.5, 0));
  std::string dat;
  std::string expected_a1, expected_a40, expected_d2;
  for (int s = 0; s < kSamples; ++s) {
    const bool short_line = s % 13 == 7;
    std::string line = std::to_string(s + 1) + ",0";
    for (int c = 1; c <= 40; ++c) {
      const std::string field = c % 3 == 0 ? "   " + std::to_string(-s - c) : std::to_string(s * c % 30000);
      if (short_line && c > 20) break;
      line += "," + field;
    }
    if (!short_line) line += ",1,x,y";
    dat += line + "\n";
    const char* comma = s ? "," : "";
    char value[64];
    std::snprintf(value, sizeof value, "%s%.4f", comma, (s * 1 % 30000) * 0.5);
    expected_a1 += value;
    std::snprintf(value, sizeof value, "%s%.4f", comma, short_line ? 0.0 : (s * 40 % 30000) * 0.5);
    expected_a40 += value;
    expected_d2 += std::string(comma) + (short_line ? "" : "x,y");
  }
  write_dat("r", dat);

  load("r", {"A1", "A40", "D2"}, false);
  expect_analog("A1", expected_a1);
  expect_analog("A40", expected_a40);
  EXPECT_TRUE(CHAN_DATA_MAP["D2"] == expected_d2);
}

}  // namespace
