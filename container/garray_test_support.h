// Test helpers for the container: an owning record, byte-array builders and a switch
// that makes storage allocations fail.
#ifndef RESPMAT_CONTAINER_GARRAY_TEST_SUPPORT_H
#define RESPMAT_CONTAINER_GARRAY_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "respmat/garray.h"
#include "container/garray_policy.h"

namespace respmat::testing {

using Bytes = std::vector<std::uint8_t>;

// A record released at the end of the scope (releasing a zeroed record is harmless).
struct OwnedArray {
  GrowArray ga{};
  OwnedArray() = default;
  OwnedArray(const OwnedArray &) = delete;
  OwnedArray &operator=(const OwnedArray &) = delete;
  ~OwnedArray() { garray_release(&ga); }
  GrowArray *operator->() { return &ga; }
  GrowArray *get() { return &ga; }
};

// Fills `array` with 1-byte elements (default fill level and minimum capacity).
inline void make_bytes(OwnedArray &array, std::initializer_list<std::uint8_t> values) {
  garray_init(array.get(), 1);
  for (std::uint8_t v : values) garray_push(array.get(), &v);
}

// The elements in use, as bytes.
inline Bytes contents(const GrowArray &ga) {
  const auto *p = static_cast<const std::uint8_t *>(ga.data);
  return Bytes(p, p + static_cast<std::size_t>(ga.count) * ga.elem_size);
}

// While alive, lets the next `successes` storage allocations succeed and fails the
// rest; records the size of every request.
class AllocationLimit {
 public:
  explicit AllocationLimit(int successes) {
    remaining_ = successes;
    requests_.clear();
    respmat::detail::garray_allocator = &limited;
  }
  AllocationLimit(const AllocationLimit &) = delete;
  AllocationLimit &operator=(const AllocationLimit &) = delete;
  ~AllocationLimit() {
    respmat::detail::garray_allocator = &respmat::detail::garray_system_allocate;
  }
  [[nodiscard]] const std::vector<std::size_t> &requests() const { return requests_; }

 private:
  static void *limited(std::size_t bytes) {
    requests_.push_back(bytes);
    if (remaining_ <= 0) return nullptr;
    --remaining_;
    return std::malloc(bytes);
  }
  static inline int remaining_ = 0;
  static inline std::vector<std::size_t> requests_;
};

}  // namespace respmat::testing

#endif
