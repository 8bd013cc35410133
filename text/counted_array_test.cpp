#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "respmat/owners.hpp"
#include "text/counted_array_layout.h"
#include "respmat/text.h"

namespace {

using respmat::detail::counted_new;

TEST(CarrayCount, CountsFieldsOfSplitRows) {
  char **ws = text_split_ws("", 0);
  char **sep = text_split(",", "", 0);
  EXPECT_EQ(carray_count(ws), 0);
  EXPECT_EQ(carray_count(sep), 1);
  carray_free_all(ws);
  carray_free_all(sep);
}

TEST(CarrayCount, SlotsArePointerAligned) {
  char **row = text_split(",", "a,b,c", 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(row) % alignof(char *), 0u);
  carray_free_all(row);
}

TEST(CarrayDropFront, KeepsTheRestInOrder) {
  intptr_t *values = counted_new<intptr_t>(5);
  for (int i = 0; i < 5; ++i) values[i] = 10 * (i + 1);
  carray_drop_front(values, 0);
  EXPECT_EQ(carray_count(values), 5);
  carray_drop_front(values, 2);
  ASSERT_EQ(carray_count(values), 3);
  EXPECT_EQ(values[0], 30);
  EXPECT_EQ(values[1], 40);
  EXPECT_EQ(values[2], 50);
  carray_drop_front(values, 3);
  EXPECT_EQ(carray_count(values), 0);
  carray_free(values);
}

TEST(CarrayDropFront, ClampsCountsOutsideTheArray) {
  intptr_t *values = counted_new<intptr_t>(2);
  values[0] = 1;
  values[1] = 2;
  carray_drop_front(values, -4);
  EXPECT_EQ(carray_count(values), 2);
  carray_drop_front(values, 7);
  EXPECT_EQ(carray_count(values), 0);
  carray_free(values);
}

TEST(TableFindField, MatchesAsciiCaseInsensitivelyFromTheLastField) {
  StringTable table = counted_new<char **>(2);
  table[0] = text_split(",", "Name,VALUE,value", 0);
  table[1] = text_split_ws("", 0);
  respmat::OwnedStringTable owner(table);
  EXPECT_EQ(table_find_field(table, "Value", 0), 2);
  EXPECT_EQ(table_find_field(table, "name", 0), 0);
  EXPECT_EQ(table_find_field(table, "val", 0), -1);
  EXPECT_EQ(table_find_field(table, "x", 1), -1);
  EXPECT_EQ(table_find_field(table, "name", 2), -1);
  EXPECT_EQ(table_find_field(table, "name", -1), -1);
}

TEST(TableFindField, OnlyAsciiLettersFoldCase) {
  StringTable table = counted_new<char **>(1);
  table[0] = text_split(",", "\xc9,[,@", 0);
  respmat::OwnedStringTable owner(table);
  EXPECT_EQ(table_find_field(table, "\xe9", 0), -1);  // Latin-1 letters compare by value
  EXPECT_EQ(table_find_field(table, "{", 0), -1);     // '[' + 32 is not a letter
  EXPECT_EQ(table_find_field(table, "`", 0), -1);
  EXPECT_EQ(table_find_field(table, "@", 0), 2);
}

}  // namespace
