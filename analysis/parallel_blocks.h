// Internal: work on large matrices spread over the cores in fixed blocks of indices.
#ifndef RESPMAT_ANALYSIS_PARALLEL_BLOCKS_H
#define RESPMAT_ANALYSIS_PARALLEL_BLOCKS_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>

#include "base/worker_threads.h"

namespace respmat::analysis::detail {

// Rows of a matrix per block of work: tens of thousands of entries for matrices of
// thousands of columns, and blocks enough for every core in one of a few hundred rows.
inline constexpr std::size_t kRowsPerBlock = 16;

// How many blocks of `block_size` indices cover [0, count).
[[nodiscard]] constexpr std::size_t block_count(std::size_t count, std::size_t block_size) {
  return (count + block_size - 1) / block_size;
}

// Calls work(block, begin, end) for every block of `block_size` consecutive indices
// of [0, count), on every core the process may use. The blocks depend on the count
// and size alone, so whatever is gathered per block and combined in block order is
// the same on any number of threads. The first exception a call throws is rethrown
// here, after every thread has stopped taking blocks.
template <typename Work>
void for_each_block(std::size_t count, std::size_t block_size, Work &&work) {
  const std::size_t blocks = block_count(count, block_size);
  if (blocks == 0) return;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first_failure;
  std::mutex failure_mutex;
  const auto cores = static_cast<std::size_t>(respmat::detail::choose_threads(0));
  respmat::detail::run_workers(static_cast<int>(std::min(cores, blocks)), [&] {
    for (std::size_t b; !failed.load(std::memory_order_relaxed) &&
                        (b = next.fetch_add(1, std::memory_order_relaxed)) < blocks;) {
      try {
        work(b, b * block_size, std::min(count, (b + 1) * block_size));
      } catch (...) {
        const std::lock_guard lock(failure_mutex);
        if (!first_failure) first_failure = std::current_exception();
        failed = true;
      }
    }
  });
  if (first_failure) std::rethrow_exception(first_failure);
}

}  // namespace respmat::analysis::detail

#endif
