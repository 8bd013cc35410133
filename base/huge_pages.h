// Internal: memory that large loads fill, asked for in huge pages. Taking a fresh page
// costs a fault per page, and on virtual machines a fault costs more than parsing the
// numbers that fill the page; a 2 MiB page takes one fault where 4 KiB pages take 512.
// Everything here is a hint: where the system offers no huge pages, the memory is
// the same, only slower to touch first.
#ifndef RESPMAT_BASE_HUGE_PAGES_H
#define RESPMAT_BASE_HUGE_PAGES_H

#include <cstddef>
#include <cstdint>

#include "base/malloc_block.h"

namespace respmat::detail {

// Below this, the faults saved do not pay for the calls.
inline constexpr std::size_t kWorthHugePages = std::size_t{8} << 20;

// A block of `bytes` (at least one) from malloc's family, to be released with
// std::free; large blocks are aligned to huge pages and asked for in them. Null when
// memory runs out.
[[nodiscard]] void *allocate_in_huge_pages(std::size_t bytes);

// Owns a block from allocate_in_huge_pages(), which comes from malloc's family.
template <typename T>
using HugePageBlock = MallocBlock<T>;

// Gathers memory that grows at its end, allocated and about to be filled, into huge
// pages as it grows, a few whole huge pages at a time; pages already touched are
// copied into the huge ones.
class HugePageGatherer {
 public:
  explicit HugePageGatherer(const void *begin);
  // The memory now reaches `end`: gathers the whole huge pages below it not gathered
  // yet, once there are enough of them to pay for the call (with `last`, whatever whole
  // pages remain). Returns the end of the memory gathered so far: what lies below it
  // can be filled without a fault per small page.
  std::uintptr_t reach(const void *end, bool last);

 private:
  std::uintptr_t gathered_to_;
};

}  // namespace respmat::detail

#endif
