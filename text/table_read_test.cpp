#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "respmat/owners.hpp"
#include "test_support.h"
#include "respmat/text.h"

namespace {

using respmat::OwnedStringTable;
using respmat::testing::TempDir;
using respmat::testing::write_bytes;
using Rows = std::vector<std::vector<std::string>>;

Rows rows_of(StringTable table) {
  Rows rows;
  for (int32_t r = 0; r < carray_count(table); ++r) {
    rows.emplace_back();
    for (int32_t c = 0; c < carray_count(table[r]); ++c) rows.back().emplace_back(table[r][c]);
  }
  return rows;
}

Rows read_table(std::string_view bytes, const char *sep, char quote = 0,
                const char *skip = nullptr) {
  TempDir dir;
  write_bytes(dir.file("t.csv"), bytes);
  OwnedStringTable table(table_read(dir.file("t.csv").c_str(), sep, quote, skip));
  EXPECT_TRUE(table);
  return table ? rows_of(table.get()) : Rows{};
}

TEST(TableRead, SplitsEachLineIntoARow) {
  EXPECT_EQ(read_table("a,b\r\nc,d", ","), (Rows{{"a", "b"}, {"c", "d"}}));
  EXPECT_EQ(read_table("a b\n\n c ", nullptr), (Rows{{"a", "b"}, {}, {"c"}}));
  EXPECT_EQ(read_table("x,\"y,z\",w\n", ",", '"'), (Rows{{"x", "\"y,z\"", "w"}}));
}

TEST(TableRead, EmptyFilesAndLoneLineEnds) {
  EXPECT_EQ(read_table("", ","), Rows{});
  EXPECT_EQ(read_table("\n", ","), Rows{{""}});
  EXPECT_EQ(read_table("\n", nullptr), Rows{{}});
  EXPECT_EQ(read_table("1\n2\n", ","), (Rows{{"1"}, {"2"}}));
}

TEST(TableRead, DropsLinesThatBeginWithTheCommentPrefix) {
  EXPECT_EQ(read_table("#\n# c\n #x\n1\n", ",", 0, "#"), (Rows{{" #x"}, {"1"}}));
  EXPECT_EQ(read_table("a\nb\n", ",", 0, ""), Rows{});
  EXPECT_EQ(read_table("//x\n/y\n", ",", 0, "//"), Rows{{"/y"}});
}

TEST(TableRead, ANulByteEndsALine) {
  EXPECT_EQ(read_table(std::string_view("a,b\0c,d\n", 8), ","), (Rows{{"a", "b"}, {"c", "d"}}));
}

TEST(TableRead, GrowsPastManyRows) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += std::to_string(i) + "\n";
  const Rows rows = read_table(text, ",");
  ASSERT_EQ(rows.size(), 1000u);
  EXPECT_EQ(rows[999][0], "999");
}

TEST(TableRead, ReportsFilesThatCannotBeRead) {
  TempDir dir;
  EXPECT_EQ(table_read(dir.file("missing.csv").c_str(), ",", 0, nullptr), nullptr);
  EXPECT_EQ(table_read(dir.path().c_str(), ",", 0, nullptr), nullptr);  // a directory
}

}  // namespace
