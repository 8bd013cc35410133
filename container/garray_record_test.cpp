#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "respmat/garray.h"
#include "container/garray_test_support.h"

namespace {

using respmat::testing::AllocationLimit;
using respmat::testing::Bytes;
using respmat::testing::contents;
using respmat::testing::make_bytes;
using respmat::testing::OwnedArray;

// Sets default_min_capacity for the scope of a test.
class DefaultMinCapacity {
 public:
  explicit DefaultMinCapacity(std::uint32_t value) : saved_(default_min_capacity) {
    default_min_capacity = value;
  }
  ~DefaultMinCapacity() { default_min_capacity = saved_; }

 private:
  std::uint32_t saved_;
};

TEST(GarrayInit, StartsEmptyAtTheDefaultCapacity) {
  OwnedArray a;
  ASSERT_EQ(garray_init(a.get(), 8), a.get());
  EXPECT_EQ(a->count, 0u);
  EXPECT_EQ(a->capacity, 1u);
  EXPECT_EQ(a->min_capacity, 1u);
  EXPECT_EQ(a->elem_size, 8u);
  EXPECT_EQ(a->fill_percent, 60.0f);
  EXPECT_EQ(a->alias_slot, nullptr);
  EXPECT_NE(a->data, nullptr);
}

TEST(GarrayInit, ReadsTheDefaultMinimumCapacityAtEachCall) {
  DefaultMinCapacity four(4);
  OwnedArray a;
  garray_init(a.get(), 2);
  EXPECT_EQ(a->capacity, 4u);
  EXPECT_EQ(a->min_capacity, 4u);
}

TEST(GarrayInitSized, StartsFullOnlyWhenAsked) {
  OwnedArray full, empty;
  garray_init_sized(full.get(), 4, 10, 1);
  garray_init_sized(empty.get(), 4, 10, 0);
  EXPECT_EQ(full->count, 10u);
  EXPECT_EQ(empty->count, 0u);
  for (const GrowArray *ga : {full.get(), empty.get()}) {
    EXPECT_EQ(ga->capacity, 10u);
    EXPECT_EQ(ga->min_capacity, 10u);
    EXPECT_EQ(ga->fill_percent, 60.0f);
  }
}

TEST(GarrayInit, FailureLeavesAZeroedRecord) {
  OwnedArray a, b;
  {
    AllocationLimit none(0);
    EXPECT_EQ(garray_init(a.get(), 8), nullptr);
  }
  EXPECT_EQ(a->data, nullptr);
  EXPECT_EQ(a->capacity, 0u);
  // 65536 slots of 65536 bytes do not fit in 32 bits: refused before allocating.
  AllocationLimit tracked(10);
  EXPECT_EQ(garray_init_sized(b.get(), 0x10000, 0x10000, 1), nullptr);
  EXPECT_TRUE(tracked.requests().empty());
  EXPECT_EQ(b->count, 0u);
}

TEST(GarrayGrowth, SingleInsertionsFollowTheDefaultSequence) {
  OwnedArray a;
  garray_init(a.get(), 4);
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  std::vector<std::uint32_t> capacities{a->capacity};
  for (std::uint32_t i = 0; i < 35; ++i) {
    const void *before = a->data;
    const std::uint32_t old_capacity = a->capacity;
    EXPECT_EQ(garray_push(a.get(), &i), i);
    if (a->capacity != old_capacity) {
      capacities.push_back(a->capacity);
      EXPECT_NE(a->data, before);
    }
    EXPECT_EQ(alias, a->data);
  }
  EXPECT_EQ(capacities, (std::vector<std::uint32_t>{1, 2, 3, 5, 7, 10, 13, 17, 22, 28, 36}));
}

TEST(GarrayShrink, SingleRemovalsFollowTheDefaultSequence) {
  OwnedArray a;
  garray_init_sized(a.get(), 1, 10, 0);
  a->min_capacity = 1;
  for (std::uint8_t v = 0; v < 8; ++v) garray_push(a.get(), &v);
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  std::vector<std::uint32_t> capacities;
  while (a->count > 0) {
    garray_remove_swap(a.get(), 0);
    capacities.push_back(a->capacity);
    EXPECT_EQ(alias, a->data);
  }
  EXPECT_EQ(capacities, (std::vector<std::uint32_t>{10, 7, 7, 5, 3, 3, 1, 1}));
}

TEST(GarrayShrink, SmallArraysCanRelocateOnEveryCall) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3, 4});
  ASSERT_EQ(a->capacity, 5u);
  const std::uint8_t x = 9;
  for (int round = 0; round < 2; ++round) {
    garray_remove_at(a.get(), 3);
    EXPECT_EQ(a->capacity, 3u);
    garray_push(a.get(), &x);
    EXPECT_EQ(a->capacity, 5u);
  }
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3, 9}));
}

TEST(GarrayShrink, NeverBelowAMinimumEqualToTheCapacity) {
  OwnedArray a;
  garray_init_sized(a.get(), 2, 6, 1);
  while (a->count > 0) garray_remove_swap(a.get(), 0);
  EXPECT_EQ(a->capacity, 6u);
}

TEST(GarrayShrink, KeepsTheLargerBlockWhenMemoryRunsOut) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3, 4, 5, 6, 7, 8});
  const std::uint32_t capacity = a->capacity;
  AllocationLimit none(0);
  garray_remove_at(a.get(), 0);
  garray_remove_at(a.get(), 0);
  garray_remove_at(a.get(), 0);
  EXPECT_EQ(a->capacity, capacity);
  EXPECT_EQ(contents(a.ga), (Bytes{4, 5, 6, 7, 8}));
}

TEST(GarrayShrinkToFit, EmptyArrayGetsCapacityZeroThenGrowsToOne) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3});
  garray_shrink_to_fit(a.get());
  EXPECT_EQ(a->capacity, 3u);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3}));
  OwnedArray e;
  garray_init(e.get(), 4);
  garray_shrink_to_fit(e.get());
  EXPECT_EQ(e->capacity, 0u);
  EXPECT_NE(e->data, nullptr);
  const std::uint32_t v = 5;
  garray_push(e.get(), &v);
  EXPECT_EQ(e->capacity, 1u);
}

TEST(GarrayClear, RestoresTheMinimumCapacity) {
  OwnedArray a, sized;
  garray_init(a.get(), 1);
  for (std::uint8_t v = 0; v < 30; ++v) garray_push(a.get(), &v);
  ASSERT_EQ(a->capacity, 36u);
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  garray_clear(a.get());
  EXPECT_EQ(a->count, 0u);
  EXPECT_EQ(a->capacity, 1u);
  EXPECT_EQ(alias, a->data);

  garray_init_sized(sized.get(), 4, 10, 1);
  garray_push(sized.get(), "abcd");
  garray_clear(sized.get());
  EXPECT_EQ(sized->capacity, 10u);
}

TEST(GarrayClear, LeavesTheArrayAsItWasWhenMemoryRunsOut) {
  OwnedArray a;
  make_bytes(a, {1, 2, 3});
  const void *data = a->data;
  AllocationLimit none(0);
  garray_clear(a.get());
  garray_shrink_to_fit(a.get());
  EXPECT_EQ(a->data, data);
  EXPECT_EQ(a->capacity, 3u);
  EXPECT_EQ(contents(a.ga), (Bytes{1, 2, 3}));
}

TEST(GarraySetAlias, ReturnsThePreviousSlotAndWritesDataAtOnce) {
  OwnedArray a;
  garray_init(a.get(), 4);
  void *first = nullptr;
  void *second = nullptr;
  EXPECT_EQ(garray_set_alias(a.get(), &first), nullptr);
  EXPECT_EQ(first, a->data);
  EXPECT_EQ(garray_set_alias(a.get(), &second), &first);
  EXPECT_EQ(second, a->data);
  EXPECT_EQ(garray_set_alias(a.get(), nullptr), &second);
  const void *data = a->data;
  garray_release(a.get());
  EXPECT_EQ(second, data) << "a detached variable is left alone";
}

TEST(GarrayRelease, NullsTheAliasedVariable) {
  GrowArray a;
  garray_init(&a, 4);
  void *alias = nullptr;
  garray_set_alias(&a, &alias);
  garray_release(&a);
  EXPECT_EQ(alias, nullptr);

  auto *heap = static_cast<GrowArray *>(std::malloc(sizeof(GrowArray)));
  garray_init(heap, 4);
  garray_set_alias(heap, &alias);
  EXPECT_NE(alias, nullptr);
  garray_destroy(heap);
  EXPECT_EQ(alias, nullptr);
}

TEST(GarrayCopy, IsIndependentAndHasNoAlias) {
  OwnedArray source, copy;
  make_bytes(source, {1, 2, 3, 4, 5, 6});
  source->min_capacity = 2;
  source->fill_percent = 70.0f;
  void *alias = nullptr;
  garray_set_alias(source.get(), &alias);
  ASSERT_EQ(garray_copy(copy.get(), source.get()), copy.get());
  EXPECT_EQ(copy->alias_slot, nullptr);
  EXPECT_EQ(copy->capacity, source->capacity);
  EXPECT_EQ(copy->min_capacity, 2u);
  EXPECT_EQ(copy->fill_percent, 70.0f);
  EXPECT_NE(copy->data, source->data);
  garray_clear(source.get());
  EXPECT_EQ(contents(copy.ga), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(alias, source->data);

  AllocationLimit none(0);
  OwnedArray failed;
  EXPECT_EQ(garray_copy(failed.get(), copy.get()), nullptr);
  EXPECT_EQ(failed->data, nullptr);
}

}  // namespace
