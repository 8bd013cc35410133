#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "respmat/garray.h"
#include "container/garray_test_support.h"

namespace {

using respmat::testing::AllocationLimit;
using respmat::testing::Bytes;
using respmat::testing::contents;
using respmat::testing::make_bytes;
using respmat::testing::OwnedArray;

const std::uint8_t k1 = 1, k5 = 5, k7 = 7, k9 = 9;

TEST(GarrayFind, ReportsTheHighestEqualIndex) {
  OwnedArray empty, a;
  make_bytes(empty, {});
  make_bytes(a, {7, 5, 7});
  EXPECT_EQ(garray_find(empty.get(), &k7), GARRAY_NPOS);
  EXPECT_EQ(garray_find(a.get(), &k7), 2u);
  EXPECT_EQ(garray_find(a.get(), &k9), GARRAY_NPOS);
}

TEST(GarrayFind, ComparesWholeElements) {
  OwnedArray a;
  garray_init(a.get(), 4);
  const std::uint32_t values[] = {0x01020304, 0x01020305};
  garray_append_n(a.get(), values, 2);
  EXPECT_EQ(garray_find(a.get(), &values[0]), 0u);
  const std::uint32_t other = 0x11020304;
  EXPECT_EQ(garray_find(a.get(), &other), GARRAY_NPOS);
}

TEST(GarrayPushUnique, AppendsOnlyAbsentElements) {
  OwnedArray a;
  make_bytes(a, {7, 5});
  const std::uint32_t capacity = a->capacity;
  EXPECT_EQ(garray_push_unique(a.get(), &k5), GARRAY_NPOS);
  EXPECT_EQ(a->count, 2u);
  EXPECT_EQ(a->capacity, capacity);
  EXPECT_EQ(garray_push_unique(a.get(), &k9), 2u);
  EXPECT_EQ(contents(a.ga), (Bytes{7, 5, 9}));
}

TEST(GarrayPush, GrowsOnlyWhenFull) {
  OwnedArray a;
  garray_init_sized(a.get(), 1, 4, 1);
  a->min_capacity = 1;
  EXPECT_EQ(garray_push(a.get(), &k1), 4u);
  EXPECT_EQ(a->capacity, 6u);
  OwnedArray b;
  garray_init_sized(b.get(), 1, 4, 0);
  garray_append_n(b.get(), "abc", 3);
  garray_push(b.get(), &k1);
  EXPECT_EQ(b->capacity, 4u);
}

TEST(GarrayAppendN, GrowsOnceToTheFinalCount) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3, 4});
  ASSERT_EQ(a->capacity, 5u);
  EXPECT_EQ(garray_append_n(a.get(), "\x05\x06\x07", 3), 4u);
  EXPECT_EQ(a->capacity, 8u);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(garray_append_n(a.get(), nullptr, 0), 7u);
}

TEST(GarrayExtend, ReturnsTheFirstNewSlot) {
  OwnedArray a;
  make_bytes(a, {1, 2});
  auto *slot = static_cast<std::uint8_t *>(garray_extend(a.get(), 2));
  EXPECT_EQ(slot, static_cast<std::uint8_t *>(a->data) + 2);
  EXPECT_EQ(a->count, 4u);
  EXPECT_EQ(garray_extend(a.get(), 0), static_cast<std::uint8_t *>(a->data) + 4);
  EXPECT_EQ(a->count, 4u);
}

TEST(GarrayPushCopies, AppendsNCopiesAndIgnoresNonPositiveCounts) {
  OwnedArray a;
  make_bytes(a, {1});
  EXPECT_EQ(garray_push_copies(a.get(), &k9, 3), 1u);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 9, 9, 9}));
  EXPECT_EQ(garray_push_copies(a.get(), &k9, 0), 4u);
  EXPECT_EQ(garray_push_copies(a.get(), &k9, -2), 4u);
  EXPECT_EQ(a->count, 4u);
}

TEST(GarrayInsert, PlacesTheElementAtThePosition) {
  for (const auto &[pos, expected] : {std::pair<std::uint32_t, Bytes>{1, {1, 9, 2, 3}},
                                      {3, {1, 2, 3, 9}},
                                      {0, {9, 1, 2, 3}},
                                      {70, {1, 2, 3, 9}}}) {
    OwnedArray a;
    make_bytes(a, {1, 2, 3});
    auto *at = static_cast<std::uint8_t *>(garray_insert(a.get(), &k9, pos));
    EXPECT_EQ(contents(a.ga), expected) << pos;
    EXPECT_EQ(*at, 9);
  }
}

TEST(GarrayRemove, ByIndexWithAndWithoutKeepingOrder) {
  OwnedArray swapped, last, ordered;
  make_bytes(swapped, {1, 2, 3, 4});
  make_bytes(last, {1, 2, 3, 4});
  make_bytes(ordered, {1, 2, 3, 4});
  garray_remove_swap(swapped.get(), 0);
  garray_remove_swap(last.get(), 3);
  garray_remove_at(ordered.get(), 0);
  EXPECT_EQ(contents(swapped.ga), (Bytes{4, 2, 3}));
  EXPECT_EQ(contents(last.ga), (Bytes{1, 2, 3}));
  EXPECT_EQ(contents(ordered.ga), (Bytes{2, 3, 4}));
}

TEST(GarrayRemove, IndexesOutsideTheArrayChangeNothing) {
  OwnedArray a, empty;
  make_bytes(a, {1, 2, 3, 4});
  make_bytes(empty, {});
  const void *data = a->data;
  garray_remove_swap(a.get(), 4);
  garray_remove_at(a.get(), 4);
  garray_remove_at(a.get(), GARRAY_NPOS);
  garray_remove_swap(empty.get(), 0);
  garray_remove_at(empty.get(), 0);
  EXPECT_EQ(a->data, data);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(empty->count, 0u);
}

TEST(GarrayRemoveValue, RemovesTheLastEqualElementOnly) {
  OwnedArray a, b;
  make_bytes(a, {7, 1, 7});
  make_bytes(b, {7, 1, 7, 2});
  garray_remove_value(a.get(), &k7);
  garray_remove_value_swap(b.get(), &k7);
  EXPECT_EQ(contents(a.ga), (Bytes{7, 1}));
  EXPECT_EQ(contents(b.ga), (Bytes{7, 1, 2}));
  garray_remove_value(a.get(), &k9);
  garray_remove_value_swap(b.get(), &k9);
  EXPECT_EQ(a->count, 2u);
  EXPECT_EQ(b->count, 3u);
}

TEST(GarrayRemove, ShrinksAndMovesTheAlias) {
  OwnedArray a;
  garray_init_sized(a.get(), 1, 10, 0);
  a->min_capacity = 1;
  garray_append_n(a.get(), "\x01\x02\x03\x04\x05\x06", 6);
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  const void *before = a->data;
  garray_remove_at(a.get(), 0);
  EXPECT_EQ(a->capacity, 6u);
  EXPECT_NE(a->data, before);
  EXPECT_EQ(alias, a->data);
  EXPECT_EQ(contents(a.ga), (Bytes{2, 3, 4, 5, 6}));
}

TEST(GarrayAddFromOwnStorage, SurvivesRelocation) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3, 4, 5});
  ASSERT_EQ(a->count, a->capacity);
  auto *data = static_cast<std::uint8_t *>(a->data);
  garray_push(a.get(), data + 1);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5, 2}));

  data = static_cast<std::uint8_t *>(a->data);
  garray_append_n(a.get(), data, a->count);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5, 2, 1, 2, 3, 4, 5, 2}));

  OwnedArray b;
  make_bytes(b, {3, 4});
  garray_push_copies(b.get(), b->data, 5);
  EXPECT_EQ(contents(b.ga), (Bytes{3, 4, 3, 3, 3, 3, 3}));

  OwnedArray c;
  make_bytes(c, {6, 7});
  garray_push_unique(c.get(), &k1);
  garray_push_unique(c.get(), static_cast<std::uint8_t *>(c->data) + 1);
  EXPECT_EQ(contents(c.ga), (Bytes{6, 7, 1}));
}

TEST(GarrayAppendArray, AppendsAnotherArrayOrItself) {
  OwnedArray a, b;
  make_bytes(a, {1, 2, 3});
  make_bytes(b, {4, 5});
  auto *first = static_cast<std::uint8_t *>(garray_append_array(a.get(), b.get()));
  EXPECT_EQ(*first, 4);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(contents(b.ga), (Bytes{4, 5}));
  garray_append_array(a.get(), a.get());
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
  garray_append_array(a.get(), a.get());
  EXPECT_EQ(a->count, 20u);
}

TEST(GarrayAppendArray, RejectsADifferentElementSize) {
  OwnedArray a, wide;
  make_bytes(a, {1, 2});
  garray_init(wide.get(), 2);
  garray_push(wide.get(), "xy");
  const void *data = a->data;
  EXPECT_EQ(garray_append_array(a.get(), wide.get()), nullptr);
  EXPECT_EQ(a->data, data);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2}));
}

TEST(GarrayInsert, TakesAnElementFromItsOwnStorage) {
  for (std::uint32_t from = 0; from < 4; ++from)
    for (std::uint32_t pos = 0; pos <= 4; ++pos) {
      OwnedArray a;
      make_bytes(a, {10, 11, 12, 13});
      Bytes expected = {10, 11, 12, 13};
      expected.insert(expected.begin() + pos, static_cast<std::uint8_t>(10 + from));
      garray_insert(a.get(), static_cast<std::uint8_t *>(a->data) + from, pos);
      EXPECT_EQ(contents(a.ga), expected) << "from " << from << " at " << pos;
    }
  // Without growth the tail moves under an element taken from it.
  OwnedArray wide;
  garray_init_sized(wide.get(), 2, 8, 0);
  garray_append_n(wide.get(), "aabbcc", 3);
  garray_insert(wide.get(), static_cast<std::uint8_t *>(wide->data) + 3, 0);
  EXPECT_EQ(contents(wide.ga), (Bytes{'b', 'c', 'a', 'a', 'b', 'b', 'c', 'c'}));
}

TEST(GarrayAdd, FailsWithoutChangeWhenMemoryRunsOut) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3, 4, 5});
  const void *data = a->data;
  {
    AllocationLimit none(0);
    EXPECT_EQ(garray_push(a.get(), &k9), GARRAY_NPOS);
    EXPECT_EQ(garray_push_unique(a.get(), &k9), GARRAY_NPOS);
    EXPECT_EQ(garray_extend(a.get(), 1), nullptr);
    EXPECT_EQ(garray_append_n(a.get(), "ab", 2), GARRAY_NPOS);
    EXPECT_EQ(garray_insert(a.get(), &k9, 0), nullptr);
    EXPECT_EQ(garray_insert(a.get(), a->data, 0), nullptr);
    EXPECT_EQ(garray_append_array(a.get(), a.get()), nullptr);
  }
  EXPECT_EQ(a->data, data);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5}));

  // Two growths succeed, the third fails: the count and elements go back as they were.
  AllocationLimit two(2);
  EXPECT_EQ(garray_push_copies(a.get(), &k9, 20), GARRAY_NPOS);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5}));
}

TEST(GarrayAdd, CountsBeyondThirtyTwoBitsFail) {
  OwnedArray a;
  make_bytes(a, {1, 2});
  EXPECT_EQ(garray_extend(a.get(), 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(a->count, 2u);
  OwnedArray wide;
  garray_init(wide.get(), 0x10000);
  EXPECT_EQ(garray_extend(wide.get(), 0x10000), nullptr);
  EXPECT_EQ(wide->capacity, 1u);
}

TEST(GarrayGrowth, FillLevelAboveOneHundredStillHoldsTheElements) {
  OwnedArray a;
  garray_init(a.get(), 4);
  a->fill_percent = 250.0f;
  for (std::uint32_t i = 0; i < 50; ++i) garray_push(a.get(), &i);
  garray_append_n(a.get(), a->data, 50);
  ASSERT_GE(a->capacity, a->count);
  for (std::uint32_t i = 0; i < 100; ++i) {
    std::uint32_t v;
    std::memcpy(&v, static_cast<std::uint8_t *>(a->data) + 4 * i, 4);
    ASSERT_EQ(v, i % 50);
  }
  while (a->count > 0) garray_remove_swap(a.get(), 0);
  EXPECT_GE(a->capacity, 1u);
}

}  // namespace
