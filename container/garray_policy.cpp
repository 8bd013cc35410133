// The capacity policy: target capacity, growth and shrink rules, and relocation.
#include "container/garray_policy.h"

#include <cstring>
#include <limits>

namespace respmat::detail {

void *garray_system_allocate(std::size_t bytes) { return std::malloc(bytes); }

GarrayAllocator garray_allocator = &garray_system_allocate;

void *garray_allocate_slots(std::uint32_t slots, std::uint32_t elem_size) {
  std::uint32_t bytes = 0;
  if (__builtin_mul_overflow(slots, elem_size, &bytes)) return nullptr;
  return garray_allocator(bytes == 0 ? 1 : bytes);
}

std::uint32_t garray_target_capacity(float fill_percent, std::uint32_t n) {
  // The operands are long double, so on x87 each operation rounds to the 64-bit
  // significand; 0.005 is the double constant, widened exactly.
  constexpr double kHalfPercent = 0.005;
  const long double divisor = static_cast<long double>(fill_percent) * kHalfPercent + 0.5L;
  const long double quotient = static_cast<long double>(n) / divisor;
  const double rounded = static_cast<double>(quotient);
  // `!(x >= 0)` also catches NaN, which a fill_percent of NaN or -100 produces.
  if (!(rounded >= 0.0)) return 0;
  if (rounded >= 4294967296.0) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(rounded);
}

bool garray_below_fill(float fill_percent, std::uint32_t count, std::uint32_t capacity) {
  constexpr double kPercent = 0.01;
  const long double threshold = static_cast<long double>(fill_percent) * kPercent;
  const long double ratio = static_cast<long double>(count) / static_cast<long double>(capacity);
  return threshold > ratio;
}

void garray_publish_data(const GrowArray *ga) {
  if (ga->alias_slot != nullptr) std::memcpy(ga->alias_slot, &ga->data, sizeof ga->data);
}

bool garray_relocate(GrowArray *ga, std::uint32_t capacity, std::uint32_t keep,
                     RetiredBlock &retired) {
  void *block = garray_allocate_slots(capacity, ga->elem_size);
  if (block == nullptr) return false;
  if (keep != 0) std::memcpy(block, ga->data, static_cast<std::size_t>(keep) * ga->elem_size);
  retired.hold(ga->data);
  ga->data = block;
  ga->capacity = capacity;
  garray_publish_data(ga);
  return true;
}

bool garray_make_room(GrowArray *ga, std::uint64_t needed, RetiredBlock &retired) {
  if (needed <= ga->capacity) return true;
  if (needed > std::numeric_limits<std::uint32_t>::max()) return false;
  const auto n = static_cast<std::uint32_t>(needed);
  // Within the policy's range T(n) >= n; the floor keeps a fill_percent above 100
  // from yielding a block too small for the elements.
  const std::uint32_t capacity =
      garray_max_unsigned(garray_target_capacity(ga->fill_percent, n), n);
  return garray_relocate(ga, capacity, ga->count, retired);
}

void garray_apply_shrink_rule(GrowArray *ga) {
  if (ga->capacity == 0 || !garray_below_fill(ga->fill_percent, ga->count, ga->capacity)) return;
  if (ga->min_capacity >= ga->capacity) return;
  // The count floor only matters for a fill_percent above 100, where T(n) < n.
  const std::uint32_t capacity = garray_max_unsigned(
      garray_max_unsigned(garray_target_capacity(ga->fill_percent, ga->count), ga->min_capacity),
      ga->count);
  RetiredBlock retired;
  // Keeping the larger block is harmless when the smaller one cannot be had.
  static_cast<void>(garray_relocate(ga, capacity, ga->count, retired));
}

}  // namespace respmat::detail
