#include "model_matrix.h"

#include <cmath>
#include <atomic>
#include <cstdint>
#include <string>

#include "model/model_matrix.h"
#include "model/phase_model.h"
#include "array_view.h"
#include "interruptible.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr char kModel[] = R"(model(phases, *, amplitude=0.47247222310000003, offset=0.1696)
--

The model response matrix of a sequence of phases.

Entry (i, j) on and below the diagonal is
amplitude * sin(2*pi*(phases[i] - phases[j]) + offset), every step carried in x87
extended precision and only the result rounded to float64; entries above the
diagonal are 0.0. Every entry is bit for bit what the respmat tool writes to er.csv
for the same phases, amplitude and offset.

Parameters
----------
phases : array_like
    One-dimensional, in turns (units of 2*pi); converted once to float64. Every
    phase must be finite, as the tool requires.
amplitude, offset : float
    The model's constants (doubles); the defaults are the tool's.

Returns
-------
numpy.ndarray
    float64, C-contiguous, shape (m, m) for m phases.

Raises
------
ValueError
    phases is not one-dimensional.)";


// Below this many entries the model takes a few milliseconds, less than a thread of
// its own would add to it and than Ctrl-C takes to be noticed anyway.
constexpr std::int64_t kEntriesWorthInterrupting = std::int64_t{1} << 18;

}  // namespace

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
             py::arg("offset") = kPhaseOffset, kModel);
}

}  // namespace respmat::python
