#include "model/model_matrix.h"

#include <algorithm>
#include <cstddef>

#include "base/worker_threads.h"

namespace respmat {
namespace {

// Below this order a matrix takes less time to compute than threads take to start.
constexpr std::int32_t kRowsPerThread = 256;

}  // namespace

void model_matrix(const ResponseModel &model, double *out, const std::atomic<bool> *stop, std::int32_t *reach) {
  const std::int32_t rows = model.rows();
  const std::int32_t cols = model.cols();
  // Rows are handed out one at a time, since their lengths may differ; each entry
  // depends on its row and column alone, so the values never depend on the number
  // of threads.
  std::atomic<std::int32_t> next_row{0};
  const int threads = std::min(detail::choose_threads(0), 1 + rows / kRowsPerThread);
  detail::run_workers(threads, [&] {
    for (std::int32_t i; (stop == nullptr || !stop->load(std::memory_order_relaxed)) &&
                         (i = next_row.fetch_add(1, std::memory_order_relaxed)) < rows;) {
      double *row = out + static_cast<std::ptrdiff_t>(i) * cols;
      const std::int32_t reached = model.row(i, row);
      std::fill(row + reached, row + cols, 0.0);
      if (reach != nullptr) reach[i] = reached;
    }
  });
}

}  // namespace respmat
