// Reading an ASCII .dat into one value text per selected channel.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "comtrade_format/ascii_lines.h"
#include "comtrade_format/line_marks.h"
#include "comtrade_format/window_samples.h"
#include "platform/platform.h"
#include "record_fixture.h"

namespace {

using AsciiReaderTest = DataReaderTest<AsciiData>;

TEST_F(AsciiReaderTest, JoinsTheValuesOfEachSelectedChannel) {
  write_cfg("r", make_cfg(2, 2, 2, "ASCII", 0.5, 0));
  const std::string path = write_dat("r", "1,0,100,-20,0,1\n2,1000,102,-22,1,1\n");
  std::string out = captured_stdout([&] { EXPECT_EQ(0, load("r", {"A1", "A2", "D1", "D2"})); });
  EXPECT_NE(std::string::npos, out.find("check file success: " + path + ".dat\ndat_count: 2\n"));
  EXPECT_EQ("50.0000,51.0000", text_of("A1"));
  EXPECT_EQ("-10.0000,-11.0000", text_of("A2"));
  EXPECT_EQ("0,1", text_of("D1"));
  EXPECT_EQ("1,1", text_of("D2"));
  EXPECT_EQ(4u, CHAN_DATA_MAP.size());
}

TEST_F(AsciiReaderTest, ConvertsAnalogFieldsLikeStrtol) {
  struct Case {
    const char* field;
    double factor_a, factor_b;
    const char* text;
  } cases[] = {
      {"  -7", 2, 1, "-13.0000"},
      {"12.7", 1, 0, "12.0000"},
      {"+5", 1, 0, "5.0000"},
      {"-0", 1, 0, "0.0000"},
      {"\t3 ", 1, 0, "3.0000"},
      {"", 1, 0.25, "0.2500"},
      {"abc", 1, 0, "0.0000"},
      {"- 4", 1, 0, "0.0000"},
      {"99999999999", 1, 0, "2147483647.0000"},
      {"-99999999999", 1, 0, "-2147483648.0000"},
      {"1000", 1e12, 0, "1000000000000000.0000"},  // longer than 19 characters, kept whole
  };
  for (const Case& c : cases) {
    write_cfg("r", make_cfg(1, 0, 1, "ASCII", c.factor_a, c.factor_b));
    write_dat("r", std::string("1,0,") + c.field + "\n");
    EXPECT_EQ(0, load("r", {"A1"}));
    EXPECT_EQ(c.text, text_of("A1")) << '"' << c.field << '"';
  }
}

// Samples of neighbouring lines are converted four at a time: every kind
// of field, at each of the four places, reads as strtol reads it.
TEST_F(AsciiReaderTest, ConvertsAFieldTheSameWayWhereverItFallsAmongItsNeighbours) {
  const std::vector<std::string> fields = {"7",        "-7",        "12",       "-123",     "4567",  "-32768",
                                           "123456",   "-1234567",  "12345678", "-12345678", "99999999",
                                           "00000001", "-0",        "1a",       "12a4",     "+5",    " 7",
                                           "123456789", "",         "-",        "99999999999"};
  std::string dat, expected;
  int lines = 0;
  const auto add_line = [&](const std::string& field) {
    dat += std::to_string(++lines) + ",0," + field + "\n";
    const long long value = std::clamp<long long>(std::strtoll(field.c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", static_cast<double>(value));
    expected += (lines > 1 ? "," : "") + std::string(text);
  };
  for (int place = 0; place < 4; ++place) {
    for (int pad = 0; pad < place; ++pad) add_line("5");
    for (const std::string& field : fields) add_line(field);
    for (int pad = place; pad < 3; ++pad) add_line("5");
  }
  write_cfg("r", make_cfg(1, 0, lines, "ASCII"));
  write_dat("r", dat);
  EXPECT_EQ(0, load("r", {"A1"}));
  EXPECT_EQ(expected, text_of("A1"));
}

TEST_F(AsciiReaderTest, LastDigitalFieldIsTheRestOfTheLineAsWritten) {
  write_cfg("r", make_cfg(1, 3, 3, "ASCII"));
  write_dat("r", "1,0,5,0,1,1\r\n2,0,5,0,0, 0 \r\n3,0,5,1,1,\"x\",y\r\n");
  EXPECT_EQ(0, load("r", {"D3"}));
  EXPECT_EQ("1, 0 ,\"x\",y", text_of("D3"));
  EXPECT_EQ(1u, CHAN_DATA_MAP.size());
}

TEST_F(AsciiReaderTest, KeepsEveryStatusOfARunOfNeighbouringChannelsInPlace) {
  // Ten neighbouring channels, all selected; every line but the first and
  // the seventh breaks the one-byte pattern somewhere, the NUL past the
  // first sixteen bytes of the run.
  const std::vector<std::string> statuses = {
      "0,1,1,0,1,0,0,1,1,0", "1,10,0,1,0,1,0,1,0,1", "0,,1,1,0,1,0,1,0,1", "1,1,0,1,0,1,0,1,1,1,x",
      "1,0,1",               "1,0,1,1,0,1,0,1,0,",   "1,1,1,1,1,1,1,1,1,1\r",
      std::string("0,0,0,0,0,0,0,0,\0,0", 19)};
  std::string dat;
  std::vector<std::string> expected(10);
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    dat += std::to_string(i + 1) + ",0,5," + statuses[i] + "\n";
    std::string rest = statuses[i];
    if (!rest.empty() && rest.back() == '\r') rest.pop_back();
    for (std::size_t d = 0; d < 10; ++d) {
      const std::size_t comma = d < 9 ? rest.find(',') : std::string::npos;
      expected[d] += (i > 0 ? "," : "") + rest.substr(0, comma);
      rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    }
  }
  write_cfg("r", make_cfg(1, 10, static_cast<int>(statuses.size()), "ASCII"));
  write_dat("r", dat);
  std::vector<std::string> names;
  for (int d = 1; d <= 10; ++d) names.push_back("D" + std::to_string(d));
  EXPECT_EQ(0, load("r", names));
  for (std::size_t d = 0; d < 10; ++d) EXPECT_EQ(expected[d], text_of(names[d])) << names[d];
}

TEST_F(AsciiReaderTest, SkipsBlankAndPaddingLinesWithoutCountingThem) {
  write_cfg("r", make_cfg(1, 1, 3, "ASCII"));
  write_dat("r", "1,0,1,0\r\n\r\n  \n2,0,2,1\n\x1A\x1A\n\n3,0,3,1\n4,0,4,0\n\x1A");
  EXPECT_EQ(0, load("r", {"A1", "D1"}));
  EXPECT_EQ("1.0000,2.0000,3.0000", text_of("A1"));
  EXPECT_EQ("0,1,1", text_of("D1"));
}

TEST_F(AsciiReaderTest, GivesMissingFieldsEmptyValues) {
  write_cfg("r", make_cfg(3, 2, 3, "ASCII", 1, 0.5));
  write_dat("r", "1,0,1,2,6,1,0\n2,0,3\n3,0,4,5,7,1");  // last line without line end
  EXPECT_EQ(0, load("r", {"A1", "A2", "A3", "D1", "D2"}));
  EXPECT_EQ("1.5000,3.5000,4.5000", text_of("A1"));
  EXPECT_EQ("2.5000,0.5000,5.5000", text_of("A2"));
  EXPECT_EQ("6.5000,0.5000,7.5000", text_of("A3"));
  EXPECT_EQ("1,,1", text_of("D1"));
  EXPECT_EQ("0,,", text_of("D2"));
}

TEST_F(AsciiReaderTest, FewerLinesThanSampCountGiveWhatIsThere) {
  write_cfg("r", make_cfg(1, 0, 100, "ASCII"));
  write_dat("r", "1,0,7\n2,0,8\n");
  EXPECT_EQ(0, load("r", {"A1"}));
  EXPECT_EQ("7.0000,8.0000", text_of("A1"));
}

TEST_F(AsciiReaderTest, LinesAcrossBlockBoundariesStayWhole) {
  // About 9 MB of lines, so several blocks end inside a line.
  const int lines = 400000;
  std::string dat, expected_a2, expected_d1;
  dat.reserve(lines * 24);
  std::string expected_d2;
  // Statuses other than one byte, the first line's among them, keep their
  // places among the usual ones.
  const auto status2 = [](int i) -> std::string {
    if (i % 1000 == 0) return "";
    if (i % 1001 == 0) return "10";
    if (i % 997 == 0) return std::string(1, '\0');
    return i % 2 ? "1" : "0";
  };
  for (int i = 0; i < lines; ++i) {
    const std::string n = std::to_string(i % 30011 - 15000);
    dat += std::to_string(i + 1) + ",123456," + std::to_string(i) + "," + n + "," + (i % 3 ? "1" : "0") + "," +
           status2(i) + ",1\r\n";
    if (i) expected_a2 += ',', expected_d1 += ',', expected_d2 += ',';
    expected_a2 += n + ".0000";
    expected_d1 += i % 3 ? '1' : '0';
    expected_d2 += status2(i);
  }
  write_cfg("r", make_cfg(2, 3, lines, "ASCII"));
  write_dat("r", dat);
  EXPECT_EQ(0, load("r", {"A2", "D1", "D2"}));
  EXPECT_TRUE(text_of("A2") == expected_a2);
  EXPECT_TRUE(text_of("D1") == expected_d1);
  EXPECT_TRUE(text_of("D2") == expected_d2);
}

TEST_F(AsciiReaderTest, ReadsALineLongerThanManyBlocksWhenTheRecordIsThatWide) {
  // 100000 channels make lines of megabytes plausible; a file this large is
  // read ahead on a second thread until the first long line.
  const std::string field(5 * 1024 * 1024 + 7, 'x');
  write_cfg("r", make_cfg(1, 100000, 3, "ASCII"));
  write_dat("r", "1,0,5," + field + "\n2,0,6,y\n3,0,7," + field);
  EXPECT_EQ(0, load("r", {"A1", "D1"}));
  EXPECT_EQ("5.0000,6.0000,7.0000", text_of("A1"));
  EXPECT_TRUE(text_of("D1") == field + ",y," + field);
}

// A line longer than any sample line of the record could be (a file without
// line ends, CR-only line ends) is no sample: skipped without being held.
TEST_F(AsciiReaderTest, SkipsLinesTooLongToBeSamples) {
  const std::string junk(3 * 1024 * 1024 + 7, '\0');
  write_cfg("r", make_cfg(1, 1, 4, "ASCII"));
  write_dat("r", "1,0,5,y\n" + junk + "\n2,0,6,z\r3,0,7,w\r" + std::string(5000, 'x') + "\n4,0,8,v\n" + junk);
  const std::string out = captured_stdout([&] { EXPECT_EQ(0, load("r", {"A1", "D1"})); });
  EXPECT_EQ("5.0000,8.0000", text_of("A1"));
  EXPECT_EQ("y,v", text_of("D1"));
  std::size_t skips = 0;
  for (std::size_t at = out.find("skip dat line"); at != std::string::npos; at = out.find("skip dat line", at + 1)) ++skips;
  EXPECT_EQ(3u, skips) << out;
}

TEST_F(AsciiReaderTest, KeepsTheAnalogTextWhenADigitalChannelHasTheSameName) {
  write_cfg("r", "S\n2,1A,1D\n1,X,,,V,1,0,0,-1,1\n1,X,,,0\n50\n1\n1000,1\nd\nt\nASCII\n");
  write_dat("r", "1,0,9,1\n");
  EXPECT_EQ(0, load("r", {"X"}));
  EXPECT_EQ(1u, CHAN_DATA_MAP.size());
  EXPECT_EQ("9.0000", text_of("X"));
}

TEST_F(AsciiReaderTest, OpensTheDatWhateverTheCaseOfItsName) {
  write_file("B_02.CFG", make_cfg(1, 0, 1, "ASCII"));
  write_file("B_02.DAT", "1,0,42\n");
  EXPECT_EQ(0, load("B_02", {"A1"}));
  EXPECT_EQ("42.0000", text_of("A1"));
}

TEST_F(AsciiReaderTest, NoChannelSelectedLeavesTheStoreEmpty) {
  write_cfg("r", make_cfg(1, 1, 1, "ASCII"));
  write_dat("r", "1,0,1,1\n");
  EXPECT_EQ(0, load("r", {"nope"}));
  EXPECT_TRUE(CHAN_DATA_MAP.empty());
}

// Error paths

TEST_F(AsciiReaderTest, NonPositiveSampCountReadsNothing) {
  write_cfg("r", make_cfg(1, 0, 0, "ASCII"));
  write_dat("r", "1,0,1\n");
  EXPECT_EQ(1, load("r", {"A1"}));
  EXPECT_TRUE(CHAN_DATA_MAP.empty());
}

}  // namespace

struct RowsSeenWithoutStamps : RowsSeen {
  bool wants_stamps() const override { return false; }
};

// Each sample's statuses (the values from `first_status` on) as the last
// row handed on at or before it gives them.
std::vector<std::vector<double>> held_statuses(const RowsSeen& seen, std::int64_t samples, std::size_t first_status) {
  std::vector<std::vector<double>> rows;
  std::size_t next = 0;
  std::vector<double> held;
  for (std::int64_t sample = 0; sample < samples; ++sample) {
    while (next < seen.rows.size() && seen.rows[next].first <= sample) {
      held.assign(seen.rows[next].second.begin() + static_cast<std::ptrdiff_t>(first_status),
                  seen.rows[next].second.end());
      ++next;
    }
    rows.push_back(held);
  }
  return rows;
}

TEST_F(AsciiReaderTest, HandsOnEverySampleWhoseStatusesDifferFromTheOneBefore) {
  write_cfg("r", make_cfg(2, 2, 12, "ASCII"));
  // Status texts that differ but hold the same states; a short line whose
  // end reads like the line before's statuses but holds other fields; a
  // missing field; a last field that runs on.
  write_dat("r",
            "1,0,5,5,0,1\n2,0,6,6,0,1\n3,0,7,7, 0,1\n4,0,8,8,1,1\n5,0,9,1,1\n6,0,9,9,1,1\n"
            "7,0,9,9,1\n8,0,1,1,1,0,1\n9,0,1,1,1,0\n10,0,2,2,1,0\n\n11,0,3,3,1,1\n12,0,4,4,1,1\n");
  ComTrade_format rec((m_dir / "r").string());
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  rec.Select_channels({"A1", "D1", "D2"}, 3);
  RowsSeen all;
  RowsSeen changes;
  ASSERT_EQ(0, rec.loadSamples({SampleWindow{0, 12}}, all));
  ASSERT_EQ(0, rec.loadStatusChanges(SampleWindow{0, 12}, changes));
  ASSERT_EQ(12u, all.rows.size());
  ASSERT_FALSE(changes.rows.empty());
  EXPECT_EQ(0, changes.rows.front().first);
  // Holding the statuses of the last sample handed on gives every sample's.
  std::size_t next = 0;
  std::vector<double> held;
  for (const auto& [sample, row] : all.rows) {
    if (next < changes.rows.size() && changes.rows[next].first == sample) held = changes.rows[next++].second;
    EXPECT_EQ(std::vector<double>(row.begin() + 1, row.end()), std::vector<double>(held.begin() + 1, held.end()))
        << "sample " << sample;
  }
  EXPECT_EQ(changes.rows.size(), next);
}

TEST_F(AsciiReaderTest, TwoLanesHandOnWhatOneLaneDoesWhateverTheLinesAreNumbered) {
  const int lines = 3000;
  const auto numbered = [&](auto number_of, const std::string& between, int after = 1000, int period = 7) {
    std::string dat;
    for (int i = 0; i < lines; ++i) {
      dat += std::to_string(number_of(i)) + "," + std::to_string(10 * i) + "," + std::to_string(i % 97) + ",-" +
             std::to_string(i % 13) + "," + std::to_string(i / period % 2) + "\r\n";
      if (i == after) dat += between;
    }
    return dat;
  };
  const auto places = [](int i) { return i + 1; };
  const std::vector<SampleWindow> cycles = {{10, 30}, {700, 760}, {1490, 1510}, {2200, 2300}, {2990, 3000}};
  const struct {
    const char* what;
    std::string dat;
    int samp_count;
    std::vector<SampleWindow> windows;
  } cases[] = {
      {"numbers are places", numbered(places, ""), lines, cycles},
      {"numbers from 0", numbered([](int i) { return i; }, ""), lines, cycles},
      {"every number 1", numbered([](int) { return 1; }, ""), lines, cycles},
      {"blank and too long lines before the cut", numbered(places, "\r\n  \n" + std::string(20000, '7') + "\n"),
       lines, cycles},
      // The cut falls past the last sample: the first lane stops before it.
      {"fewer samples than lines", numbered(places, ""), 1200, cycles},
      // Its report must come where and as one lane gives it.
      {"a too long line after the cut", numbered(places, std::string(20000, '7') + "\n", 2800), lines, cycles},
      {"a status changing every line", numbered(places, "", 1000, 1), lines, cycles},
      {"one window past the cut", numbered(places, ""), lines, {{2500, 2600}}},
      {"one window before the cut", numbered(places, ""), lines, {{100, 200}}},
      {"the last line without its end", numbered(places, "").substr(0, numbered(places, "").size() - 2), lines,
       {{0, 3000}}},
  };
  for (const auto& c : cases) {
    write_cfg("r", make_cfg(2, 1, c.samp_count, "ASCII", 0.5, 1));
    const std::string path = write_dat("r", c.dat) + ".dat";
    ComTrade_format rec((m_dir / "r").string());
    ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
    rec.Select_channels({"A2", "D1", "A1"}, 3);
    const DataSection section{path, path, 0, std::nullopt, false};
    const std::int64_t to = std::min<std::int64_t>(c.windows.back().to, c.samp_count);
    ASSERT_TRUE(comtrade_detail::lane_split(rec.cfg(), section, c.windows, to, 0)) << c.what;
    RowsSeen one;
    RowsSeen two;
    const std::string one_said = captured_stdout(
        [&] { EXPECT_EQ(0, comtrade_detail::load_ascii_samples(rec.cfg(), section, c.windows, one, UINT64_MAX)); });
    const std::string two_said = captured_stdout(
        [&] { EXPECT_EQ(0, comtrade_detail::load_ascii_samples(rec.cfg(), section, c.windows, two, 0)); });
    EXPECT_EQ(one_said, two_said) << c.what;
    RowsSeenWithoutStamps blind;
    captured_stdout([&] { comtrade_detail::load_ascii_samples(rec.cfg(), section, c.windows, blind, 0); });
    EXPECT_EQ(one.rows, blind.rows) << c.what;
    EXPECT_TRUE(std::all_of(blind.stamps.begin(), blind.stamps.end(), [](double s) { return std::isnan(s); }));
    // The status changes the same, the second part's first line handed on
    // whatever the line before it.
    RowsSeen one_changes;
    RowsSeen two_changes;
    const std::string one_changes_said = captured_stdout([&] {
      comtrade_detail::load_ascii_changes(rec.cfg(), section, SampleWindow{0, to}, one_changes, UINT64_MAX);
    });
    const std::string two_changes_said = captured_stdout(
        [&] { comtrade_detail::load_ascii_changes(rec.cfg(), section, SampleWindow{0, to}, two_changes, 0); });
    EXPECT_EQ(one_changes_said, two_changes_said) << c.what;
    EXPECT_EQ(held_statuses(one_changes, to, 2), held_statuses(two_changes, to, 2)) << c.what;
    EXPECT_FALSE(one.rows.empty()) << c.what;
    EXPECT_EQ(one.rows, two.rows) << c.what;
    EXPECT_EQ(one.stamps, two.stamps) << c.what;
  }
}

TEST_F(AsciiReaderTest, WindowsReachedFromTheMarksOfEarlierWalksAreTheWholeRecordCut) {
  const auto dat_of = [](const std::string& front) {
    std::string dat = front;
    for (int i = 0; i < 3000; ++i) {
      // One field longer than a vector word.
      dat += std::to_string(i + 1) + "," + std::to_string(10 * i) + "," + std::to_string(i % 97) + ",-" +
             (i == 0 ? std::string(16, '0') : std::to_string(i % 13)) + "," + std::to_string(i / 7 % 2) + "\r\n";
      if (i == 1000) dat += "\r\n  \n" + std::string(20000, '7') + "\n";
      if (i == 2050) dat += "\x1A\r\n";
    }
    return dat;
  };
  write_cfg("r", make_cfg(2, 1, 3000, "ASCII", 0.5, 1));
  const std::string path = write_dat("r", dat_of("")) + ".dat";
  ComTrade_format rec((m_dir / "r").string());
  ASSERT_EQ(kCfgReadOk, rec.Get_cmtr_cfg_info());
  rec.Select_channels({"D1", "A2"}, 2);
  // The slice of a window by its definition: those lines of the whole
  // slice, renumbered from 1.
  std::vector<std::string> whole;
  const auto slice = [&](SampleWindow window) {
    std::string out;
    captured_stdout([&] { rec.writeSliceData(window, out); });
    return out;
  };
  const auto expected = [&](SampleWindow window) {
    std::string out;
    const auto lines = static_cast<std::int64_t>(whole.size());
    for (std::int64_t i = window.from; i < std::min<std::int64_t>(window.to, lines); ++i) {
      const std::string& line = whole[static_cast<std::size_t>(i)];
      out += std::to_string(i - window.from + 1) + line.substr(line.find(',')) + "\r\n";
    }
    return out;
  };
  const auto read_whole = [&] {
    whole.clear();
    const std::string text = slice({0, 3000});
    for (std::size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2) {
      whole.push_back(text.substr(at, text.find("\r\n", at) - at));
    }
  };
  // The waveform's buckets of a window reach it the same way.
  const auto buckets = [&](SampleWindow window) {
    Buckets out;
    captured_stdout([&] { rec.loadBuckets(window, 1, out); });
    return std::make_pair(out.first_stamps, out.channels.at(1).min);
  };
  // The first walk reads the channels' texts, and marks the lines for the
  // windows after it.
  captured_stdout([&] { EXPECT_EQ(0, rec.loadAsciiData()); });
  const comtrade_detail::MarkedData marked{path, 0, comtrade_detail::longest_sample_line(rec.cfg()), false,
                                           *platform::regular_file_stamp(path)};
  const comtrade_detail::LineMark mark = comtrade_detail::mark_before(marked, 2500);
  EXPECT_EQ(2048, mark.line);
  EXPECT_EQ(dat_of("").find("\n2049,") + 1, mark.byte);
  const std::string first_late = slice({2500, 2600});
  read_whole();
  ASSERT_EQ(3000u, whole.size());
  EXPECT_EQ("1,0,-0000000000000000,0", whole[0]);  // fields as written, in file order
  EXPECT_EQ(expected({2500, 2600}), first_late);
  const auto all = buckets({0, 3000});
  for (SampleWindow window : std::vector<SampleWindow>{
           {2500, 2600}, {1030, 1035}, {1024, 2048}, {2048, 2049}, {0, 10}, {2999, 3100}, {2047, 3000}}) {
    EXPECT_EQ(expected(window), slice(window)) << window.from;
    const auto part = buckets(window);
    const auto from = static_cast<std::ptrdiff_t>(window.from);
    const auto to = static_cast<std::ptrdiff_t>(std::min<std::int64_t>(window.to, 3000));
    EXPECT_EQ(std::vector<double>(all.first.begin() + from, all.first.begin() + to), part.first) << window.from;
    EXPECT_EQ(std::vector<double>(all.second.begin() + from, all.second.begin() + to), part.second) << window.from;
  }
  // The same bytes after one line as long as the two before mark 2048, cut
  // to the old size, the modification time put back: every mark still
  // follows a line end, one line too early, and only the file's change time
  // tells the versions apart.
  const std::string before = dat_of("");
  const std::size_t mark_2048 = before.find("\n2049,") + 1;
  const std::size_t line_2047 = before.rfind('\n', mark_2048 - 2) + 1;
  const std::size_t line_2046 = before.rfind('\n', line_2047 - 2) + 1;
  std::string shifted = before.substr(line_2046, line_2047 - line_2046 - 2) + ",," +
                        before.substr(line_2047, mark_2048 - line_2047) + before;
  shifted.resize(before.size());
  shifted.back() = '\n';
  const auto modified = std::filesystem::last_write_time(path);
  write_file("r.dat", shifted);
  std::filesystem::last_write_time(path, modified);
  const std::string late = slice({2500, 2600});
  read_whole();
  EXPECT_EQ(expected({2500, 2600}), late);
  // A mark of this very version that does not follow a line end is not
  // used, and forgotten.
  const comtrade_detail::MarkedData now{path, 0, comtrade_detail::longest_sample_line(rec.cfg()), false,
                                        *platform::regular_file_stamp(path)};
  comtrade_detail::forget_marks(now);
  comtrade_detail::MarkRecorder planted(now, {});
  for (int line = 0; line <= 2048; ++line) planted.pass(line == 2048 ? mark_2048 + 3 : 0);
  planted.keep();
  EXPECT_EQ(expected({2500, 2600}), slice({2500, 2600}));
}
