#include "comparison.h"

#include <pybind11/numpy.h>

#include <cmath>

#include "analysis/comparison.h"
#include "array_view.h"

namespace py = pybind11;

namespace respmat::python {
namespace {

constexpr char kCompare[] = R"(compare(measured, model, *, reach=None, sigma=None, outlier_k=5.0)
--

A measured response matrix against a model, as `respmat compare` does it.

Parameters
----------
measured, model : array_like
    Two-dimensional, one layout (rows x columns as given); measured already divided
    by its step.
reach : array_like of bool or None
    The entries the model may reach; None: where model != 0.
sigma : array_like or None
    The uncertainties of measured; None: outliers are judged against 1.4826 times
    the median absolute deviation of the residuals, computed again without the
    first pass's outliers (the first pass's spread stands when it flags every entry).
outlier_k : float
    An entry is an outlier when |residual| / sigma exceeds it.

Returns
-------
dict
    rows, cols, rms_measured, rms_model, rms_residual (over reachable entries),
    rms_upstream (over the others), per_monitor_rms and per_corrector_rms (arrays),
    chi2_reduced (None without sigma), outliers (a list of dicts with monitor,
    corrector, residual, score), outlier_sigma (the spread they were judged
    against; None with sigma), outlier_sigma_from ("uncertainties", "first pass"
    or "second pass") and residual (measured - model).

Raises
------
ValueError
    The shapes differ, a value is not finite, or sigma is not above 0.)";


py::dict compare(const py::handle &measured, const py::handle &model, const py::object &reach,
                 const py::object &sigma, double outlier_k) {
  const Float64Array m = as_float64(measured, 2), g = as_float64(model, 2);
  if (m.shape(0) != g.shape(0) || m.shape(1) != g.shape(1))
    throw py::value_error("measured and model differ in shape");
  if (!(outlier_k > 0.0)) throw py::value_error("outlier_k must be above 0");
  analysis::Dense measured_values = dense_of(m);
  const analysis::Dense model_values = dense_of(g);
  for (const double v : measured_values.values)
    if (!std::isfinite(v)) throw py::value_error("measured holds a value that is not a finite number");
  std::vector<unsigned char> reachable(measured_values.values.size());
  if (reach.is_none()) {
    for (std::size_t k = 0; k < reachable.size(); ++k) reachable[k] = model_values.values[k] != 0.0;
  } else {
    const py::array_t<bool, py::array::c_style | py::array::forcecast> mask(reach);
    if (mask.ndim() != 2 || mask.shape(0) != m.shape(0) || mask.shape(1) != m.shape(1))
      throw py::value_error("reach must have the shape of measured");
    std::copy_n(mask.data(), reachable.size(), reachable.begin());
  }
  std::optional<analysis::Dense> uncertainties;
  if (!sigma.is_none()) {
    const Float64Array s = as_float64(sigma, 2);
    if (s.shape(0) != m.shape(0) || s.shape(1) != m.shape(1)) throw py::value_error("sigma must have the shape of measured");
    uncertainties = dense_of(s);
    for (const double v : uncertainties->values)
      if (!(v > 0.0) || !std::isfinite(v)) throw py::value_error("sigma must be finite and above 0");
  }
  analysis::Comparison result;
  {
    py::gil_scoped_release release;
    result = analysis::compare(std::move(measured_values), model_values, reachable, uncertainties ? &*uncertainties : nullptr,
                               outlier_k);
  }
  const Float64Array residual = array_of(result.residual);
  py::list outliers;
  for (const analysis::Outlier &o : result.outliers)
    outliers.append(py::dict(py::arg("monitor") = o.monitor, py::arg("corrector") = o.corrector,
                             py::arg("residual") = o.residual, py::arg("score") = o.score));
  py::dict summary;
  summary["rows"] = m.shape(0);
  summary["cols"] = m.shape(1);
  summary["rms_measured"] = finite_or_none(result.rms_measured);
  summary["rms_model"] = finite_or_none(result.rms_model);
  summary["rms_residual"] = finite_or_none(result.rms_residual);
  summary["rms_upstream"] = finite_or_none(result.rms_upstream);
  summary["per_monitor_rms"] = array_of(result.per_monitor_rms);
  summary["per_corrector_rms"] = array_of(result.per_corrector_rms);
  summary["chi2_reduced"] = result.chi2_reduced ? finite_or_none(*result.chi2_reduced) : py::none();
  summary["outliers"] = outliers;
  summary["outlier_sigma"] = finite_or_none(result.outlier_sigma);
  summary["outlier_sigma_from"] = analysis::outlier_spread_name(result.outlier_spread);
  summary["residual"] = residual;
  return summary;
}

}  // namespace

void bind_comparison(py::module_ &module) {
  module.def("compare", &compare, py::arg("measured"), py::arg("model"), py::kw_only(), py::arg("reach") = py::none(),
             py::arg("sigma") = py::none(), py::arg("outlier_k") = 5.0, kCompare);
}

}  // namespace respmat::python
