#include "model_matrix.h"

#include <cstdint>

#include "docstrings.h"
#include "job/model.h"
#include "array_view.h"

namespace py = pybind11;

namespace respmat::python {

py::array model(const py::handle &phases, double amplitude, double offset) {
  const Float64Array values = as_float64(phases, 1);
  const auto m = static_cast<std::int32_t>(values.shape(0));
  Float64Array G = new_float64(m, m);
  {
    py::gil_scoped_release release;
    model_matrix(PhaseModel(values.data(), m, amplitude, offset), G.mutable_data());
  }
  return G;
}

void bind_model(py::module_ &module) {
  module.def("model", &model, py::arg("phases"), py::kw_only(), py::arg("amplitude") = kAmplitude,
             py::arg("offset") = kPhaseOffset, docs::kModel);
}

}  // namespace respmat::python
