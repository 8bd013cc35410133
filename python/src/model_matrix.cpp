#include "model_matrix.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "docstrings.h"
#include "job/model.h"
#include "array_view.h"

namespace py = pybind11;

namespace respmat::python {

py::array model(const py::handle &phases, double amplitude, double offset) {
  // numpy would take None as NaN and a number as a 0-d array; neither is a sequence of phases.
  if (phases.is_none() || py::module_::import("numpy").attr("ndim")(phases).cast<int>() == 0)
    throw py::type_error("phases must be a 1-D sequence of numbers, got " +
                         std::string(py::str(py::type::handle_of(phases).attr("__name__"))));
  const Float64Array values = as_float64(phases, 1);
  const auto m = static_cast<std::int32_t>(values.shape(0));
  for (std::int32_t k = 0; k < m; ++k)
    if (!std::isfinite(values.data()[k]))
      throw py::value_error("phases[" + std::to_string(k) + "] is " + std::string(py::str(py::float_(values.data()[k]))) +
                            ", not a finite number");
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
