// Internal: ownership of blocks from malloc's family, released with std::free.
#ifndef RESPMAT_BASE_MALLOC_BLOCK_H
#define RESPMAT_BASE_MALLOC_BLOCK_H

#include <cstdlib>
#include <memory>

namespace respmat::detail {

struct FreeDeleter {
  void operator()(void *block) const noexcept { std::free(block); }
};

// Owns a block from malloc, calloc, realloc or aligned_alloc.
template <typename T>
using MallocBlock = std::unique_ptr<T, FreeDeleter>;

}  // namespace respmat::detail

#endif
