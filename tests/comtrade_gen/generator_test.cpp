// The generated record's layout, determinism and the streaming writer.
#include "comtrade_gen/generator.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using comtrade_gen::RecordSpec;

std::vector<std::string> split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + sep.size();
  }
}

// Lines of a CRLF text; the text must end in CRLF.
std::vector<std::string> crlf_lines(const std::string& text) {
  std::vector<std::string> lines = split(text, "\r\n");
  EXPECT_EQ("", lines.back()) << "text does not end in CRLF";
  lines.pop_back();
  return lines;
}

using e2e::file_text;

std::uint32_t le(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

RecordSpec make_spec(int analog, int digital, int samples, bool binary, std::uint32_t seed = 7) {
  RecordSpec spec;
  spec.analog_count = analog;
  spec.digital_count = digital;
  spec.samples = samples;
  spec.format = binary ? comtrade_gen::DataFormat::kBinary : comtrade_gen::DataFormat::kAscii;
  spec.seed = seed;
  return spec;
}

TEST(Generator, SameSpecGivesSameBytesOtherSeedOtherBytes) {
  for (bool binary : {false, true}) {
    const RecordSpec spec = make_spec(4, 5, 300, binary);
    const auto a = comtrade_gen::generate(spec);
    const auto b = comtrade_gen::generate(spec);
    EXPECT_EQ(a.cfg, b.cfg);
    EXPECT_EQ(a.dat, b.dat);
    const auto c = comtrade_gen::generate(make_spec(4, 5, 300, binary, 8));
    EXPECT_NE(a.dat, c.dat);
  }
}

TEST(Generator, CfgHasOneLinePerChannelAndExactFactors) {
  RecordSpec spec = make_spec(3, 2, 10, false);
  spec.station = "\xB1\xB1\xBE\xA9";
  spec.analog_names = {"Ua\xB5\xE7\xD1\xB9", "Ub"};
  spec.digital_names = {"Trip"};
  const auto rec = comtrade_gen::generate(spec);
  const auto lines = crlf_lines(rec.cfg);
  ASSERT_EQ(2u + 3 + 2 + 7, lines.size());
  EXPECT_EQ("\xB1\xB1\xBE\xA9,GEN01,1999", lines[0]);
  EXPECT_EQ("5,3A,2D", lines[1]);
  const char* names[] = {"Ua\xB5\xE7\xD1\xB9", "Ub", "U3"};
  for (int i = 0; i < 3; ++i) {
    const auto fields = split(lines[2 + i], ",");
    ASSERT_EQ(13u, fields.size()) << lines[2 + i];
    EXPECT_EQ(std::to_string(i + 1), fields[0]);
    EXPECT_EQ(names[i], fields[1]);
    // A reader's std::stod must give back exactly the factors used.
    EXPECT_EQ(rec.factor_a[i], std::stod(fields[5]));
    EXPECT_EQ(rec.factor_b[i], std::stod(fields[6]));
  }
  EXPECT_EQ("1,Trip,,,0", lines[5]);
  EXPECT_EQ("2,D2,,,0", lines[6]);
  EXPECT_EQ("50", lines[7]);
  EXPECT_EQ("1", lines[8]);
  EXPECT_EQ("10000,10", lines[9]);
  EXPECT_EQ("01/12/2026,10:00:00.000000", lines[10]);
  EXPECT_EQ("ASCII", lines[12]);
  EXPECT_EQ("1", lines[13]);
  EXPECT_EQ("BINARY", crlf_lines(comtrade_gen::generate(make_spec(1, 0, 1, true)).cfg)[8]);
}

TEST(Generator, AsciiDataLinesMatchTheSamples) {
  RecordSpec spec = make_spec(2, 3, 50, false);
  spec.sample_rate = 4000;
  const auto rec = comtrade_gen::generate(spec);
  const auto lines = crlf_lines(rec.dat);
  ASSERT_EQ(50u, lines.size());
  ASSERT_EQ(50u * 2, rec.analog.size());
  ASSERT_EQ(50u * 3, rec.digital.size());
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const auto fields = split(lines[n], ",");
    ASSERT_EQ(2u + 2 + 3, fields.size()) << lines[n];
    EXPECT_EQ(std::to_string(n + 1), fields[0]);
    EXPECT_EQ(std::to_string(n * 250), fields[1]);  // microseconds at 4 kHz
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(std::to_string(rec.analog[n * 2 + i]), fields[2 + i]);
    for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(std::to_string(rec.digital[n * 3 + j]), fields[4 + j]);
  }
}

TEST(Generator, SamplesStayInRangeAndLookLikeAWave) {
  const auto rec = comtrade_gen::generate(make_spec(6, 40, 2000, true));
  int largest = 0;
  for (std::int16_t v : rec.analog) {
    EXPECT_GE(v, -32767);
    largest = std::max(largest, std::abs(static_cast<int>(v)));
  }
  EXPECT_GT(largest, 7000);
  int changes = 0;
  for (std::size_t n = 1; n < 2000; ++n) {
    for (std::size_t j = 0; j < 40; ++j) {
      ASSERT_LE(rec.digital[n * 40 + j], 1);
      changes += rec.digital[n * 40 + j] != rec.digital[(n - 1) * 40 + j];
    }
  }
  EXPECT_GT(changes, 0);
  EXPECT_LT(changes, 2000 * 40 / 50);  // states change rarely
}

TEST(Generator, BinaryRecordSizeFollowsTheChannelCounts) {
  struct Case {
    int analog, digital;
    std::size_t record_bytes;
  };
  const Case cases[] = {{0, 0, 8}, {3, 0, 14}, {3, 16, 16}, {3, 17, 18}, {64, 128, 8 + 128 + 16}};
  for (const Case& c : cases) {
    const auto rec = comtrade_gen::generate(make_spec(c.analog, c.digital, 11, true));
    EXPECT_EQ(11 * c.record_bytes, rec.dat.size()) << c.analog << "A " << c.digital << "D";
  }
}

TEST(Generator, BinaryRecordsHoldLittleEndianSamplesAndLowBitFirstStates) {
  const int analog = 3, digital = 19, samples = 400;
  const auto rec = comtrade_gen::generate(make_spec(analog, digital, samples, true));
  const std::size_t size = 8 + 2 * analog + 2 * 2;
  ASSERT_EQ(samples * size, rec.dat.size());
  for (int n = 0; n < samples; ++n) {
    const std::size_t at = n * size;
    EXPECT_EQ(static_cast<std::uint32_t>(n + 1), le(rec.dat, at, 4));
    EXPECT_EQ(static_cast<std::uint32_t>(n * 100), le(rec.dat, at + 4, 4));
    for (int i = 0; i < analog; ++i) {
      EXPECT_EQ(rec.analog[n * analog + i], static_cast<std::int16_t>(le(rec.dat, at + 8 + 2 * i, 2)));
    }
    for (int j = 0; j < digital; ++j) {
      const unsigned char byte = rec.dat[at + 8 + 2 * analog + j / 8];
      EXPECT_EQ(rec.digital[n * digital + j], (byte >> (j % 8)) & 1) << "sample " << n << " channel " << j;
    }
    // Bits past the last channel stay clear.
    EXPECT_EQ(0, static_cast<unsigned char>(rec.dat[at + 8 + 2 * analog + 2]) >> 3);
    EXPECT_EQ(0, rec.dat[at + 8 + 2 * analog + 3]);
  }
}

class GeneratorFiles : public ::testing::Test {
 protected:
  e2e::TempDir m_temp;
  const fs::path& m_dir = m_temp.path();
};

TEST_F(GeneratorFiles, StreamingWriterGivesTheSameBytesAsGenerate) {
  for (bool binary : {false, true}) {
    // Enough samples to cross the writer's flush size more than once.
    RecordSpec spec = make_spec(16, 20, binary ? 40000 : 15000, binary, 3);
    spec.analog_names = {"Ia\xB5\xE7"};
    const auto rec = comtrade_gen::generate(spec);
    const std::string base = (m_dir / (binary ? "bin" : "asc")).string();
    ASSERT_TRUE(comtrade_gen::write_record(base, spec));
    EXPECT_EQ(rec.cfg, file_text(base + ".cfg"));
    EXPECT_TRUE(rec.dat == file_text(base + ".dat")) << "binary " << binary;
    const std::string copy = base + "_copy";
    ASSERT_TRUE(comtrade_gen::write_record(copy, rec));
    EXPECT_TRUE(rec.dat == file_text(copy + ".dat"));
  }
}

TEST_F(GeneratorFiles, ZeroSamplesGiveAnEmptyDataFile) {
  const std::string base = (m_dir / "empty").string();
  ASSERT_TRUE(comtrade_gen::write_record(base, make_spec(2, 2, 0, true)));
  EXPECT_EQ(0u, fs::file_size(base + ".dat"));
  EXPECT_NE(std::string::npos, file_text(base + ".cfg").find("\r\n10000,0\r\n"));
}

// Error paths

TEST_F(GeneratorFiles, UnwritablePathOrInvalidSpecFails) {
  const std::string missing = (m_dir / "no_such_dir" / "rec").string();
  EXPECT_FALSE(comtrade_gen::write_record(missing, make_spec(1, 1, 1, false)));
  EXPECT_FALSE(comtrade_gen::write_record(missing, comtrade_gen::generate(make_spec(1, 1, 1, false))));
  RecordSpec too_many_names = make_spec(1, 0, 1, false);
  too_many_names.analog_names = {"a", "b"};
  EXPECT_FALSE(comtrade_gen::spec_is_valid(too_many_names));
  EXPECT_FALSE(comtrade_gen::write_record((m_dir / "x").string(), too_many_names));
  EXPECT_FALSE(comtrade_gen::spec_is_valid(make_spec(-1, 0, 1, false)));
  RecordSpec no_rate = make_spec(1, 0, 1, false);
  no_rate.sample_rate = 0;
  EXPECT_FALSE(comtrade_gen::spec_is_valid(no_rate));
  EXPECT_TRUE(comtrade_gen::generate(no_rate).dat.empty());
}

}  // namespace
