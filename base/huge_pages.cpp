#include "base/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

// Older C library headers lack the name of the synchronous gathering; kernels before
// it refuse the call, which only leaves the pages as they are.
#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25
#endif

namespace respmat::detail {
namespace {

constexpr std::size_t kHugePage = std::size_t{1} << 21;

}  // namespace

void *allocate_in_huge_pages(std::size_t bytes) {
  if (bytes < kWorthHugePages) return std::malloc(bytes != 0 ? bytes : 1);
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void *block = std::aligned_alloc(kHugePage, rounded);
  if (block != nullptr) static_cast<void>(::madvise(block, rounded, MADV_HUGEPAGE));
  return block;
}

HugePageGatherer::HugePageGatherer(const void *begin)
    : gathered_to_((reinterpret_cast<std::uintptr_t>(begin) + kHugePage - 1) & ~(kHugePage - 1)) {}

std::uintptr_t HugePageGatherer::reach(const void *end, bool last) {
  const auto whole_pages_end = reinterpret_cast<std::uintptr_t>(end) & ~(kHugePage - 1);
  if (whole_pages_end <= gathered_to_ || (!last && whole_pages_end - gathered_to_ < kWorthHugePages))
    return gathered_to_;
  void *const start = reinterpret_cast<void *>(gathered_to_);
  static_cast<void>(::madvise(start, whole_pages_end - gathered_to_, MADV_HUGEPAGE));
  static_cast<void>(::madvise(start, whole_pages_end - gathered_to_, MADV_COLLAPSE));
  gathered_to_ = whole_pages_end;
  return gathered_to_;
}

}  // namespace respmat::detail
