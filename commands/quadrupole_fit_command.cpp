#include "commands/quadrupole_fit_command.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "commands/finite_results.h"
#include "commands/fit_tables.h"
#include "commands/matrix_output.h"
#include "commands/measurement.h"
#include "input/optics_table.h"
#include "input/optics_table_rows.h"
#include "model/unperturbed_response.h"
#include "output/json_text.h"
#include "output/output_set.h"

namespace respmat {
namespace {

// Each measured plane: its options and what was read of it.
struct MeasuredPlane {
  Plane plane;
  ModelSource source;
  MeasurementOptions measurement;
  MeasuredResponse response;
};

std::vector<MeasuredPlane> planes_of(const FitOptions &options) {
  const QuadrupoleFitOptions &q = options.quadrupoles;
  std::vector<MeasuredPlane> planes;
  const Plane first = q.both_planes ? Plane::x : options.model.optics_model.plane;
  planes.push_back({first, options.model, options.measurement, {}});
  planes.back().source.optics_model.plane = first;
  if (q.both_planes) {
    MeasurementOptions y = options.measurement;
    y.measured = q.measured_y.value_or(std::string());
    y.sigma = q.sigma_y;
    planes.push_back({Plane::y, options.model, std::move(y), {}});
    // The RF frequency moves the momentum, which only the x plane's bends turn into orbit.
    OpticsModelOptions &optics = planes.back().source.optics_model;
    optics.plane = Plane::y;
    optics.rf = Rf::free;
    optics.momentum_compaction.reset();
    optics.circumference.reset();
  }
  return planes;
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

nlohmann::json summary_of(const QuadrupoleResponseFit &result) {
  nlohmann::json summary = fit_summary(result.fit);
  summary["kept"] = result.kept;
  summary["unobservable"] = result.unobservable;
  for (std::size_t k = 0; k < result.relative.size() && k < result.fit.parameters.size(); ++k)
    if (result.relative[k]) summary["parameters"][k]["relative"] = *result.relative[k];
  return summary;
}

// A ring's tune that the fit and the beta-beating can use: neither whole nor half.
std::optional<Failure> usable_tune(const OpticsTable &table, const std::string &path, const char *name, double &tune) {
  const std::optional<double> q = table.header_number(name);
  if (!q || !std::isfinite(*q))
    return content_failure(path, std::string("has no header value ") + name + ", the tune a ring needs");
  if (2.0 * *q == std::nearbyint(2.0 * *q))
    return content_failure(path, std::string("the tune ") + name +
                                     " is a whole or half number, where the beta-beating of a ring is unbounded");
  tune = *q;
  return std::nullopt;
}

// name,s,beta_beating_x,beta_beating_y at the first plane's monitors: the first-order
// beta-beating of the fitted errors.
std::optional<Failure> beta_beating_text(const OpticsTable &table, const std::string &path,
                                         const MeasuredResponse &response, const OpticsRows &quadrupoles,
                                         const std::vector<double> &errors, std::string &text) {
  OpticsRows monitors;
  double qx = 0.0, qy = 0.0;
  if (auto failure = optics_table_named_rows(table, path, response.monitor_names, monitors)) return failure;
  if (auto failure = usable_tune(table, path, "Q1", qx)) return failure;
  if (auto failure = usable_tune(table, path, "Q2", qy)) return failure;
  std::vector<double> defocusing(errors.size());
  for (std::size_t q = 0; q < errors.size(); ++q) defocusing[q] = -errors[q];
  const std::vector<double> x = beta_beating(monitors.x, quadrupoles.x, errors, qx);
  const std::vector<double> y = beta_beating(monitors.y, quadrupoles.y, defocusing, qy);
  text = "name,s,beta_beating_x,beta_beating_y\n";
  for (std::size_t i = 0; i < x.size(); ++i)
    text += monitors.x[i].name + "," + number_text(monitors.x[i].s) + "," + number_text(x[i]) + "," + number_text(y[i]) + "\n";
  return std::nullopt;
}

// Every output, complete before any is put in place.
std::optional<Failure> write_outputs(const FitOptions &options, const std::vector<MeasuredPlane> &planes,
                                     QuadrupoleResponseFit &result, const std::string &beating, OutputSet &outputs) {
  std::optional<Failure> failure;
  const QuadrupoleFitOptions &q = options.quadrupoles;
  if (!outputs.put_text(options.parameters, [&] { return parameters_text(result.fit); }, failure) ||
      !outputs.put_text(options.summary, [&] { return json_text(summary_of(result)); }, failure) ||
      !outputs.put_text(options.covariance, [&] { return covariance_text(result.fit); }, failure) ||
      !outputs.put_text(q.beta_beating, [&] { return beating; }, failure))
    return failure;
  if (options.output) {
    const std::optional<std::size_t> fitted = outputs.open(*options.output, failure);
    if (!fitted) return failure;
    const MeasuredPlane &first = planes.front();
    if (const int error = write_in_layout(options.form, first.source, first.response.layout, first.response,
                                          {std::move(result.models.front()), "fitted model, quadrupole gradients", {}},
                                          outputs.stream(*fitted)))
      return outputs.failure_of(*fitted, error);
    if ((failure = outputs.check(*fitted))) return failure;
  }
  return outputs.commit();
}

std::optional<Failure> clashes(const FitOptions &options, const std::vector<MeasuredPlane> &planes) {
  const QuadrupoleFitOptions &q = options.quadrupoles;
  std::vector<NamedOutput> outputs;
  for (const auto &[path, role] : {std::pair{options.parameters, "parameters"}, std::pair{options.summary, "summary"},
                                   std::pair{options.covariance, "covariance"}, std::pair{q.beta_beating, "beta-beating"},
                                   std::pair{options.output, "fitted model"}})
    if (path) outputs.push_back({*path, role});
  std::vector<std::string> inputs = measurement_inputs(options.model, options.measurement);
  for (const MeasuredPlane &plane : planes)
    for (const std::string &file : plane.measurement.files()) inputs.push_back(file);
  return clashing_outputs(inputs, outputs);
}

}  // namespace

CommandResult run_quadrupole_fit(const FitOptions &options, const CommandHooks &hooks) {
  CommandResult result;
  const std::string &measured = options.measurement.measured;
  try {
    std::vector<MeasuredPlane> planes = planes_of(options);
    if ((result.error = clashes(options, planes))) return result;
    for (MeasuredPlane &plane : planes) {
      if ((result.error = read_measurement(plane.source, plane.measurement, plane.response, result.warnings)))
        return result;
    }
    result.m = planes.front().response.measured.rows;
    const std::string &path = *options.model.optics;
    OpticsTableResult table = read_optics_table(path);
    if ((result.error = std::move(table.failure))) return result;
    OpticsRows quadrupoles;
    if ((result.error = optics_table_quadrupoles(table.table, path, options.quadrupoles.match,
                                                 options.model.optics_model.rf == Rf::fixed, quadrupoles)))
      return result;
    if (options.model.optics_model.lattice == Lattice::ring) {
      double tune = 0.0;
      for (const MeasuredPlane &plane : planes)
        if ((result.error = usable_tune(table.table, path, plane.plane == Plane::x ? "Q1" : "Q2", tune))) return result;
    }
    if (hooks.inputs_read) hooks.inputs_read(result);

    std::vector<PlaneResponse> responses;
    for (const MeasuredPlane &plane : planes) responses.push_back({plane.plane, &plane.response});
    std::string reason;
    std::optional<QuadrupoleResponseFit> fit = fit_quadrupole_response(
        responses, quadrupoles, options.model.optics_model.scale, options.quadrupoles.settings, reason);
    if (!fit) {
      result.error = content_failure(measured, reason);
      return result;
    }
    for (const FitParameter &parameter : fit->fit.parameters)
      if (!std::isfinite(parameter.value) || !std::isfinite(parameter.error)) {
        result.error = content_failure(measured, "the fitted " + parameter.kind + " of " + parameter.name +
                                                     " is not a finite number");
        return result;
      }
    std::string beating;
    if (options.quadrupoles.beta_beating &&
        (result.error = beta_beating_text(table.table, path, planes.front().response, quadrupoles, fit->errors, beating)))
      return result;

    FitFigures figures;
    figures.kind = FitKind::quadrupoles;
    figures.monitors = planes.front().response.measured.rows;
    figures.correctors = planes.front().response.measured.cols;
    figures.quadrupoles = static_cast<std::int32_t>(quadrupoles.x.size() - fit->unobservable.size());
    figures.kept = fit->kept;
    figures.chi2_reduced = fit->fit.chi2_reduced;
    figures.points = fit->fit.points;
    figures.rms_before = fit->fit.rms_before;
    figures.rms_after = fit->fit.rms_after;
    result.figures = figures;
    OutputSet written(hooks.standard_output);
    result.error = write_outputs(options, planes, *fit, beating, written);
    result.wrote_to_standard_output = written.writes_standard_output();
  } catch (const std::bad_alloc &) {
    result.error = unreadable(measured, ENOMEM);
  }
  return result;
}

}  // namespace respmat
