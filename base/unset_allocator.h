// Internal: storage for large arrays of numbers that are filled right after they are
// made.
#ifndef RESPMAT_BASE_UNSET_ALLOCATOR_H
#define RESPMAT_BASE_UNSET_ALLOCATOR_H

#include <memory>
#include <new>
#include <utility>

namespace respmat::detail {

// std::allocator, except that elements made without a value are left unset: then
// std::vector<T, UnsetAllocator<T>>(n) costs no pass over the memory, and the threads
// that fill it take its page faults, each on its own part.
template <typename T>
struct UnsetAllocator : std::allocator<T> {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };

  UnsetAllocator() = default;
  template <typename U>
  explicit UnsetAllocator(const UnsetAllocator<U> &) noexcept {}

  template <typename U>
  void construct(U *place) noexcept {
    ::new (static_cast<void *>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U *place, Args &&...args) {
    ::new (static_cast<void *>(place)) U(std::forward<Args>(args)...);
  }
};

}  // namespace respmat::detail

#endif
