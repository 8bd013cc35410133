#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "respmat/garray.h"
#include "container/garray_test_support.h"

namespace {

using respmat::testing::AllocationLimit;
using respmat::testing::Bytes;
using respmat::testing::contents;
using respmat::testing::make_bytes;
using respmat::testing::OwnedArray;

using List = std::initializer_list<std::uint8_t>;

Bytes sort_unique_of(List values) {
  OwnedArray a;
  make_bytes(a, values);
  garray_sort_unique(a.get());
  return contents(a.ga);
}

// Runs `operation` on two byte arrays, checking that neither input changes.
template <typename Operation>
Bytes combine(Operation operation, List a_values, List b_values) {
  OwnedArray a, b, result;
  make_bytes(a, a_values);
  make_bytes(b, b_values);
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  EXPECT_EQ(operation(result.get(), a.get(), b.get()), result.get());
  EXPECT_EQ(contents(a.ga), Bytes(a_values));
  EXPECT_EQ(contents(b.ga), Bytes(b_values));
  EXPECT_EQ(result->alias_slot, nullptr);
  return contents(result.ga);
}

int compare_numerically(const void *a, const void *b) {
  std::uint32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y ? 1 : 0;
}

TEST(GarraySortBytes, OrdersByBytesNotByNumbers) {
  OwnedArray a;
  make_bytes(a, {3, 1, 3, 2});
  garray_sort_bytes(a.get());
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 3}));

  OwnedArray words;
  garray_init(words.get(), 4);
  const std::uint32_t values[] = {1, 256};
  garray_append_n(words.get(), values, 2);
  garray_sort_bytes(words.get());
  std::uint32_t first;
  std::memcpy(&first, words->data, 4);
  EXPECT_EQ(first, 256u);
  EXPECT_EQ(garray_compare_size, 4u);

  garray_sort(words.get(), compare_numerically);
  std::memcpy(&first, words->data, 4);
  EXPECT_EQ(first, 1u);
}

TEST(GarraySortBytes, SetsTheComparisonSize) {
  OwnedArray a;
  garray_init(a.get(), 8);
  garray_sort_bytes(a.get());
  EXPECT_EQ(garray_compare_size, 8u);
  std::uint8_t x[3] = {1, 2, 3}, y[3] = {1, 2, 4};
  garray_compare_size = 2;
  EXPECT_EQ(garray_compare_bytes(x, y), 0);
  garray_compare_size = 3;
  EXPECT_LT(garray_compare_bytes(x, y), 0);
}

TEST(GarraySortUnique, LeavesTheOrderOfItsUnorderedRemovals) {
  EXPECT_EQ(sort_unique_of({3, 1, 3, 2}), (Bytes{1, 2, 3}));
  EXPECT_EQ(sort_unique_of({1, 1, 2, 3, 4}), (Bytes{1, 4, 2, 3}));
  EXPECT_EQ(sort_unique_of({2, 2, 2}), (Bytes{2}));
  EXPECT_EQ(sort_unique_of({1, 1, 1, 2}), (Bytes{1, 2}));
  EXPECT_EQ(sort_unique_of({5, 4, 3, 2, 1, 1}), (Bytes{1, 5, 2, 3, 4}));
  EXPECT_EQ(sort_unique_of({7}), (Bytes{7}));
  EXPECT_EQ(sort_unique_of({}), Bytes{});
}

TEST(GarraySortUnique, ShrinksAsItThinsOut) {
  OwnedArray a;
  garray_init(a.get(), 1);
  garray_push_copies(a.get(), "\x04", 40);
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  garray_sort_unique(a.get());
  EXPECT_EQ(contents(a.ga), (Bytes{4}));
  EXPECT_EQ(a->capacity, 1u);
  EXPECT_EQ(alias, a->data);
}

TEST(GarrayUnion, CollapsesEveryDuplicate) {
  EXPECT_EQ(combine(garray_union, {5, 1, 3}, {3, 2}), (Bytes{1, 2, 3, 5}));
  EXPECT_EQ(combine(garray_union, {1, 2}, {1, 3}), (Bytes{1, 3, 2}));
  EXPECT_EQ(combine(garray_union, {1, 2, 3}, {2, 3, 4}), (Bytes{1, 2, 4, 3}));
  EXPECT_EQ(combine(garray_union, {1, 2, 3}, {4, 5}), (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(combine(garray_union, {3, 1, 3, 2}, {}), (Bytes{1, 2, 3}));
  EXPECT_EQ(combine(garray_union, {}, {}), Bytes{});
}

TEST(GarrayIntersection, DropsOneOfEveryRun) {
  EXPECT_EQ(combine(garray_intersection, {1, 2, 3}, {2, 3, 4}), (Bytes{2, 3}));
  EXPECT_EQ(combine(garray_intersection, {5, 1, 3}, {3, 2}), (Bytes{3}));
  EXPECT_EQ(combine(garray_intersection, {1, 2}, {1, 3}), (Bytes{1}));
  EXPECT_EQ(combine(garray_intersection, {1, 2, 3}, {4, 5}), Bytes{});
  EXPECT_EQ(combine(garray_intersection, {4}, {}), Bytes{});
  EXPECT_EQ(combine(garray_intersection, {3, 1, 3, 2}, {}), (Bytes{3}));
  EXPECT_EQ(combine(garray_intersection, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}), (Bytes{3, 1, 5, 2, 4}));
  EXPECT_EQ(combine(garray_intersection, {}, {}), Bytes{});
}

TEST(GarraySetOperations, RejectDifferentElementSizesWithoutTouchingTheResult) {
  OwnedArray a, wide;
  make_bytes(a, {1, 2});
  garray_init(wide.get(), 2);
  GrowArray result;
  std::memset(&result, 0xAB, sizeof result);
  unsigned char before[sizeof result];
  std::memcpy(before, &result, sizeof result);
  EXPECT_EQ(garray_union(&result, a.get(), wide.get()), nullptr);
  EXPECT_EQ(garray_intersection(&result, wide.get(), a.get()), nullptr);
  EXPECT_EQ(std::memcmp(&result, before, sizeof result), 0);
}

TEST(GarraySetOperations, FailWithNothingLeakedWhenMemoryRunsOut) {
  OwnedArray a, b;
  make_bytes(a, {1, 2, 3, 4, 5});
  make_bytes(b, {6, 7});
  GrowArray result{};
  for (int successes = 0; successes < 2; ++successes) {
    AllocationLimit limit(successes);
    EXPECT_EQ(garray_union(&result, a.get(), b.get()), nullptr);
    EXPECT_EQ(garray_intersection(&result, a.get(), b.get()), nullptr);
    EXPECT_EQ(result.data, nullptr);
  }
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 4, 5}));
}

}  // namespace
