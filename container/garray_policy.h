// Internal: the capacity policy, block allocation and relocation shared by every
// operation that resizes a GrowArray.
#ifndef RESPMAT_CONTAINER_GARRAY_POLICY_H
#define RESPMAT_CONTAINER_GARRAY_POLICY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "respmat/garray.h"

namespace respmat::detail {

static_assert(sizeof(float) == 4, "fill_percent is stored as 4 bytes");
static_assert(sizeof(long double) > sizeof(double), "the policy needs extended precision");

// The address of element `index` in the storage block of `ga`.
[[nodiscard]] inline unsigned char *slot(const GrowArray *ga, std::uint32_t index) {
  return static_cast<unsigned char *>(ga->data) + static_cast<std::size_t>(index) * ga->elem_size;
}

// Every storage block and packed buffer comes from garray_allocator, which is
// garray_system_allocate (std::malloc) unless tests swap it to make allocations fail.
using GarrayAllocator = void *(*)(std::size_t);
void *garray_system_allocate(std::size_t bytes);
extern GarrayAllocator garray_allocator;

// Allocates a block for `slots` elements of `elem_size` bytes (1 byte when that is 0,
// so that a successful allocation is never null). Returns null when the byte size does
// not fit in 32 bits or memory runs out.
[[nodiscard]] void *garray_allocate_slots(std::uint32_t slots, std::uint32_t elem_size);

// T(n): n / (fill_percent * 0.005 + 0.5), each step rounded to extended precision, the
// quotient rounded to double and truncated. Results outside 0 to 2^32 - 1 (only for a
// fill_percent outside 0 to 100 or n beyond the policy's range) are clamped to it.
[[nodiscard]] std::uint32_t garray_target_capacity(float fill_percent, std::uint32_t n);

// Whether an array of `capacity` slots holding `count` elements is sparse enough to
// shrink: count / capacity < fill_percent * 0.01, both sides in extended precision.
[[nodiscard]] bool garray_below_fill(float fill_percent, std::uint32_t count,
                                     std::uint32_t capacity);

// The old block of a relocation, released when this goes out of scope. A caller
// whose source may lie in the array's own storage keeps it alive until it has read.
class RetiredBlock {
 public:
  RetiredBlock() = default;
  RetiredBlock(const RetiredBlock &) = delete;
  RetiredBlock &operator=(const RetiredBlock &) = delete;
  ~RetiredBlock() { std::free(block_); }
  void hold(void *block) {
    std::free(block_);
    block_ = block;
  }

 private:
  void *block_ = nullptr;
};

// Moves the first `keep` elements to a new block of `capacity` slots, updating data
// and the alias. The old block goes to `retired`. Returns false, changing nothing,
// when the block cannot be allocated.
[[nodiscard]] bool garray_relocate(GrowArray *ga, std::uint32_t capacity, std::uint32_t keep,
                                   RetiredBlock &retired);

// Growth rule: makes room for `needed` elements, relocating to T(needed) (never less
// than `needed`) when needed > capacity. Returns false, changing nothing, when memory
// runs out or the size does not fit in 32 bits.
[[nodiscard]] bool garray_make_room(GrowArray *ga, std::uint64_t needed, RetiredBlock &retired);

// Shrink rule, applied after every removal with the count already reduced. When the
// smaller block cannot be allocated the array keeps its larger one.
void garray_apply_shrink_rule(GrowArray *ga);

// Writes `data` into the alias variable, if any. The variable may be of any object
// pointer type, so it is written as bytes.
void garray_publish_data(const GrowArray *ga);

}  // namespace respmat::detail

#endif
