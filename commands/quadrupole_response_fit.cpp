#include "commands/quadrupole_response_fit.h"

#include <utility>

#include "analysis/quadrupole_fit.h"
#include "model/unperturbed_response.h"

namespace respmat {
namespace {

analysis::Dense dense_of(std::int32_t rows, std::int32_t cols, const std::vector<double> &values) {
  analysis::Dense d = analysis::Dense::unset(rows, cols);
  std::copy(values.begin(), values.end(), d.values.begin());
  return d;
}

// One plane's measurement with the unperturbed responses between its monitors, its
// correctors (in the measured order) and the quadrupoles.
analysis::QuadrupoleMeasurement measurement_of(const PlaneResponse &plane, const OpticsRows &quadrupoles,
                                               double scale) {
  const MeasuredResponse &response = *plane.response;
  const auto &optics = dynamic_cast<const OpticsModel &>(*response.inputs.model);
  std::vector<OpticsElement> correctors;
  for (const std::int32_t column : response.corrector_columns)
    correctors.push_back(optics.correctors()[static_cast<std::size_t>(column)]);
  const std::vector<OpticsElement> &monitors = optics.monitors();
  const std::vector<OpticsElement> &quads = plane.plane == Plane::x ? quadrupoles.x : quadrupoles.y;
  const Lattice lattice = optics.lattice();
  const double tune = optics.tune();
  const std::optional<FixedRf> &rf = optics.fixed_rf();  // the x plane's only
  const auto m = static_cast<std::int32_t>(monitors.size()), c = static_cast<std::int32_t>(correctors.size()),
             n = static_cast<std::int32_t>(quads.size());
  analysis::QuadrupoleMeasurement measurement{
      {dense_of(m, c, unperturbed_response(monitors, correctors, lattice, tune, rf)),
       dense_of(m, n, unperturbed_response(monitors, quads, lattice, tune, rf)),
       dense_of(n, n, unperturbed_response(quads, quads, lattice, tune, rf)),
       dense_of(n, c, unperturbed_response(quads, correctors, lattice, tune, rf)), plane.plane == Plane::x ? 1.0 : -1.0,
       scale},
      response.measured,
      std::vector<double>(response.measured.values.size())};
  for (std::size_t e = 0; e < measurement.weights.size(); ++e)
    measurement.weights[e] = !response.reachable[e] ? 0.0 : response.sigma ? 1.0 / response.sigma->values[e] : 1.0;
  return measurement;
}

// With calibrations, a monitor or corrector without a used entry has a gain or
// strength that nothing fixes.
bool every_calibration_seen(const PlaneResponse &plane, const analysis::QuadrupoleMeasurement &measurement,
                            std::string &reason) {
  const MeasuredResponse &response = *plane.response;
  const std::int32_t m = measurement.measured.rows, c = measurement.measured.cols;
  std::vector<bool> monitor(static_cast<std::size_t>(m)), corrector(static_cast<std::size_t>(c));
  for (std::int32_t i = 0; i < m; ++i)
    for (std::int32_t j = 0; j < c; ++j)
      if (measurement.weights[static_cast<std::size_t>(i) * static_cast<std::size_t>(c) + static_cast<std::size_t>(j)] != 0.0)
        monitor[static_cast<std::size_t>(i)] = corrector[static_cast<std::size_t>(j)] = true;
  for (std::int32_t i = 0; i < m; ++i)
    if (!monitor[static_cast<std::size_t>(i)]) {
      reason = "leaves monitor " + response.monitor_names[static_cast<std::size_t>(i)] + " (" + plane_name(plane.plane) +
               ") without a reachable entry, so its gain cannot be fitted";
      return false;
    }
  for (std::int32_t j = 0; j < c; ++j)
    if (!corrector[static_cast<std::size_t>(j)]) {
      reason = "leaves corrector " + response.corrector_names[static_cast<std::size_t>(j)] + " (" +
               plane_name(plane.plane) + ") without a reachable entry, so its strength cannot be fitted";
      return false;
    }
  return true;
}

}  // namespace

std::optional<QuadrupoleResponseFit> fit_quadrupole_response(const std::vector<PlaneResponse> &planes,
                                                             const OpticsRows &quadrupoles, double scale,
                                                             const QuadrupoleSettings &settings, std::string &reason) {
  std::vector<analysis::QuadrupoleMeasurement> measurements;
  for (const PlaneResponse &plane : planes) {
    measurements.push_back(measurement_of(plane, quadrupoles, scale));
    if (settings.calibrations && !every_calibration_seen(plane, measurements.back(), reason)) return std::nullopt;
  }
  const bool weighted = planes.front().response->sigma.has_value();
  std::optional<analysis::QuadrupoleFit> fitted = analysis::fit_quadrupoles(
      measurements, {settings.calibrations, weighted, settings.singular_values, settings.rcond, settings.tikhonov},
      reason);
  if (!fitted) return std::nullopt;

  QuadrupoleResponseFit result;
  ResponseFit &fit = result.fit;
  result.errors.assign(quadrupoles.x.size(), 0.0);
  for (std::size_t f = 0; f < fitted->fitted.size(); ++f) {
    const auto q = static_cast<std::size_t>(fitted->fitted[f]);
    fit.parameters.push_back({"quadrupole_gradient", fitted->errors[f], fitted->error_errors[f], quadrupoles.x[q].name});
    result.errors[q] = fitted->errors[f];
    const std::optional<double> &design = quadrupoles.k1l[q];
    result.relative.push_back(design && *design != 0.0 ? std::optional(fitted->errors[f] / *design) : std::nullopt);
  }
  for (const std::int32_t q : fitted->unobservable) result.unobservable.push_back(quadrupoles.x[static_cast<std::size_t>(q)].name);
  for (std::size_t pl = 0; pl < fitted->calibrations.size(); ++pl) {
    const MeasuredResponse &response = *planes[pl].response;
    const analysis::PlaneCalibrations &c = fitted->calibrations[pl];
    const std::string suffix = planes.size() > 1 ? std::string(":") + plane_name(planes[pl].plane) : std::string();
    for (std::size_t i = 0; i < c.gains.size(); ++i)
      fit.parameters.push_back({"monitor_gain", c.gains[i], c.gain_errors[i], response.monitor_names[i] + suffix});
    for (std::size_t j = 0; j < c.strengths.size(); ++j)
      fit.parameters.push_back(
          {"corrector_strength", c.strengths[j], c.strength_errors[j], response.corrector_names[j] + suffix});
  }
  fit.chi2_reduced = fitted->chi2_reduced;
  fit.rms_before = fitted->rms_before;
  fit.rms_after = fitted->rms_after;
  fit.points = fitted->points;
  fit.iterations = fitted->iterations;
  result.kept = fitted->kept;
  result.models = std::move(fitted->models);
  fit.covariance = std::move(fitted->covariance);
  return result;
}

}  // namespace respmat
