// The number texts of the hand-built answers: whole numbers take a faster
// conversion, which must write what the general one writes.
#include "extensions/json_text.h"
#include "extensions/text_pieces.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(JsonTextTest, WritesEveryNumberAsTheShortestTextInPlainDigitsWhereShort) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0, "-0"},
      {9100, "9100"},
      {-3, "-3"},
      {1e14, "100000000000000"},
      {999999999999999, "999999999999999"},
      {1e15, "1e+15"},
      {-2e15, "-2e+15"},
      {0.5, "0.5"},
      {-123456789.25, "-123456789.25"},
      {1e-5, "0.00001"},
      {1e-6, "1e-06"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    append_number(out, c.value);
    EXPECT_EQ(std::string("x") + c.text, out) << c.value;
  }
  std::string out;
  append_integer(out, -9223372036854775807 - 1);
  EXPECT_EQ("-9223372036854775808", out);
}

TEST(TextPiecesTest, HandsOnTheTextWholeInPiecesOfTheSizeFixedAhead) {
  TextPieces pieces;
  std::string whole;
  const std::string line(1000, 'a');
  const std::string huge(3 * TextPieces::kPieceBytes, 'h');  // more than a piece at once: held whole
  for (int i = 0; i < 3000; ++i) {
    const std::string& text = i == 1500 ? huge : line;
    pieces.append(text);
    whole += text;
  }
  std::vector<SharedText> parts = {std::make_shared<const std::string>("head")};
  pieces.move_to(parts);
  EXPECT_TRUE(pieces.empty());
  std::string joined;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    joined += *parts[i];
    if (*parts[i] != huge) {
      EXPECT_LE(parts[i]->size(), TextPieces::kPieceBytes) << i;
    }
  }
  EXPECT_EQ("head", *parts[0]);
  EXPECT_TRUE(joined == whole);
  EXPECT_GT(parts.size(), 4u);
}

}  // namespace
