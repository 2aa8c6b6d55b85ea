// The fast paths of reading ASCII sample lines against the plain ways they
// stand in for: word-at-a-time and vector sample conversion against the
// strtol-like reading, and the field locator's cursors and runs against a
// plain split at commas.
#include "comtrade_format/ascii_fields.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace comtrade_detail;

// `text` with the readable slack after it that the fast paths may load.
std::string padded(const std::string& text) { return text + std::string(kReadAheadBytes, 'x'); }

const char* const kFields[] = {
    "0",         "7",          "-1",       "12345678", "-12345678", "123456789", "-123456789", "+5",
    " 42",       "\t-3",       "4a",       "",         "-",         "00000001",  "99999999",   "2147483648",
    "-2147483649", "99999999999", "1.5",   "1e3",      "--1",       "5 ",        "0x10",       "-0",
};

TEST(AsciiFieldsTest, FastConversionsAgreeWithThePlainReading) {
  for (const char* field : kFields) {
    const std::string text = padded(field);
    const char* end = text.data() + std::string(field).size();
    const std::int32_t plain = parse_sample_slowly(text.data(), end);
    EXPECT_EQ(plain, parse_sample(text.data(), end)) << '"' << field << '"';
    std::uint64_t word;
    std::uint8_t form;
    KeptSample::keep(text.data(), end, word, form);
    EXPECT_EQ(plain, KeptSample::value(word, form)) << '"' << field << '"';
  }
}

// Runs of kept fields of every length (the vector path takes four at a
// time and falls back for a run holding an odd field) convert as one by one.
TEST(AsciiFieldsTest, KeptSamplesConvertAlikeInEveryRunLength) {
  std::mt19937 random(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 400; ++i) {
    if (i % 13 == 0) {
      texts.push_back(kFields[random() % std::size(kFields)]);
    } else {
      texts.push_back(std::to_string(static_cast<std::int32_t>(random() % 200000000) - 100000000));
    }
  }
  std::vector<std::string> stored;
  std::vector<std::uint64_t> words(texts.size());
  std::vector<std::uint8_t> forms(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    stored.push_back(padded(texts[i]));
    KeptSample::keep(stored[i].data(), stored[i].data() + texts[i].size(), words[i], forms[i]);
  }
  for (int count = 0; count <= 13; ++count) {
    for (std::size_t at = 0; at + static_cast<std::size_t>(count) <= texts.size(); at += 37) {
      std::vector<std::int32_t> fast(static_cast<std::size_t>(count)), plain(static_cast<std::size_t>(count));
      convert_kept_samples(words.data() + at, forms.data() + at, count, fast.data());
      convert_kept_samples_one_by_one(words.data() + at, forms.data() + at, count, plain.data());
      EXPECT_EQ(plain, fast) << "count " << count << " at " << at;
    }
  }
}

cmtr_cfg_info record(int analogs, int digitals, const std::vector<int>& selected_analogs,
                     const std::vector<int>& selected_digitals) {
  cmtr_cfg_info cfg;
  cfg.ai_num = analogs;
  cfg.di_num = digitals;
  cfg.analogs.assign(static_cast<std::size_t>(analogs), analog_info{});
  cfg.digitals.assign(static_cast<std::size_t>(digitals), digital_info{});
  int position = 1;
  for (int a : selected_analogs) cfg.analogs[static_cast<std::size_t>(a)].sel_pos = position++;
  for (int d : selected_digitals) cfg.digitals[static_cast<std::size_t>(d)].sel_pos = position++;
  return cfg;
}

// Field f of `line` split at every comma, the last field the rest of the
// line when `rest` holds; empty at the line end when the line is short.
std::string plain_field(const std::string& line, std::int64_t f, bool rest) {
  std::size_t begin = 0;
  for (std::int64_t i = 0; i < f; ++i) {
    const std::size_t comma = line.find(',', begin);
    if (comma == std::string::npos) return "";
    begin = comma + 1;
  }
  if (rest) return line.substr(begin);
  const std::size_t comma = line.find(',', begin);
  return line.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
}

TEST(AsciiFieldsTest, LocatesTheSelectedFieldsAsAPlainSplitDoes) {
  struct Case {
    const char* what;
    int analogs, digitals;
    std::vector<int> selected_analogs, selected_digitals;
    std::string line;
  };
  const std::string wide_statuses = "1,0,5,6,7,1,0,1,1,0,0,1,0,1,1,1,0";
  const Case cases[] = {
      {"all fields", 2, 2, {0, 1}, {0, 1}, "1,0,-12,345,1,0"},
      {"a run of analogs", 4, 1, {0, 1, 2, 3}, {}, "9,100,1,22,333,4444,0"},
      {"gaps between selected", 4, 2, {1, 3}, {1}, "9,100,1,22,333,4444,0,1"},
      {"a short line", 3, 2, {0, 2}, {1}, "9,100,1"},
      {"the last status takes the rest", 1, 2, {}, {1}, "1,0,5,0,1,extra,bytes"},
      {"a run of one-byte statuses", 1, 14, {0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, wide_statuses},
      {"a status run broken by a wide status", 1, 6, {0}, {0, 1, 2, 3, 4, 5}, "1,0,5,1,0,10,1,0,1"},
      {"empty fields", 3, 1, {0, 1, 2}, {0}, "1,,,,"},
      {"long fields", 2, 0, {0, 1}, {}, "1,0," + std::string(100, '7') + "," + std::string(3000, '8')},
  };
  for (const Case& c : cases) {
    const cmtr_cfg_info cfg = record(c.analogs, c.digitals, c.selected_analogs, c.selected_digitals);
    FieldLocator locator(cfg);
    const std::string text = padded(c.line);
    const char* const begin = text.data();
    const char* const end = begin + c.line.size();
    locator.locate(begin, end);
    for (std::size_t k = 0; k < locator.size(); ++k) {
      const SelectedField& field = locator.fields()[k];
      EXPECT_EQ(plain_field(c.line, field.field, field.rest_of_line),
                std::string(locator.begin(k), locator.end(k)))
          << c.what << ", field " << field.field;
    }
    // The walk with runs hands out the same fields, the statuses of a run
    // as its bytes.
    std::vector<std::string> seen;
    locator.for_each_field(
        begin, end, [&](std::size_t, const SelectedField&, const char* b, const char* e) { seen.emplace_back(b, e); },
        [&](std::size_t, std::size_t count, const char* first) {
          for (std::size_t j = 0; j < count; ++j) seen.emplace_back(first + 2 * j, 1);
        },
        [&](const char* b, const char* e) { seen.emplace_back(b, e); });
    ASSERT_EQ(locator.size(), seen.size()) << c.what;
    for (std::size_t k = 0; k < seen.size(); ++k) {
      EXPECT_EQ(std::string(locator.begin(k), locator.end(k)), seen[k]) << c.what << ", field " << k;
    }
    // Every prefix, so that the counted span ends at each place of a chunk.
    for (std::size_t length = 0; length <= c.line.size(); ++length) {
      EXPECT_EQ(std::count(begin, begin + length, ','), count_commas(begin, begin + length))
          << c.what << ", first " << length << " bytes";
    }
  }
}

}  // namespace
