#include "model_matrix.h"

#include <atomic>
#include <cstdint>

#include "docstrings.h"
#include "job/model.h"
#include "array_view.h"
#include "interruptible.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

// Below this many entries the model takes a few milliseconds, less than a thread of
// its own would add to it and than Ctrl-C takes to be noticed anyway.
constexpr std::int64_t kEntriesWorthInterrupting = std::int64_t{1} << 18;

}  // namespace

py::array model(const py::handle &phases, double amplitude, double offset) {
  const Float64Array values = as_float64(phases, 1);
  const auto m = static_cast<std::int32_t>(values.shape(0));
  Float64Array G = new_float64(m, m);
  const PhaseModel phase_model(values.data(), m, amplitude, offset);
  if (std::int64_t{m} * m < kEntriesWorthInterrupting) {
    py::gil_scoped_release release;
    model_matrix(phase_model, G.mutable_data());
  } else {
    run_interruptibly([&](const std::atomic<bool> &stop) { model_matrix(phase_model, G.mutable_data(), &stop); });
  }
  return G;
}

void bind_model(py::module_ &module) {
  module.def("model", &model, py::arg("phases"), py::kw_only(), py::arg("amplitude") = kAmplitude,
             py::arg("offset") = kPhaseOffset, docs::kModel);
}

}  // namespace respmat::python
