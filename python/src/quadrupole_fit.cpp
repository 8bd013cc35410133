#include "quadrupole_fit.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>

#include "array_view.h"
#include "errors.h"
#include "commands/fit_tables.h"
#include "input/optics_table.h"
#include "input/optics_table_rows.h"

namespace py = pybind11;

namespace respmat::python {

py::dict fit_quadrupoles(const std::vector<PlaneResponse> &planes, const py::object &optics, double scale,
                         const std::optional<std::string> &match, bool fixed_rf, const QuadrupoleSettings &settings) {
  for (const PlaneResponse &plane : planes) {
    const auto &model = dynamic_cast<const OpticsModel &>(*plane.response->inputs.model);
    if (model.lattice() == Lattice::ring && 2.0 * model.tune() == std::nearbyint(2.0 * model.tune()))
      raise_value_error(std::string("the tune of plane ") + plane_name(plane.plane) +
                        " is a whole or half number, where the beta-beating of a ring is unbounded");
  }
  const FileName name = file_name(optics);
  OpticsTableResult table;
  OpticsRows quadrupoles;
  std::optional<Failure> failure;
  std::optional<QuadrupoleResponseFit> fitted;
  std::string reason;
  {
    py::gil_scoped_release release;
    table = read_optics_table(name.native);
    if (!(failure = std::move(table.failure)) &&
        !(failure = optics_table_quadrupoles(table.table, name.native, match, fixed_rf, quadrupoles)))
      fitted = fit_quadrupole_response(planes, quadrupoles, scale, settings, reason);
  }
  if (failure) raise_failure(*failure);
  if (!fitted) raise_value_error("measured " + reason);

  const ResponseFit &fit = fitted->fit;
  py::dict result;
  py::list listed;
  std::vector<std::string> names;
  for (std::size_t k = 0; k < fit.parameters.size(); ++k) {
    const FitParameter &p = fit.parameters[k];
    py::dict entry(py::arg("kind") = p.kind, py::arg("name") = p.name, py::arg("value") = p.value,
                   py::arg("error") = finite_or_none(p.error));
    if (k < fitted->relative.size() && fitted->relative[k]) entry["relative"] = *fitted->relative[k];
    listed.append(entry);
  }
  result["parameters"] = listed;
  for (const char *kind : {"quadrupole_gradient", "monitor_gain", "corrector_strength"}) {
    std::vector<double> values, errors;
    std::vector<std::string> kind_names;
    for (const FitParameter &p : fit.parameters)
      if (p.kind == kind) {
        values.push_back(p.value);
        errors.push_back(p.error);
        kind_names.push_back(p.name);
      }
    if (values.empty()) continue;
    result[kind] = array_of(values);
    result[(std::string(kind) + "_error").c_str()] = array_of(errors);
    result[(std::string(kind) + "_names").c_str()] = kind_names;
  }
  result["chi2_reduced"] = finite_or_none(fit.chi2_reduced);
  result["rms_before"] = finite_or_none(fit.rms_before);
  result["rms_after"] = finite_or_none(fit.rms_after);
  result["points"] = fit.points;
  result["iterations"] = fit.iterations;
  result["converged"] = true;  // a fit that does not converge raises instead
  result["kept"] = fitted->kept;
  result["unobservable"] = fitted->unobservable;
  result["covariance"] = array_of(fit.covariance);
  result["covariance_names"] = covariance_names(fit);
  result["fitted"] = array_of(fitted->models.front());
  if (fitted->models.size() > 1) result["fitted_y"] = array_of(fitted->models.back());
  return result;
}

}  // namespace respmat::python
