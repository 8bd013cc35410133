// A long random sequence of additions and removals, checked after every step against a
// plain vector and the closed forms of the capacity policy.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "respmat/garray.h"
#include "container/garray_test_support.h"

namespace {

using respmat::testing::OwnedArray;

constexpr std::uint32_t kElemSize = 3;
using Element = std::array<std::uint8_t, kElemSize>;

// A fill level p / q percent, with the policy's closed forms for it.
struct FillLevel {
  std::uint64_t p;
  std::uint64_t q;
  [[nodiscard]] float percent() const { return static_cast<float>(p) / static_cast<float>(q); }
  [[nodiscard]] std::uint32_t target(std::uint64_t n) const {
    return static_cast<std::uint32_t>(200 * n * q / (p + 100 * q));
  }
  [[nodiscard]] bool shrinks(std::uint64_t count, std::uint64_t capacity) const {
    return 100 * count * q <= p * capacity;
  }
};

struct Model {
  FillLevel fill;
  std::uint32_t min_capacity;
  std::uint32_t capacity;
  std::vector<Element> elements;

  void make_room(std::uint64_t needed) {
    if (needed > capacity) capacity = fill.target(needed);
  }
  void after_removal() {
    const std::uint64_t n = elements.size();
    if (fill.shrinks(n, capacity) && min_capacity < capacity)
      capacity = std::max(fill.target(n), min_capacity);
  }
  [[nodiscard]] std::uint32_t last_index_of(const Element &e) const {
    for (std::size_t i = elements.size(); i-- > 0;)
      if (elements[i] == e) return static_cast<std::uint32_t>(i);
    return GARRAY_NPOS;
  }
};

void run_random_sequence(FillLevel fill, std::uint32_t min_capacity, std::uint32_t seed) {
  std::mt19937 rng(seed);
  OwnedArray a;
  garray_init_sized(a.get(), kElemSize, min_capacity, 0);
  a->fill_percent = fill.percent();
  void *alias = nullptr;
  garray_set_alias(a.get(), &alias);
  Model model{fill, min_capacity, min_capacity, {}};

  auto random_element = [&] {
    // Few distinct values, so that searches find duplicates.
    const auto v = static_cast<std::uint8_t>(rng() % 6);
    return Element{v, static_cast<std::uint8_t>(v * 3), 0x5A};
  };
  auto random_index = [&](std::uint32_t bound) {
    return static_cast<std::uint32_t>(rng() % (bound + 1));
  };

  for (int step = 0; step < 20000; ++step) {
    std::ostringstream log;
    // Phases that favour growth alternate with phases that favour removal.
    const bool growing = (step / 1000) % 2 == 0;
    const int op = static_cast<int>(rng() % 10);
    const auto count = static_cast<std::uint32_t>(model.elements.size());
    if ((op < 6) == growing) {
      const Element e = random_element();
      switch (op % 4) {
        case 0:
          log << "push";
          model.make_room(count + 1);
          model.elements.push_back(e);
          ASSERT_EQ(garray_push(a.get(), e.data()), count);
          break;
        case 1: {
          const std::uint32_t pos = random_index(count + 2);
          log << "insert " << pos;
          model.make_room(count + 1);
          model.elements.insert(model.elements.begin() + std::min(pos, count), e);
          ASSERT_NE(garray_insert(a.get(), e.data(), pos), nullptr);
          break;
        }
        case 2: {
          const std::uint32_t n = random_index(5);
          log << "append " << n;
          std::vector<Element> batch(n, e);
          model.make_room(std::uint64_t{count} + n);
          model.elements.insert(model.elements.end(), batch.begin(), batch.end());
          ASSERT_EQ(garray_append_n(a.get(), batch.data(), n), count);
          break;
        }
        default: {
          const std::uint32_t n = random_index(3);
          log << "copies " << n;
          for (std::uint32_t k = 0; k < n; ++k) {
            model.make_room(model.elements.size() + 1);
            model.elements.push_back(e);
          }
          ASSERT_EQ(garray_push_copies(a.get(), e.data(), static_cast<std::int32_t>(n)), count);
        }
      }
    } else {
      const std::uint32_t index = random_index(count);
      switch (op % 4) {
        case 0:
          log << "remove_swap " << index;
          if (index < count) {
            model.elements[index] = model.elements.back();
            model.elements.pop_back();
            model.after_removal();
          }
          garray_remove_swap(a.get(), index);
          break;
        case 1:
          log << "remove_at " << index;
          if (index < count) {
            model.elements.erase(model.elements.begin() + index);
            model.after_removal();
          }
          garray_remove_at(a.get(), index);
          break;
        default: {
          const Element key = random_element();
          const std::uint32_t found = model.last_index_of(key);
          ASSERT_EQ(garray_find(a.get(), key.data()), found);
          log << "remove_value " << int{key[0]};
          if (found != GARRAY_NPOS) {
            model.elements.erase(model.elements.begin() + found);
            model.after_removal();
          }
          garray_remove_value(a.get(), key.data());
        }
      }
    }
    const std::string where =
        "seed " + std::to_string(seed) + " step " + std::to_string(step) + ": " + log.str();
    ASSERT_EQ(a->count, model.elements.size()) << where;
    ASSERT_EQ(a->capacity, model.capacity) << where;
    ASSERT_EQ(alias, a->data);
    ASSERT_TRUE(a->count == 0 ||
                std::memcmp(a->data, model.elements.data(), a->count * kElemSize) == 0)
        << where;
  }
}

TEST(GarrayModel, RandomSequencesAgreeWithTheClosedForms) {
  const FillLevel levels[] = {{60, 1}, {70, 1}, {1, 1}, {100, 1}, {67, 2}};
  std::uint32_t seed = 20240917;
  for (const FillLevel &fill : levels)
    for (const std::uint32_t min_capacity : {1u, 7u}) {
      SCOPED_TRACE(testing::Message() << "fill " << fill.percent() << " min " << min_capacity);
      run_random_sequence(fill, min_capacity, seed++);
      if (HasFatalFailure()) return;
    }
}

}  // namespace
