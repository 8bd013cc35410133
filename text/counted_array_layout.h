// Internal: the hidden-header layout shared by everything that makes counted arrays.
#ifndef RESPMAT_TEXT_COUNTED_ARRAY_LAYOUT_H
#define RESPMAT_TEXT_COUNTED_ARRAY_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace respmat::detail {

// The count occupies the last four bytes of the header; the header is as large as
// a slot's alignment requires so that slot 0 is aligned.
inline constexpr std::size_t kCountedHeaderBytes =
    alignof(void *) > sizeof(std::int32_t) ? alignof(void *) : sizeof(std::int32_t);
inline constexpr std::size_t kCountOffset = kCountedHeaderBytes - sizeof(std::int32_t);
static_assert(kCountedHeaderBytes % alignof(void *) == 0);
static_assert(kCountedHeaderBytes >= sizeof(std::int32_t));

inline unsigned char *counted_base(const void *handle) {
  return static_cast<unsigned char *>(const_cast<void *>(handle)) - kCountedHeaderBytes;
}

inline std::int32_t counted_get_count(const void *handle) {
  std::int32_t count;
  std::memcpy(&count, counted_base(handle) + kCountOffset, sizeof count);
  return count;
}

inline void counted_set_count(void *handle, std::int32_t count) {
  std::memcpy(counted_base(handle) + kCountOffset, &count, sizeof count);
}

// Allocates a counted array of `count` pointer slots (uninitialised). Returns the
// handle, or null when `count` is negative, too large, or memory runs out.
template <typename Slot>
Slot *counted_new(std::int32_t count) {
  static_assert(sizeof(Slot) == sizeof(void *));
  if (count < 0) return nullptr;
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(count), sizeof(Slot), &bytes) ||
      __builtin_add_overflow(bytes, kCountedHeaderBytes, &bytes))
    return nullptr;
  auto *base = static_cast<unsigned char *>(std::malloc(bytes));
  if (base == nullptr) return nullptr;
  std::memcpy(base + kCountOffset, &count, sizeof count);
  return reinterpret_cast<Slot *>(base + kCountedHeaderBytes);
}

inline void counted_release(void *handle) {
  if (handle != nullptr) std::free(counted_base(handle));
}

}  // namespace respmat::detail

#endif
