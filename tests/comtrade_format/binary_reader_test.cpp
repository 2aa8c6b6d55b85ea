// Reading a BINARY .dat: record layout, bit order and the resulting texts.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

#include <stdexcept>

#include "comtrade_format/binary_layout.h"
#include "comtrade_format/block_file.h"
#include "record_fixture.h"

using namespace std::string_literals;

namespace {

using BinaryReaderTest = DataReaderTest<BinaryData>;

// One record: sample number, time stamp, the analog words, the status words.
const auto record = &BinaryData::record;

TEST_F(BinaryReaderTest, DecodesTheWorkedExampleRecord) {
  write_cfg("r", make_cfg(2, 3, 1, "BINARY", 0.01, 0));
  const std::string base = write_dat("r", "\x01\0\0\0\0\0\0\0\xE8\x03\x18\xFC\x05\x00"s);
  std::string out =
      captured_stdout([&] { EXPECT_EQ(0, load("r", {"A1", "A2", "D1", "D2", "D3"})); });
  EXPECT_NE(std::string::npos, out.find("check binary file success: " + base +
                                        ".dat\ndat_count: 14, semp_count: 1\n"));
  EXPECT_EQ("10.0000", text_of("A1"));
  EXPECT_EQ("-10.0000", text_of("A2"));
  EXPECT_EQ("1", text_of("D1"));
  EXPECT_EQ("0", text_of("D2"));
  EXPECT_EQ("1", text_of("D3"));
}

TEST_F(BinaryReaderTest, ReadsAnalogWordsAsSignedLittleEndian) {
  write_cfg("r", make_cfg(1, 0, 4, "BINARY"));
  write_dat("r", record(1, {0x8000}, {}) + record(2, {0x7FFF}, {}) + record(3, {0x0080}, {}) +
                     record(4, {0xFFFF}, {}));
  EXPECT_EQ(0, load("r", {"A1"}));
  EXPECT_EQ("-32768.0000,32767.0000,128.0000,-1.0000", text_of("A1"));
}

// BINARY32 and FLOAT32 records are BINARY ones with 4-byte analog samples;
// every value is sample * a + b in double precision, as "%.4f" writes it.
TEST_F(BinaryReaderTest, DecodesThirtyTwoBitSamplesAtTheirLimits) {
  const double a = 0.5;
  const double b = 1;
  // Only an offset of -0.0 leaves -0.0 * a + b its sign.
  const double float_b = -0.0;
  const auto printf_text = [](double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.4f", value);
    return std::string(text);
  };
  const std::vector<std::int32_t> integers = {INT32_MIN, INT32_MAX, -1, 0, 12345, -32768, 32767, 40000};
  const std::vector<float> floats = {std::numeric_limits<float>::denorm_min(),
                                     -std::numeric_limits<float>::denorm_min(),
                                     std::numeric_limits<float>::max(),
                                     -std::numeric_limits<float>::max(),
                                     std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN(),
                                     -0.0f, 0.1f, 12.0f, -32768.0f, 32767.0f, 32768.0f, 1e10f,
                                     -32769.0f, 32767.5f, -2147483648.0f, 2147483520.0f};
  // Few records format every value; many let whole values use the tables.
  for (const int repeats : {1, 1200}) {
    std::string dat32, datf, expected32, expectedf, expected_bits;
    std::uint32_t n = 0;
    for (int r = 0; r < repeats; ++r) {
      for (std::size_t i = 0; i < integers.size(); ++i, ++n) {
        put_u16(put_u32(put_u32(put_u32(dat32, n), n), static_cast<std::uint32_t>(integers[i])), n & 1);
        expected32 += (n ? "," : "") + printf_text(integers[i] * a + b);
        expected_bits += n ? (n & 1 ? ",1" : ",0") : "0";
      }
    }
    for (int r = 0; r < repeats; ++r) {
      for (std::size_t i = 0; i < floats.size(); ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &floats[i], sizeof bits);
        put_u16(put_u32(put_u32(put_u32(datf, 0), 0), bits), 0);
        expectedf += (r + i ? "," : "") + printf_text(static_cast<double>(floats[i]) * a + float_b);
      }
    }
    write_cfg("i", make_cfg(1, 1, static_cast<int>(n), "BINARY32 ", a, b));
    write_dat("i", dat32);
    std::string out = captured_stdout([&] { EXPECT_EQ(0, load("i", {"A1", "D1"})); });
    EXPECT_NE(std::string::npos, out.find("dat_count: 14, semp_count: " + std::to_string(n) + "\n"));
    EXPECT_TRUE(text_of("A1") == expected32) << repeats << ": " << text_of("A1").substr(0, 200);
    EXPECT_TRUE(text_of("D1") == expected_bits) << repeats;

    write_cfg("f", make_cfg(1, 1, static_cast<int>(repeats * floats.size()), "Float32", a, float_b));
    write_dat("f", datf);
    EXPECT_EQ(0, load("f", {"A1"}));
    EXPECT_TRUE(text_of("A1") == expectedf) << repeats << ": " << text_of("A1").substr(0, 300);
  }
}

TEST_F(BinaryReaderTest, SixteenChannelsTakeOneStatusWordSeventeenTakeTwo) {
  write_cfg("r", make_cfg(1, 16, 2, "BINARY"));
  // 10-byte records: a second status word would shift the next record.
  write_dat("r", record(1, {5}, {0x8001}) + record(2, {6}, {0x7FFE}));
  EXPECT_EQ(0, load("r", {"A1", "D1", "D16"}));
  EXPECT_EQ("5.0000,6.0000", text_of("A1"));
  EXPECT_EQ("1,0", text_of("D1"));
  EXPECT_EQ("1,0", text_of("D16"));

  write_cfg("s", make_cfg(1, 17, 2, "BINARY"));
  write_dat("s", record(1, {5}, {0x0000, 0x0001}) + record(2, {6}, {0xFFFF, 0xFFFE}));
  EXPECT_EQ(0, load("s", {"A1", "D16", "D17"}));
  EXPECT_EQ("5.0000,6.0000", text_of("A1"));
  EXPECT_EQ("0,1", text_of("D16"));
  EXPECT_EQ("1,0", text_of("D17"));
}

TEST_F(BinaryReaderTest, TakesChannelNineFromTheSecondStatusByte) {
  write_cfg("r", make_cfg(0, 12, 3, "BINARY"));
  write_dat("r", record(1, {}, {0x0100}) + record(2, {}, {0x00FF}) + record(3, {}, {0xFE01}));
  EXPECT_EQ(0, load("r", {"D9"}));
  EXPECT_EQ("1,0,0", text_of("D9"));
}

TEST_F(BinaryReaderTest, ReadsBitsOfTwoHundredChannels) {
  write_cfg("r", make_cfg(0, 200, 1, "BINARY"));
  std::vector<std::uint16_t> status(13, 0);
  status[12] = 0x0080;  // channel 200: bit 7 of status byte 24
  write_dat("r", record(1, {}, status));
  EXPECT_EQ(0, load("r", {"D199", "D200"}));
  EXPECT_EQ("0", text_of("D199"));
  EXPECT_EQ("1", text_of("D200"));
}

TEST_F(BinaryReaderTest, RecordsAcrossBlockBoundariesStayWhole) {
  // 14-byte records do not divide a block, so many records straddle one; a
  // count that is no multiple of eight leaves statuses after the last eight.
  // The file is large enough to be read ahead on a second thread.
  const int records = 700003;
  const std::vector<int> channels = {1, 3, 8, 9, 11};  // two status bytes
  std::string dat, expected;
  std::vector<std::string> expected_statuses(channels.size());
  dat.reserve(records * 14);
  for (int i = 0; i < records; ++i) {
    const auto word = static_cast<std::uint16_t>(i * 7);
    const auto status = static_cast<std::uint16_t>((i * 37) ^ (i >> 3));
    dat += record(i, {0, word}, {status});
    if (i) expected += ',';
    expected += std::to_string(static_cast<std::int16_t>(word)) + ".0000";
    for (std::size_t c = 0; c < channels.size(); ++c) {
      if (i) expected_statuses[c] += ',';
      expected_statuses[c] += (status >> (channels[c] - 1) & 1) != 0 ? '1' : '0';
    }
  }
  write_cfg("r", make_cfg(2, 11, records, "BINARY"));
  write_dat("r", dat);
  EXPECT_EQ(0, load("r", {"A2", "D1", "D3", "D8", "D9", "D11"}));
  EXPECT_TRUE(text_of("A2") == expected);
  for (std::size_t c = 0; c < channels.size(); ++c) {
    EXPECT_TRUE(text_of("D" + std::to_string(channels[c])) == expected_statuses[c]) << channels[c];
  }
}

TEST_F(BinaryReaderTest, SlicesCopyTheRawSamplesAndStatusesOfTheChosenChannels) {
  // 6 analog channels and 20 statuses; sample of record r, channel c, and
  // the status words, all varying from record to record.
  const auto word = [](int r, int c) { return static_cast<std::uint32_t>(r * 131 + c * 7919) ^ 0x5A5Au; };
  const struct {
    const char* what;
    std::vector<std::string> channels;
    const char* type;
    int written;
    SampleWindow window;
  } cases[] = {
      {"the first channels of each kind", {"A1", "A2", "A3", "D1", "D2"}, "BINARY", 3000, {450, 2550}},
      {"analog channels apart, out of order", {"A4", "A2", "D1"}, "BINARY", 3000, {0, 3000}},
      {"a status away from its place", {"A1", "D2"}, "BINARY", 3000, {0, 3000}},
      {"seventeen statuses of twenty", {"A6", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8", "D9", "D10", "D11",
                                        "D12", "D13", "D14", "D15", "D16", "D17"}, "BINARY", 3000, {7, 2999}},
      {"no status", {"A1", "A2", "A3"}, "BINARY", 3000, {0, 3000}},
      {"32-bit samples", {"A1", "A2", "D1"}, "BINARY32", 3000, {100, 200}},
      {"a file shorter than its count", {"A1", "A2", "D1", "D2"}, "BINARY", 2001, {5, 3000}},
  };
  for (const auto& c : cases) {
    const bool wide = std::string(c.type) == "BINARY32";
    const int analog_bytes = wide ? 4 : 2;
    std::string dat;
    for (int r = 0; r < c.written; ++r) {
      put_u32(dat, static_cast<std::uint32_t>(r + 1));
      put_u32(dat, static_cast<std::uint32_t>(r * 250));
      for (int a = 0; a < 6; ++a) {
        wide ? put_u32(dat, word(r, a)) : put_u16(dat, static_cast<std::uint16_t>(word(r, a)));
      }
      put_u16(dat, static_cast<std::uint16_t>(word(r, 100)));
      put_u16(dat, static_cast<std::uint16_t>(word(r, 101)));
    }
    write_cfg("r", make_cfg(6, 20, 3000, c.type));
    write_dat("r", dat);
    ComTrade_format rec((m_dir / "r").string());
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
    rec.Select_channels(c.channels, static_cast<int>(c.channels.size()));
    // The slice by its definition: number, stamp, the chosen analog samples
    // in file order, the chosen statuses in file order from bit 0.
    std::vector<int> analogs, digitals;
    for (int a = 1; a <= 6; ++a) {
      if (std::count(c.channels.begin(), c.channels.end(), "A" + std::to_string(a))) analogs.push_back(a - 1);
    }
    for (int d = 1; d <= 20; ++d) {
      if (std::count(c.channels.begin(), c.channels.end(), "D" + std::to_string(d))) digitals.push_back(d - 1);
    }
    const std::int64_t record_bytes = 8 + 6 * analog_bytes + 4;
    const std::int64_t last = std::min<std::int64_t>(c.window.to, c.written);
    std::string expected;
    for (std::int64_t r = c.window.from; r < last; ++r) {
      const char* record = dat.data() + r * record_bytes;
      put_u32(expected, static_cast<std::uint32_t>(r - c.window.from + 1));
      expected.append(record + 4, 4);
      for (int a : analogs) expected.append(record + 8 + a * analog_bytes, static_cast<std::size_t>(analog_bytes));
      std::string statuses(2 * ((digitals.size() + 15) / 16), '\0');
      for (std::size_t k = 0; k < digitals.size(); ++k) {
        const auto byte = static_cast<unsigned char>(record[8 + 6 * analog_bytes + digitals[k] / 8]);
        if ((byte >> (digitals[k] % 8) & 1) != 0) statuses[k / 8] = static_cast<char>(statuses[k / 8] | (1 << (k % 8)));
      }
      expected += statuses;
    }
    std::string out = "head";
    EXPECT_EQ(last - c.window.from, rec.writeSliceData(c.window, out)) << c.what;
    EXPECT_TRUE(out == "head" + expected) << c.what;
  }
}

TEST_F(BinaryReaderTest, HandsOnTheRecordsWhoseStatusesChangeWithAllTheirStatuses) {
  // Twelve statuses over two status bytes, several changing at once.
  const int records = 200;
  const auto state = [](int r, int c) { return (r / (c + 1)) % 2 != 0; };
  std::string dat;
  for (int r = 0; r < records; ++r) {
    std::vector<int> statuses;
    for (int c = 0; c < 12; ++c) statuses.push_back(state(r, c));
    dat += BinaryData::sample(static_cast<std::uint32_t>(r + 1), {r}, statuses);
  }
  write_cfg("r", make_cfg(1, 12, records, "BINARY"));
  write_dat("r", dat);
  ComTrade_format rec((m_dir / "r").string());
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  const std::vector<std::string> channels = {"D12", "D1", "D7", "D8", "D9", "D2", "D3", "D4", "D5", "D6", "D10", "D11"};
  rec.Select_channels(channels, static_cast<int>(channels.size()));
  for (const SampleWindow window : {SampleWindow{0, records}, SampleWindow{37, 150}}) {
    RowsSeen all;
    RowsSeen changes;
    ASSERT_EQ(0, rec.loadSamples({window}, all));
    ASSERT_EQ(0, rec.loadStatusChanges(window, changes));
    std::size_t next = 0;
    for (std::size_t i = 0; i < all.rows.size(); ++i) {
      const int r = static_cast<int>(all.rows[i].first);
      bool changed = r == window.from;
      for (int c = 0; c < 12; ++c) changed = changed || state(r, c) != state(r - 1, c);
      if (!changed) continue;
      ASSERT_LT(next, changes.rows.size()) << r;
      EXPECT_EQ(all.rows[i], changes.rows[next]) << r;
      EXPECT_EQ(all.stamps[i], changes.stamps[next]) << r;
      ++next;
    }
    EXPECT_EQ(changes.rows.size(), next);
  }
}

// Error paths

TEST_F(BinaryReaderTest, WindowsReadTogetherGiveWhatEachGivesAlone) {
  // 12-byte records: windows less than 5461 apart share a read of at most
  // 87381 records. The configuration says more samples than the file holds.
  const int records = 150000;
  std::string dat;
  for (int r = 0; r < records; ++r) {
    dat += BinaryData::sample(static_cast<std::uint32_t>(r + 1), {r % 30011}, {r % 3 == 0});
  }
  write_cfg("r", make_cfg(1, 1, 200000, "BINARY"));
  write_dat("r", dat);
  ComTrade_format rec((m_dir / "r").string());
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  rec.Select_channels({"D1", "A1"}, 2);
  const std::vector<std::vector<SampleWindow>> cases = {
      {{10, 20}, {25, 40}, {30, 35}, {6000, 6100}, {6100, 6200}, {11700, 11800}, {90000, 100000}},
      {{0, 50000}, {50010, 100000}, {100001, 100002}},  // the second would pass the read's size
      {{5000, 5100}, {100, 200}, {150, 150}, {149900, 149950}, {149990, 160000}, {170000, 170100}},
  };
  for (const std::vector<SampleWindow>& windows : cases) {
    RowsSeen together;
    ASSERT_EQ(0, rec.loadSamples(windows, together));
    RowsSeen alone;
    for (const SampleWindow& window : windows) ASSERT_EQ(0, rec.loadSamples({window}, alone));
    EXPECT_EQ(alone.rows, together.rows) << windows.front().from;
    EXPECT_EQ(alone.stamps, together.stamps) << windows.front().from;
    EXPECT_FALSE(together.rows.empty());
  }
}

TEST_F(BinaryReaderTest, AFileCutWhileItIsWalkedIsRefusedNotReadAsZeros) {
  // Mapped, and large enough for the walk to meet the cut in a later block.
  constexpr std::int64_t kRecordBytes = 10;
  constexpr std::int64_t kRecords = 900000;
  const std::string path = write_dat("cut", std::string(kRecords * kRecordBytes, '\x01')) + ".dat";
  const std::uint64_t mapped_before = comtrade_detail::map_data_from(1);
  comtrade_detail::BlockFile file;
  const bool opened = file.open(path);
  comtrade_detail::map_data_from(mapped_before);
  ASSERT_TRUE(opened);
  std::int64_t nonzero_records = 0;
  const auto walk = [&] {
    comtrade_detail::walk_records(file, kRecordBytes, kRecords,
                                  [&](const unsigned char* records, std::int64_t count, std::int64_t done) {
                                    if (done == 0) {
                                      ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
                                    }
                                    for (std::int64_t r = 0; r < count; ++r) {
                                      nonzero_records += records[r * kRecordBytes] != 0;
                                    }
                                  });
  };
  EXPECT_THROW(walk(), std::runtime_error);
  EXPECT_GT(nonzero_records, 0);
}

TEST_F(BinaryReaderTest, NegativeCountsNeverReadOutsideARecord) {
  // A record size of 0 is refused; a small positive one is read safely.
  write_cfg("r", "S\n0,-4A,0D\n50\n1\n1000,3\nd\nt\nBINARY\n");
  write_dat("r", std::string(40, '\xFF'));
  EXPECT_EQ(1, load("r", {}));

  std::string cfg = "S\n0,-2A,16D\n";
  for (int j = 1; j <= 16; ++j) cfg += std::to_string(j) + ",D" + std::to_string(j) + ",,,0\n";
  write_cfg("s", cfg + "50\n1\n1000,3\nd\nt\nBINARY\n");
  write_dat("s", std::string(17, '\xFF'));
  EXPECT_EQ(0, load("s", {"D1"}));
  EXPECT_EQ("1,1", text_of("D1"));

  // -32 digital channels take back the two analog words of an 8-byte record.
  write_cfg("t", "S\n0,2A,-32D\n1,A1,,,V,1,0,0,-1,1\n2,A2,,,V,1,0,0,-1,1\n50\n1\n1000,3\nd\nt\nBINARY\n");
  write_dat("t", std::string(20, '\x01'));
  EXPECT_EQ(0, load("t", {"A1", "A2"}));
  EXPECT_TRUE(CHAN_DATA_MAP.empty());
}

}  // namespace
