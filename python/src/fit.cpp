#include "fit.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "array_view.h"
#include "errors.h"
#include "interruptible.h"
#include "commands/fit_tables.h"
#include "commands/response_fit.h"
#include "model/phase_model.h"
#include "optics.h"
#include "phases.h"
#include "quadrupole_fit.h"

namespace py = pybind11;

namespace respmat::python {
namespace {

constexpr char kFit[] = R"(fit(measured, *, phases=None, optics=None, kind="amplitude-offset", step=1.0, sigma=None, corrector_monitors=None, amplitude=0.47247222310000003, offset=0.1696, plane="x", lattice="line", scale=1.0, monitors_match=None, correctors_match=None, correctors_at_monitors=None, rf="free", momentum_compaction=None, circumference=None, exclude_outliers=False, outlier_k=5.0, measured_y=None, sigma_y=None, quadrupoles_match=None, calibrations=False, singular_values=None, rcond=None, tikhonov=0.0) -> dict
--

The model's constants fitted to a measured response matrix, as `respmat fit` fits
them: the same numbers, bit for bit, for the same values.

Parameters
----------
measured : array_like
    Two-dimensional, monitors x correctors (the layout of model() and compare();
    the transpose of the tool's default measured file), as measured: it is divided
    by `step`.
phases : array_like or None
    The phase model: one phase (turns) per monitor, as model() takes them. Monitor
    i sees corrector j when i >= j's monitor.
optics : str, bytes, os.PathLike or None
    The model of this optics table instead, made as optics_model() makes it with
    `plane`, `lattice`, `scale`, `monitors_match`, `correctors_match`,
    `correctors_at_monitors`, `rf`, `momentum_compaction` and `circumference`
    (rf="fixed": a ring's x plane at a fixed RF frequency, in every kind; with
    kind="quadrupoles" and plane="both", the x plane's model alone); its
    monitors and correctors must be measured's.
kind : str
    "amplitude-offset": weighted linear least squares in a = A cos(delta),
    b = A sin(delta) of measured ~ A sin(2 pi (phase_i - phase_j) + delta), giving
    amplitude and offset (an optics line: scale and offset; a ring: scale alone).
    "calibrations": a gain per monitor, a strength and an offset per corrector by
    Ceres Solver, started from that fit, with sum(log(|gain|)) = 0; a corrector
    that reaches fewer than two monitors is left out (its strength, offset and
    errors NaN, its entries counted in neither rms nor points). A monitor that
    reads against the model gets a negative gain and a RuntimeWarning naming it.
    "quadrupoles": the gradient errors of the optics table's quadrupoles (rows of
    KEYWORD QUADRUPOLE, or whose NAME matches `quadrupoles_match`), as
    `respmat fit --fit quadrupoles` fits them; `plane` may then be "both", with
    the y plane's measurement in `measured_y` (and `sigma_y` beside `sigma`).
step : float
    The corrector change of the measurement; finite and not 0.
sigma : array_like or None
    Uncertainties of measured, in its layout (above 0): weights 1/sigma**2, and
    errors not scaled by the reduced chi-square.
corrector_monitors : sequence of int or None
    With phases, the 0-based monitor at which each measured corrector sits; None:
    measured must be square, corrector j at monitor j.
amplitude, offset : float
    The phase model's constants that rms_before measures against.
exclude_outliers : bool
    Leave out the outliers past `outlier_k` (as compare() finds them) of the
    residual against the fitted model: fit, flag, refit without them, until the set
    no longer changes (at most 10 passes; a RuntimeWarning says when it still
    changed). The result then also holds outliers_left_out (dicts of monitor and
    corrector names), outlier_passes, and outlier_sigma and outlier_sigma_from as
    compare() gives them, for the last pass.
measured_y, sigma_y : array_like or None
    With kind="quadrupoles" and plane="both": the y plane's measurement and its
    uncertainties, laid out as measured.
calibrations : bool
    With kind="quadrupoles": also a gain per monitor and a strength per corrector
    in each plane (names NAME:x, NAME:y with both planes).
singular_values, rcond, tikhonov :
    With kind="quadrupoles": the cut of the Jacobian's singular values (keep N, or
    those above rcond times the largest, 0 <= rcond < 1) and the regularisation.

Returns
-------
dict
    The summary's keys: parameters (a list of dicts with kind, name, value,
    error), chi2_reduced, rms_before, rms_after, points, iterations, converged,
    left_out (corrector names); each kind under its own key with its errors under
    kind + "_error": amplitude or scale and offset as floats, monitor_gain,
    corrector_strength and corrector_offset as arrays; fitted, the model with
    the fitted constants (monitors x correctors, 0 where it does not reach);
    covariance, the covariance the errors come from (the tool's --covariance), of
    the parameters fitted in their order (a left-out corrector's are not), and
    covariance_names, their kind:name.
    With kind="quadrupoles": quadrupole_gradient, monitor_gain and
    corrector_strength as arrays with their _error and _names, kept, unobservable
    (quadrupole names), fitted (of measured's plane) and, with both planes,
    fitted_y.

Raises
------
TypeError
    measured, phases or corrector_monitors is not of the kind described.
ValueError
    Shapes or counts that disagree, a value that is not finite, sigma not above 0,
    step 0, an unknown kind, both or neither of phases and optics, a bad optics
    table, or a fit with too few points, singular or not converging (the message
    says which).
OSError
    The optics table cannot be read.)";


FitKind kind_argument(const std::string &kind) {
  if (const auto parsed = parse_fit_kind(kind)) return *parsed;
  throw py::value_error("kind must be 'amplitude-offset', 'calibrations' or 'quadrupoles', not '" + kind + "'");
}

std::string type_name(const py::handle &object) { return py::str(py::type::handle_of(object).attr("__name__")); }

std::string shape(std::int32_t rows, std::int32_t cols) {
  return std::to_string(rows) + " monitors x " + std::to_string(cols) + " correctors";
}

// A 2-D array of finite numbers; `what` names it in the exceptions.
analysis::Dense finite_matrix(const py::handle &array, const std::string &what) {
  // numpy would take None as NaN and a str as a 0-d array; neither is a matrix.
  if (array.is_none() || py::isinstance<py::str>(array) || py::isinstance<py::bytes>(array))
    throw py::type_error(what + " must be a 2-D array of numbers, got " + type_name(array));
  const Float64Array values = as_float64(array, 2);
  analysis::Dense dense(static_cast<std::int32_t>(values.shape(0)), static_cast<std::int32_t>(values.shape(1)));
  std::copy_n(values.data(), dense.values.size(), dense.values.begin());
  for (std::int32_t i = 0; i < dense.rows; ++i)
    for (std::int32_t j = 0; j < dense.cols; ++j)
      if (!std::isfinite(dense.at(i, j)))
        throw py::value_error(what + "[" + std::to_string(i) + ", " + std::to_string(j) + "] is " +
                              std::string(py::str(py::float_(dense.at(i, j)))) + ", not a finite number");
  return dense;
}

// The measurement and its uncertainties per unit corrector change.
void use_measurement(const py::handle &measured, const py::object &sigma, double step, MeasuredResponse &response) {
  response.measured = finite_matrix(measured, "measured");
  if (response.measured.values.empty()) throw py::value_error("measured holds no values");
  for (double &v : response.measured.values) v /= step;
  if (sigma.is_none()) return;
  analysis::Dense uncertainties = finite_matrix(sigma, "sigma");
  if (uncertainties.rows != response.measured.rows || uncertainties.cols != response.measured.cols)
    throw py::value_error("sigma holds " + shape(uncertainties.rows, uncertainties.cols) + ", but measured " +
                          shape(response.measured.rows, response.measured.cols));
  for (double &s : uncertainties.values) {
    if (!(s > 0.0)) throw py::value_error("sigma must be above 0");
    s /= std::fabs(step);
  }
  response.sigma = std::move(uncertainties);
}

void use_phase_model(const py::handle &phases, double amplitude, double offset, MeasuredResponse &response) {
  // numpy would take a single number or a str as a 0-d array; neither is a sequence of phases.
  if (py::module_::import("numpy").attr("ndim")(phases).cast<int>() != 1)
    throw py::type_error("phases must be a 1-D sequence of numbers, got " + type_name(phases));
  const Float64Array values = as_float64(phases, 1);
  const auto m = static_cast<std::int32_t>(values.shape(0));
  if (m != response.measured.rows)
    throw py::value_error("phases holds " + std::to_string(m) + " phases for the " +
                          std::to_string(response.measured.rows) + " monitors of measured");
  for (std::int32_t k = 0; k < m; ++k)
    if (!std::isfinite(values.data()[k]))
      throw py::value_error("phases[" + std::to_string(k) + "] is " +
                            std::string(py::str(py::float_(values.data()[k]))) + ", not a finite number");
  ModelInputs &inputs = response.inputs;
  inputs.m = m;
  inputs.phases.assign(values.data(), values.data() + m);
  // The model points into the phases, which stay where they are for its life.
  inputs.model = std::make_unique<PhaseModel>(inputs.phases.data(), m, amplitude, offset);
  response.monitor_names = index_names(m);
  response.corrector_names = index_names(response.measured.cols);
}

void use_optics_model(const OpticsArguments &optics, MeasuredResponse &response) {
  auto model = std::make_unique<OpticsModel>(optics_table_model(optics));
  if (model->rows() != response.measured.rows || model->cols() != response.measured.cols)
    throw py::value_error("measured holds " + shape(response.measured.rows, response.measured.cols) +
                          ", but the optics model has " + shape(model->rows(), model->cols()));
  response.monitor_names = model->monitor_names();
  response.corrector_names = model->corrector_names();
  response.inputs.m = model->rows();
  response.inputs.model = std::move(model);
}

// The model's column of each measured corrector: the monitor it sits at, or the
// corrector of the same index when the matrix is square.
std::vector<std::int32_t> corrector_columns(const py::object &corrector_monitors, const MeasuredResponse &response) {
  const std::int32_t monitors = response.measured.rows, correctors = response.measured.cols;
  std::vector<std::int32_t> columns;
  if (corrector_monitors.is_none()) {
    if (monitors != correctors)
      throw py::value_error("measured holds " + shape(monitors, correctors) +
                            ", not a square matrix: corrector_monitors says where the correctors sit");
    for (std::int32_t j = 0; j < correctors; ++j) columns.push_back(j);
    return columns;
  }
  if (py::isinstance<py::str>(corrector_monitors) || !py::isinstance<py::sequence>(corrector_monitors))
    throw py::type_error("corrector_monitors must be a sequence of monitor indices, got " +
                         type_name(corrector_monitors));
  for (const py::handle item : corrector_monitors) {
    if (py::isinstance<py::bool_>(item) || !py::hasattr(item, "__index__"))
      throw py::type_error("corrector_monitors holds a " + type_name(item) + ", not a monitor index");
    const std::int32_t index = count_argument(item, "a monitor index");
    if (index >= monitors)
      throw py::value_error("corrector_monitors: no monitor " + std::to_string(index) + " among " +
                            std::to_string(monitors));
    columns.push_back(index);
  }
  if (static_cast<std::int32_t>(columns.size()) != correctors)
    throw py::value_error("corrector_monitors gives " + std::to_string(columns.size()) + " monitors for " +
                          std::to_string(correctors) + " correctors");
  return columns;
}

// The parameters as the summary lists them, and each kind under its own key with its
// errors under kind + "_error": floats for the constants of the whole model, arrays (in
// monitor or corrector order) for the calibrations.
void add_parameters(const std::vector<FitParameter> &parameters, bool calibrations, py::dict &result) {
  py::list listed;
  std::vector<std::string> kinds;
  for (const FitParameter &p : parameters) {
    listed.append(py::dict(py::arg("kind") = p.kind, py::arg("name") = p.name, py::arg("value") = p.value,
                           py::arg("error") = finite_or_none(p.error)));
    if (std::find(kinds.begin(), kinds.end(), p.kind) == kinds.end()) kinds.push_back(p.kind);
  }
  result["parameters"] = listed;
  for (const std::string &kind : kinds) {
    std::vector<double> values, errors;
    for (const FitParameter &p : parameters)
      if (p.kind == kind) {
        values.push_back(p.value);
        errors.push_back(p.error);
      }
    if (!calibrations) {
      result[kind.c_str()] = values.front();
      result[(kind + "_error").c_str()] = errors.front();
    } else {
      result[kind.c_str()] = py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data());
      result[(kind + "_error").c_str()] = py::array_t<double>(static_cast<py::ssize_t>(errors.size()), errors.data());
    }
  }
}

py::dict result_of(const ResponseFit &fit, FitKind kind) {
  py::dict result;
  add_parameters(fit.parameters, kind == FitKind::calibrations, result);
  result["chi2_reduced"] = finite_or_none(fit.chi2_reduced);
  result["rms_before"] = finite_or_none(fit.rms_before);
  result["rms_after"] = finite_or_none(fit.rms_after);
  result["points"] = fit.points;
  result["iterations"] = fit.iterations;
  // A fit that does not converge raises instead.
  result["converged"] = true;
  result["left_out"] = fit.left_out;
  result["fitted"] = array_of(fit.fitted);
  result["covariance"] = array_of(fit.covariance);
  result["covariance_names"] = covariance_names(fit);
  if (fit.outlier_passes > 0) {
    py::list outliers;
    for (const auto &[monitor, corrector] : fit.outliers_left_out)
      outliers.append(py::dict(py::arg("monitor") = monitor, py::arg("corrector") = corrector));
    result["outliers_left_out"] = outliers;
    result["outlier_passes"] = fit.outlier_passes;
    result["outlier_sigma"] = finite_or_none(fit.outlier_sigma);
    result["outlier_sigma_from"] = analysis::outlier_spread_name(fit.outlier_spread);
  }
  return result;
}

py::dict fit(const py::handle &measured, const py::object &phases, const py::object &optics, const std::string &kind,
             double step, const py::object &sigma, const py::object &corrector_monitors, double amplitude,
             double offset, const std::string &plane, const std::string &lattice, double scale,
             std::optional<std::string> monitors_match, std::optional<std::string> correctors_match,
             std::optional<bool> correctors_at_monitors, const std::string &rf,
             std::optional<double> momentum_compaction, std::optional<double> circumference, bool exclude_outliers,
             double outlier_k, const py::object &measured_y, const py::object &sigma_y,
             std::optional<std::string> quadrupoles_match, bool calibrations,
             std::optional<std::int32_t> singular_values, std::optional<double> rcond, double tikhonov) {
  const FitSettings settings{kind_argument(kind), exclude_outliers, outlier_k};
  const bool quadrupoles = settings.kind == FitKind::quadrupoles, both = quadrupoles && plane == "both";
  if (!quadrupoles && (!measured_y.is_none() || !sigma_y.is_none() || quadrupoles_match || calibrations ||
                       singular_values || rcond || tikhonov != 0.0))
    throw py::value_error("measured_y, sigma_y, quadrupoles_match, calibrations, singular_values, rcond and tikhonov "
                          "are for kind='quadrupoles'");
  if (quadrupoles && (optics.is_none() || exclude_outliers || both == measured_y.is_none() ||
                      (!both && !sigma_y.is_none()) || (both && sigma.is_none() != sigma_y.is_none()) ||
                      (singular_values && rcond) || (singular_values && *singular_values < 1) ||
                      (rcond && !(*rcond >= 0.0 && *rcond < 1.0)) || !(tikhonov >= 0.0 && std::isfinite(tikhonov))))
    throw py::value_error("kind='quadrupoles' needs optics and measured_y exactly with plane='both' (sigma_y with "
                          "sigma), no exclude_outliers, one of singular_values >= 1 or 0 <= rcond < 1, tikhonov >= 0");
  if (!std::isfinite(step) || step == 0.0) throw py::value_error("step must be a finite number other than 0");
  if (!(outlier_k > 0.0) || !std::isfinite(outlier_k))
    throw py::value_error("outlier_k must be a finite number above 0");
  if (phases.is_none() == optics.is_none()) throw py::value_error("give the model as either phases or optics");
  if (optics.is_none() && (rf != "free" || momentum_compaction || circumference))
    throw py::value_error("rf, momentum_compaction and circumference are for optics: a phase model has no dispersion");
  if (!optics.is_none() && !corrector_monitors.is_none())
    throw py::value_error("corrector_monitors is for phases: an optics table places its correctors itself");

  if (quadrupoles) {
    MeasuredResponse x, y;
    std::vector<PlaneResponse> planes;
    // The RF frequency moves the momentum, which only the x plane's bends turn into orbit:
    // with both planes, the y plane's model is at a free RF frequency.
    const auto add = [&](const std::string &axis, const py::handle &values, const py::object &uncertainties,
                         MeasuredResponse &response) {
      use_measurement(values, uncertainties, step, response);
      const bool second = both && axis == "y";
      use_optics_model({optics, axis, lattice, scale, monitors_match, correctors_match, correctors_at_monitors,
                        second ? std::string("free") : rf, second ? std::nullopt : momentum_compaction,
                        second ? std::nullopt : circumference},
                       response);
      response.corrector_columns = corrector_columns(py::none(), response);
      place_model(response);
      planes.push_back({axis == "x" ? Plane::x : Plane::y, &response});
    };
    add(both ? std::string("x") : plane, measured, sigma, x);
    if (both) add("y", measured_y, sigma_y, y);
    return fit_quadrupoles(planes, optics, scale, quadrupoles_match, rf == "fixed",
                           {calibrations, singular_values, rcond, tikhonov});
  }
  MeasuredResponse response;
  use_measurement(measured, sigma, step, response);
  if (optics.is_none())
    use_phase_model(phases, amplitude, offset, response);
  else
    use_optics_model({optics, plane, lattice, scale, std::move(monitors_match), std::move(correctors_match),
                      correctors_at_monitors, rf, momentum_compaction, circumference},
                     response);
  response.corrector_columns = corrector_columns(corrector_monitors, response);

  FitFailure failure;
  const std::optional<ResponseFit> fitted = run_interruptibly([&](const std::atomic<bool> &) {
    place_model(response);
    return fit_response(response, settings, failure);
  });
  if (fitted) {
    for (const std::string &warning : fitted->warnings)
      if (PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 1) != 0) throw py::error_already_set();
    return result_of(*fitted, settings.kind);
  }
  raise_value_error("measured " + failure.reason);
}

}  // namespace

void bind_fit(py::module_ &module) {
  module.def("fit", &fit, py::arg("measured"), py::kw_only(), py::arg("phases") = py::none(),
             py::arg("optics") = py::none(), py::arg("kind") = "amplitude-offset", py::arg("step") = 1.0,
             py::arg("sigma") = py::none(), py::arg("corrector_monitors") = py::none(),
             py::arg("amplitude") = kAmplitude, py::arg("offset") = kPhaseOffset, py::arg("plane") = "x",
             py::arg("lattice") = "line", py::arg("scale") = 1.0, py::arg("monitors_match") = py::none(),
             py::arg("correctors_match") = py::none(), py::arg("correctors_at_monitors") = py::none(),
             py::arg("rf") = "free", py::arg("momentum_compaction") = py::none(),
             py::arg("circumference") = py::none(), py::arg("exclude_outliers") = false, py::arg("outlier_k") = 5.0,
             py::arg("measured_y") = py::none(), py::arg("sigma_y") = py::none(),
             py::arg("quadrupoles_match") = py::none(), py::arg("calibrations") = false,
             py::arg("singular_values") = py::none(), py::arg("rcond") = py::none(), py::arg("tikhonov") = 0.0, kFit);
}

}  // namespace respmat::python
