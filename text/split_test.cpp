#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "respmat/text.h"

namespace {

using Fields = std::vector<std::string>;

// Converts a row to strings and releases it.
Fields take(char **row) {
  EXPECT_NE(row, nullptr);
  Fields fields;
  for (int32_t i = 0; i < carray_count(row); ++i) fields.emplace_back(row[i]);
  carray_free_all(row);
  return fields;
}

Fields split(const char *sep, const char *line, char quote = 0) {
  return take(text_split(sep, line, quote));
}

Fields split_ws(const char *line, char quote = 0) { return take(text_split_ws(line, quote)); }

TEST(TextSplit, CutsAtEverySeparatorKeepingEmptyFields) {
  EXPECT_EQ(split(",", "a,,b,"), (Fields{"a", "", "b", ""}));
  EXPECT_EQ(split(",", ",a"), (Fields{"", "a"}));
  EXPECT_EQ(split(",", ""), Fields{""});
  EXPECT_EQ(split(",", "no separator"), Fields{"no separator"});
}

TEST(TextSplit, MatchesMultiCharacterSeparatorsLeftToRightWithoutOverlap) {
  EXPECT_EQ(split(", ", "a, b,c"), (Fields{"a", "b,c"}));
  EXPECT_EQ(split("::", "a:::b"), (Fields{"a", ":b"}));
  EXPECT_EQ(split("::", "a:"), Fields{"a:"});  // a partial separator at the end
}

TEST(TextSplit, QuotesProtectSeparatorsAndStayInTheText) {
  EXPECT_EQ(split(",", "x,\"y,z\",w", '"'), (Fields{"x", "\"y,z\"", "w"}));
  EXPECT_EQ(split(",", "x,\"y,z\",w"), (Fields{"x", "\"y", "z\"", "w"}));
  EXPECT_EQ(split(",", "a,\"\"b,c", '"'), (Fields{"a", "\"\"b", "c"}));
  EXPECT_EQ(split(",", "a,'b,c", '\''), (Fields{"a", "'b,c"}));  // unterminated quote
  EXPECT_EQ(split(",", "a\xff,b\xff,c", '\xff'), (Fields{"a\xff,b\xff", "c"}));
}

TEST(TextSplit, SeparatorCharactersAreNotExaminedForQuotes) {
  // The quote character inside a matched separator does not flip the state.
  EXPECT_EQ(split("|'", "a|'b|'c", '\''), (Fields{"a", "b", "c"}));
  // A quote that is itself the separator flips the state first, then may match.
  EXPECT_EQ(split("'", "a'b'c", '\''), (Fields{"a'b", "c"}));
}

TEST(TextSplit, EmptySeparatorNeverMatches) {
  EXPECT_EQ(split("", "a,b"), Fields{"a,b"});
}

TEST(TextSplitWs, FieldsAreRunsOfNonWhiteSpace) {
  EXPECT_EQ(split_ws("  a\tb \v\f c\r\n"), (Fields{"a", "b", "c"}));
  EXPECT_EQ(split_ws(""), Fields{});
  EXPECT_EQ(split_ws(" \t "), Fields{});
  EXPECT_EQ(split_ws("\xa0x\x85"), Fields{"\xa0x\x85"});
}

TEST(TextSplitWs, QuotesKeepWhiteSpaceInsideAField) {
  EXPECT_EQ(split_ws("a \"b c\" d", '"'), (Fields{"a", "\"b c\"", "d"}));
  EXPECT_EQ(split_ws("x\"y z\"w v", '"'), (Fields{"x\"y z\"w", "v"}));
  EXPECT_EQ(split_ws("\"\" x", '"'), (Fields{"\"\"", "x"}));
  EXPECT_EQ(split_ws("a \"b c", '"'), (Fields{"a", "\"b c"}));
  EXPECT_EQ(split_ws("a \"b c\" d"), (Fields{"a", "\"b", "c\"", "d"}));
}

}  // namespace
