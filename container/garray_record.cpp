// The GrowArray record: initialisation, copying, the alias slot, clearing and release.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "respmat/garray.h"
#include "container/garray_policy.h"

using namespace respmat::detail;

static_assert(std::is_standard_layout_v<GrowArray>);
static_assert(offsetof(GrowArray, data) == 0);
static_assert(offsetof(GrowArray, alias_slot) == sizeof(void *));
static_assert(offsetof(GrowArray, count) == 2 * sizeof(void *));
static_assert(offsetof(GrowArray, capacity) == offsetof(GrowArray, count) + 4);
static_assert(offsetof(GrowArray, min_capacity) == offsetof(GrowArray, count) + 8);
static_assert(offsetof(GrowArray, elem_size) == offsetof(GrowArray, count) + 12);
static_assert(offsetof(GrowArray, fill_percent) == offsetof(GrowArray, count) + 16);

namespace {

constexpr float kDefaultFillPercent = 60.0f;

// Fills every field of a record treated as empty memory; a failed allocation leaves it
// zeroed so that releasing it is harmless.
GrowArray *fill_record(GrowArray *ga, std::uint32_t elem_size, std::uint32_t count,
                       std::uint32_t capacity, std::uint32_t min_capacity) {
  void *block = garray_allocate_slots(capacity, elem_size);
  if (block == nullptr) {
    *ga = GrowArray{};
    return nullptr;
  }
  *ga = GrowArray{.data = block,
                  .alias_slot = nullptr,
                  .count = count,
                  .capacity = capacity,
                  .min_capacity = min_capacity,
                  .elem_size = elem_size,
                  .fill_percent = kDefaultFillPercent};
  return ga;
}

}  // namespace

extern "C" GrowArray *garray_init(GrowArray *ga, uint32_t elem_size) {
  const std::uint32_t d = default_min_capacity;
  return fill_record(ga, elem_size, 0, d, d);
}

extern "C" GrowArray *garray_init_sized(GrowArray *ga, uint32_t elem_size, uint32_t capacity,
                                        int start_full) {
  return fill_record(ga, elem_size, start_full != 0 ? capacity : 0, capacity, capacity);
}

extern "C" GrowArray *garray_copy(GrowArray *dst, const GrowArray *src) {
  const GrowArray source = *src;
  if (fill_record(dst, source.elem_size, source.count, source.capacity, source.min_capacity) ==
      nullptr)
    return nullptr;
  // Spare slots are copied too, so the copy's block is byte-for-byte the source's.
  std::memcpy(dst->data, source.data, static_cast<std::size_t>(source.capacity) * source.elem_size);
  dst->fill_percent = source.fill_percent;
  return dst;
}

extern "C" void **garray_set_alias(GrowArray *ga, void **slot) {
  void **previous = ga->alias_slot;
  ga->alias_slot = slot;
  garray_publish_data(ga);
  return previous;
}

extern "C" void garray_shrink_to_fit(GrowArray *ga) {
  RetiredBlock retired;
  static_cast<void>(garray_relocate(ga, ga->count, ga->count, retired));
}

extern "C" void garray_clear(GrowArray *ga) {
  RetiredBlock retired;
  if (garray_relocate(ga, ga->min_capacity, 0, retired)) ga->count = 0;
}

extern "C" void garray_release(GrowArray *ga) {
  if (ga->alias_slot != nullptr) {
    void *const null_pointer = nullptr;
    std::memcpy(ga->alias_slot, &null_pointer, sizeof null_pointer);
  }
  std::free(ga->data);
  ga->data = nullptr;
}

extern "C" void garray_destroy(GrowArray *ga) {
  garray_release(ga);
  std::free(ga);
}

extern "C" uint32_t garray_max_unsigned(uint32_t a, uint32_t b) { return a >= b ? a : b; }
