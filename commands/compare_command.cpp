#include "commands/compare_command.h"

#include <cerrno>
#include <new>
#include <nlohmann/json.hpp>
#include <utility>

#include "analysis/comparison.h"
#include "commands/finite_results.h"
#include "commands/matrix_output.h"
#include "output/json_text.h"
#include "output/output_set.h"
#include "picture/analysis_charts.h"

namespace respmat {
namespace {

nlohmann::json comparison_summary(const CompareOptions &options, const MeasuredResponse &response,
                                  const analysis::Comparison &comparison) {
  nlohmann::json summary = {{"rows", comparison.residual.rows},
                            {"cols", comparison.residual.cols},
                            {"layout", layout_name(response.layout)},
                            {"step", options.measurement.step},
                            {"rms_measured", finite_or_null(comparison.rms_measured)},
                            {"rms_model", finite_or_null(comparison.rms_model)},
                            {"rms_residual", finite_or_null(comparison.rms_residual)},
                            {"rms_upstream", finite_or_null(comparison.rms_upstream)},
                            {"per_monitor_rms", numbers(comparison.per_monitor_rms)},
                            {"per_corrector_rms", numbers(comparison.per_corrector_rms)},
                            {"chi2_reduced", finite_or_null(comparison.chi2_reduced)}};
  // Names, where the measurement or the model gives them, beside the lists and the
  // outliers' indices, which stay as they are for readers of the numbered form.
  if (response.names_monitors) summary["monitor_names"] = response.monitor_names;
  if (response.names_correctors) summary["corrector_names"] = response.corrector_names;
  nlohmann::json outliers = nlohmann::json::array();
  for (const analysis::Outlier &o : comparison.outliers) {
    nlohmann::json &outlier = outliers.emplace_back(nlohmann::json{{"monitor", o.monitor}, {"corrector", o.corrector},
                                                                   {"residual", o.residual},
                                                                   {"score", finite_or_null(o.score)}});
    if (response.names_monitors) outlier["monitor_name"] = response.monitor_names[o.monitor];
    if (response.names_correctors) outlier["corrector_name"] = response.corrector_names[o.corrector];
  }
  summary["outliers"] = std::move(outliers);
  summary["outlier_sigma"] = {{"value", finite_or_null(comparison.outlier_sigma)},
                              {"from", analysis::outlier_spread_name(comparison.outlier_spread)}};
  return summary;
}

// The summary and the picture first: the residuals then go to the matrix's writer in
// their own storage. The residual is opened first, so that it changes last.
std::optional<Failure> write_outputs(const CompareOptions &options, const MeasuredResponse &response,
                                     analysis::Comparison &comparison, OutputSet &outputs) {
  std::optional<Failure> failure;
  const std::optional<std::size_t> residual = outputs.open(options.output, failure);
  if (!residual) return failure;
  if (!outputs.put_text(options.summary, [&] { return json_text(comparison_summary(options, response, comparison)); },
                        failure))
    return failure;
  if (options.heatmap) {
    const std::optional<std::size_t> picture = outputs.open(*options.heatmap, failure);
    if (!picture) return failure;
    HeatMapStyle style;
    style.title = "residual: " + options.measurement.measured;
    style.quantity = "residual";
    style.units = options.units;
    errno = 0;
    const bool drawn = draw_measured(std::move(style), *options.heatmap, response, comparison.residual,
                                     outputs.stream(*picture));
    if ((failure = outputs.check(*picture, drawn))) return failure;
  }
  if (options.plot) {
    const std::optional<std::size_t> plot = outputs.open(*options.plot, failure);
    if (!plot) return failure;
    const ResidualValues values{"residual: " + options.measurement.measured, options.units,
                                response.monitor_names, comparison.per_monitor_rms,
                                response.corrector_names, comparison.per_corrector_rms};
    errno = 0;
    const bool drawn = draw_chart(outputs.stream(*plot), picture_format(*options.plot), residual_chart(values));
    if ((failure = outputs.check(*plot, drawn))) return failure;
  }
  if (const int error = write_in_layout(options.form, options.model, response.layout, response,
                                        {std::move(comparison.residual), "residual", {}}, outputs.stream(*residual)))
    return outputs.failure_of(*residual, error);
  if ((failure = outputs.check(*residual))) return failure;
  return outputs.commit();
}

}  // namespace

CommandResult run_compare(const CompareOptions &options, const CommandHooks &hooks) {
  CommandResult result;
  try {
    std::vector<NamedOutput> outputs{{options.output, "residual"}};
    if (options.summary) outputs.push_back({*options.summary, "summary"});
    if (options.heatmap) outputs.push_back({*options.heatmap, "heat map"});
    if (options.plot) outputs.push_back({*options.plot, "plot"});
    if ((result.error = clashing_outputs(measurement_inputs(options.model, options.measurement), outputs)))
      return result;
    MeasuredResponse response;
    if ((result.error = read_measurement(options.model, options.measurement, response, result.warnings)))
      return result;
    result.m = response.measured.rows;
    if (hooks.inputs_read) hooks.inputs_read(result);
    analysis::Comparison comparison = analysis::compare(std::move(response.measured), response.model,
                                                        response.reachable,
                                                        response.sigma ? &*response.sigma : nullptr, options.outlier_k);
    if (const auto at = first_non_finite(comparison.residual.values)) {
      const auto cols = static_cast<std::size_t>(comparison.residual.cols);
      result.error = content_failure(options.measurement.measured,
                                     "measured / step - model is past the range of doubles at monitor " +
                                         std::to_string(*at / cols) + ", corrector " + std::to_string(*at % cols));
      return result;
    }
    result.figures = ComparisonFigures{comparison.residual.rows, comparison.residual.cols, comparison.rms_measured,
                                       comparison.rms_residual, comparison.outliers.size()};
    OutputSet written(hooks.standard_output);
    result.error = write_outputs(options, response, comparison, written);
    result.wrote_to_standard_output = written.writes_standard_output();
  } catch (const std::bad_alloc &) {
    result.error = unreadable(options.measurement.measured, ENOMEM);
  }
  return result;
}

}  // namespace respmat
