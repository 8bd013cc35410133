#include "commands/fit_command.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <nlohmann/json.hpp>

#include "commands/finite_results.h"
#include "commands/fit_tables.h"
#include "commands/matrix_output.h"
#include "commands/quadrupole_fit_command.h"
#include "output/json_text.h"
#include "output/output_set.h"

namespace respmat {
namespace {

// The common summary, with the correctors left out and the outliers' passes.
nlohmann::json summary_of(const ResponseFit &fit) {
  nlohmann::json summary = fit_summary(fit);
  summary["left_out"] = fit.left_out;
  if (fit.outlier_passes > 0) {
    nlohmann::json outliers = nlohmann::json::array();
    for (const auto &[monitor, corrector] : fit.outliers_left_out)
      outliers.push_back({{"monitor", monitor}, {"corrector", corrector}});
    summary["outliers_left_out"] = std::move(outliers);
    summary["outlier_passes"] = fit.outlier_passes;
    summary["outlier_sigma"] = {{"value", finite_or_null(fit.outlier_sigma)},
                                {"from", analysis::outlier_spread_name(fit.outlier_spread)}};
  }
  return summary;
}

// The fitted model and, for an optics-style table, the fitted constants that replace
// the model's in its header (a calibrations fit's model has none: it says so).
HeldResult fitted_model(const FitOptions &options, ResponseFit &fit) {
  HeldResult held{std::move(fit.fitted), "fitted model", {}};
  if (options.kind == FitKind::calibrations) {
    held.holds = "fitted model, calibrations";
    return held;
  }
  for (const FitParameter &parameter : fit.parameters) {
    std::string name = parameter.kind;
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    held.constants.push_back({std::move(name), parameter.value});
  }
  return held;
}

// The parameters, the summary, the covariance and the fitted model, each when asked
// for, as one set in that order. The fitted model goes to its writer in its own storage.
std::optional<Failure> write_outputs(const FitOptions &options, const MeasuredResponse &response, ResponseFit &fit,
                                     OutputSet &outputs) {
  std::optional<Failure> failure;
  if (!outputs.put_text(options.parameters, [&] { return parameters_text(fit); }, failure) ||
      !outputs.put_text(options.summary, [&] { return json_text(summary_of(fit)); }, failure) ||
      !outputs.put_text(options.covariance, [&] { return covariance_text(fit); }, failure))
    return failure;
  if (options.output) {
    const std::optional<std::size_t> fitted = outputs.open(*options.output, failure);
    if (!fitted) return failure;
    if (const int error = write_in_layout(options.form, options.model, response.layout, response,
                                          fitted_model(options, fit), outputs.stream(*fitted)))
      return outputs.failure_of(*fitted, error);
    if ((failure = outputs.check(*fitted))) return failure;
  }
  return outputs.commit();
}

FitFigures figures_of(const FitOptions &options, const MeasuredResponse &response, const ResponseFit &fit) {
  FitFigures figures;
  figures.kind = options.kind;
  figures.monitors = response.measured.rows;
  figures.correctors = response.measured.cols - static_cast<std::int32_t>(fit.left_out.size());
  figures.chi2_reduced = fit.chi2_reduced;
  figures.points = fit.points;
  figures.rms_before = fit.rms_before;
  figures.rms_after = fit.rms_after;
  if (options.kind == FitKind::amplitude_offset) figures.parameters = fit.parameters;
  return figures;
}

}  // namespace

CommandResult run_fit(const FitOptions &options, const CommandHooks &hooks) {
  if (options.kind == FitKind::quadrupoles) return run_quadrupole_fit(options, hooks);
  CommandResult result;
  const std::string &measured = options.measurement.measured;
  try {
    std::vector<NamedOutput> outputs;
    if (options.parameters) outputs.push_back({*options.parameters, "parameters"});
    if (options.summary) outputs.push_back({*options.summary, "summary"});
    if (options.covariance) outputs.push_back({*options.covariance, "covariance"});
    if (options.output) outputs.push_back({*options.output, "fitted model"});
    if ((result.error = clashing_outputs(measurement_inputs(options.model, options.measurement), outputs)))
      return result;
    MeasuredResponse response;
    if ((result.error = read_measurement(options.model, options.measurement, response, result.warnings)))
      return result;
    result.m = response.measured.rows;
    if (hooks.inputs_read) hooks.inputs_read(result);
    FitFailure failure;
    std::optional<ResponseFit> fit = fit_response(
        response, {options.kind, options.exclude_outliers, options.outlier_k, options.output.has_value()}, failure);
    if (!fit) {
      result.error = content_failure(measured, failure.reason);
      return result;
    }
    result.warnings.insert(result.warnings.end(), fit->warnings.begin(), fit->warnings.end());
    for (const FitParameter &parameter : fit->parameters)
      if (parameter.fitted && !std::isfinite(parameter.value)) {
        result.error = content_failure(measured, "the fitted " + parameter.kind + " is not a finite number");
        return result;
      }
    if (first_non_finite(fit->fitted.values)) {
      result.error = content_failure(measured, "the fitted model is past the range of doubles");
      return result;
    }
    result.figures = figures_of(options, response, *fit);
    OutputSet written(hooks.standard_output);
    result.error = write_outputs(options, response, *fit, written);
    result.wrote_to_standard_output = written.writes_standard_output();
  } catch (const std::bad_alloc &) {
    result.error = unreadable(measured, ENOMEM);
  }
  return result;
}

}  // namespace respmat
