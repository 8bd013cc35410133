#include "model_matrix.h"

#include <algorithm>
#include <cstdint>

#include "app/model.h"
#include "array_view.h"

namespace py = pybind11;

namespace respmat::python {

py::array model(const py::handle &phases) {
  const Float64Array values = as_float64(phases, 1);
  const auto m = static_cast<std::int32_t>(values.shape(0));
  Float64Array G = new_float64(m, m);
  const double *phase = values.data();
  double *row = G.mutable_data();
  py::gil_scoped_release release;
  for (std::int32_t i = 0; i < m; ++i, row += m) {
    model_row(phase, i, row);
    std::fill(row + i + 1, row + m, 0.0);
  }
  return G;
}

}  // namespace respmat::python
