#include "correction.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include "analysis/correction.h"
#include "analysis/dense.h"
#include "array_view.h"
#include "interruptible.h"

namespace py = pybind11;

namespace respmat::python {
namespace {

constexpr char kCorrectDoc[] = R"(correct(R, orbit, *, singular_values=None, rcond=None, tikhonov=0.0, weights=None, exclude_monitors=(), exclude_correctors=(), bounds=None, orbit_sigma=None) -> dict

The corrector changes that bring `orbit` (one value per monitor) back, for the
response matrix R (monitors x correctors): from the SVD of W R (W the diagonal of
`weights`, or 1/orbit_sigma for the orbit's uncertainties, excluded rows and columns
removed),
change = -V diag(f) U^T W orbit, f = s / (s^2 + tikhonov^2) for the kept singular
values and 0 for the others. Kept are the `singular_values` largest, or those above
`rcond` times the largest (0 <= rcond < 1; 0 keeps every non-zero one), by default
those above max(rows, cols) * eps * the largest; a zero singular value is never kept.
With `bounds` (a (correctors, 2) array of lower, upper; infinities allowed) the
bounded problem min |W (orbit + R change)|^2 + tikhonov^2 |change|^2 is solved
instead, with no cut: kept and condition_number are then None, and singular_values
or rcond with bounds is refused. Excluded correctors get 0.

Returns a dict: change, predicted (orbit + R change), singular_values (of W R in use),
kept, rows, cols, alpha, rms_before, rms_after_predicted (over the monitors in use),
max_change, condition_number (None when no value is kept).
Raises ValueError for sizes that disagree, numbers that are not finite, bad indices,
a negative tikhonov or weight, rcond outside [0, 1), a cut with bounds, an
orbit_sigma not a finite number above 0 or given with weights, or bounds with
lower > upper.)";

constexpr char kSvdDoc[] = R"(svd(R) -> (U, s, Vt)

The thin singular value decomposition R = U diag(s) Vt by LAPACK's dgesdd, as
numpy.linalg.svd(R, full_matrices=False) gives it: U rows x k, s largest first,
Vt k x cols, k = min(rows, cols).)";

analysis::Dense dense_of(const py::handle &array) { return python::dense_of(as_float64(array, 2)); }

std::vector<double> vector_of(const py::handle &array) {
  const Float64Array values = as_float64(array, 1);
  return {values.data(), values.data() + values.shape(0)};
}


py::dict correct(const py::handle &response, const py::handle &orbit, std::optional<std::int32_t> singular_values,
                 std::optional<double> rcond, double tikhonov, const py::object &weights,
                 const std::vector<std::int32_t> &exclude_monitors, const std::vector<std::int32_t> &exclude_correctors,
                 const py::object &bounds, const py::object &orbit_sigma) {
  const analysis::Dense matrix = dense_of(response);
  const std::vector<double> x = vector_of(orbit);
  analysis::CorrectionSettings settings;
  settings.singular_values = singular_values;
  settings.rcond = rcond;
  settings.tikhonov = tikhonov;
  if (!weights.is_none() && !orbit_sigma.is_none())
    throw py::value_error("weights, orbit_sigma: both weigh the monitors; give one");
  if (!weights.is_none()) settings.weights = vector_of(weights);
  if (!orbit_sigma.is_none()) settings.weights = analysis::weights_of_uncertainties(vector_of(orbit_sigma));
  settings.excluded_monitors = exclude_monitors;
  settings.excluded_correctors = exclude_correctors;
  if (!bounds.is_none()) {
    const Float64Array limits = as_float64(bounds, 2);
    if (limits.shape(1) != 2) throw py::value_error("bounds must have a (lower, upper) row per corrector");
    for (py::ssize_t j = 0; j < limits.shape(0); ++j) settings.limits.push_back({limits.at(j, 0), limits.at(j, 1)});
  }
  const analysis::Correction correction =
      run_interruptibly([&](const std::atomic<bool> &) { return analysis::correct_orbit(matrix, x, settings); });
  py::dict result;
  result["change"] = array_of(correction.change);
  result["predicted"] = array_of(correction.predicted);
  result["singular_values"] = array_of(correction.singular_values);
  result["kept"] = correction.bounded ? py::object(py::none()) : py::object(py::int_(correction.kept));
  result["rows"] = correction.rows;
  result["cols"] = correction.cols;
  result["alpha"] = tikhonov;
  result["rms_before"] = correction.rms_before;
  result["rms_after_predicted"] = correction.rms_after_predicted;
  result["max_change"] = correction.max_change;
  result["condition_number"] = correction.condition_number ? py::object(py::float_(*correction.condition_number)) : py::object(py::none());
  return result;
}

py::tuple svd(const py::handle &response) {
  analysis::Dense matrix = dense_of(response);
  analysis::Svd result;
  bool converged = false;
  {
    py::gil_scoped_release release;
    converged = analysis::singular_value_decomposition(std::move(matrix), result);
  }
  if (!converged) throw std::runtime_error("the singular value decomposition did not converge");
  return py::make_tuple(array_of(result.u), array_of(result.s), array_of(result.vt));
}

}  // namespace

void bind_correction(py::module_ &module) {
  module.def("correct", &correct, py::arg("R"), py::arg("orbit"), py::kw_only(), py::arg("singular_values") = py::none(),
             py::arg("rcond") = py::none(), py::arg("tikhonov") = 0.0, py::arg("weights") = py::none(),
             py::arg("exclude_monitors") = std::vector<std::int32_t>{},
             py::arg("exclude_correctors") = std::vector<std::int32_t>{}, py::arg("bounds") = py::none(),
             py::arg("orbit_sigma") = py::none(), kCorrectDoc);
  module.def("svd", &svd, py::arg("R"), kSvdDoc);
}

}  // namespace respmat::python
