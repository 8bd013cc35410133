#include "model_matrix.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "job/model.h"
#include "array_view.h"
#include "base/worker_threads.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

// Below this order a matrix takes less time to compute than threads take to start.
constexpr std::int32_t kRowsPerThread = 256;

}  // namespace

py::array model(const py::handle &phases) {
  const Float64Array values = as_float64(phases, 1);
  const auto m = static_cast<std::int32_t>(values.shape(0));
  Float64Array G = new_float64(m, m);
  const double *phase = values.data();
  double *data = G.mutable_data();
  py::gil_scoped_release release;
  // Rows are handed out one at a time, since their lengths differ; each entry depends
  // on its two phases alone, so the values never depend on the number of threads.
  std::atomic<std::int32_t> next_row{0};
  const int threads = std::min(detail::choose_threads(0), 1 + m / kRowsPerThread);
  detail::run_workers(threads, [&] {
    for (std::int32_t i; (i = next_row.fetch_add(1, std::memory_order_relaxed)) < m;) {
      double *row = data + static_cast<std::ptrdiff_t>(i) * m;
      model_row(phase, i, row);
      std::fill(row + i + 1, row + m, 0.0);
    }
  });
  return G;
}

}  // namespace respmat::python
