#include "job/compare_job.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "analysis/comparison.h"
#include "job/heat_map.h"
#include "job/model_rows.h"
#include "job/model_writer.h"
#include "job/output_sink.h"
#include "job/response_fit.h"

namespace respmat {
namespace {

using analysis::Dense;
using analysis::transposed;

JobError input_error(const std::string &path, int error_number, std::string message) {
  return {JobError::Kind::input, path, error_number, std::move(message)};
}

// A matrix held whole, as the writers take a model.
class HeldMatrix final : public ResponseModel {
 public:
  HeldMatrix(const Dense &values, std::vector<std::string> row_names, std::vector<std::string> column_names)
      : values_(values), row_names_(std::move(row_names)), column_names_(std::move(column_names)) {}
  std::int32_t rows() const override { return values_.rows; }
  std::int32_t cols() const override { return values_.cols; }
  std::int32_t row(std::int32_t i, double *out) const override {
    std::copy_n(&values_.values[static_cast<std::size_t>(i) * static_cast<std::size_t>(values_.cols)],
                static_cast<std::size_t>(values_.cols), out);
    return values_.cols;
  }
  double bound() const override {
    double largest = 0.0;
    for (const double v : values_.values) largest = std::max(largest, std::fabs(v));
    return largest;
  }
  std::vector<std::string> monitor_names() const override { return row_names_; }
  std::vector<std::string> corrector_names() const override { return column_names_; }

 private:
  const Dense &values_;
  std::vector<std::string> row_names_, column_names_;
};

// The measured file's matrix as monitors x correctors, with its names.
std::optional<JobError> read_in_model_layout(const std::string &path, MatrixLayout layout, Dense &values,
                                             std::vector<std::string> &monitors, std::vector<std::string> &correctors) {
  MeasuredMatrixResult read = read_measured_matrix(path);
  if (!read.error.empty()) return input_error(path, read.error_number, read.error);
  if (layout == MatrixLayout::correctors_by_monitors) {
    values = std::move(read.matrix.values);
    analysis::transpose(values);
    monitors = std::move(read.matrix.column_names);
    correctors = std::move(read.matrix.row_names);
  } else {
    values = std::move(read.matrix.values);
    monitors = std::move(read.matrix.row_names);
    correctors = std::move(read.matrix.column_names);
  }
  if (monitors.empty()) monitors = index_names(values.rows);
  if (correctors.empty()) correctors = index_names(values.cols);
  return std::nullopt;
}

std::string shape(std::int32_t rows, std::int32_t cols) {
  return std::to_string(rows) + " monitors x " + std::to_string(cols) + " correctors";
}

// The monitor at which each corrector sits, from a list of indices or names.
std::optional<JobError> corrector_places(const CompareOptions &options, const MeasuredResponse &c,
                                         std::vector<std::int32_t> &columns) {
  const std::string &list = *options.measurement.corrector_monitors;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    start = comma + 1;
    const auto named = std::find(c.monitor_names.begin(), c.monitor_names.end(), item);
    if (named != c.monitor_names.end()) {
      columns.push_back(static_cast<std::int32_t>(named - c.monitor_names.begin()));
      continue;
    }
    std::int32_t index = -1;
    if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos ||
        (index = static_cast<std::int32_t>(std::strtol(item.c_str(), nullptr, 10))) >= c.measured.rows)
      return JobError{JobError::Kind::usage, {}, 0,
                      "--corrector-monitors '" + item + "': no such monitor among " + std::to_string(c.measured.rows)};
    columns.push_back(index);
  }
  if (static_cast<std::int32_t>(columns.size()) != c.measured.cols)
    return JobError{JobError::Kind::usage, {}, 0,
                    "--corrector-monitors gives " + std::to_string(columns.size()) + " monitors for " +
                        std::to_string(c.measured.cols) + " correctors"};
  return std::nullopt;
}

std::optional<JobError> prepare(const CompareOptions &options, MeasuredResponse &c, JobResult &result) {
  const MeasurementOptions &m = options.measurement;
  if (auto error = read_in_model_layout(m.measured, m.layout, c.measured, c.monitor_names, c.corrector_names))
    return error;
  if (c.measured.values.empty()) return input_error(m.measured, 0, m.measured + ": holds no values");
  if (m.step != 1.0)
    for (double &v : c.measured.values) v /= m.step;

  JobOptions model_options = options.model;
  if (!model_options.optics) model_options.monitors = c.measured.rows;
  if (auto error = read_model(model_options, c.inputs, result)) return error;
  const ResponseModel &model = *c.inputs.model;
  if (model_options.optics) {
    if (model.rows() != c.measured.rows || model.cols() != c.measured.cols)
      return input_error(m.measured, 0, m.measured + ": holds " + shape(c.measured.rows, c.measured.cols) +
                                            ", but the model has " + shape(model.rows(), model.cols()));
    for (std::int32_t j = 0; j < model.cols(); ++j) c.corrector_columns.push_back(j);
  } else if (m.corrector_monitors) {
    if (auto error = corrector_places(options, c, c.corrector_columns)) return error;
  } else {
    if (c.measured.cols != c.measured.rows)
      return input_error(m.measured, 0, m.measured + ": holds " + shape(c.measured.rows, c.measured.cols) +
                                            ", but the model has " + shape(model.rows(), model.cols()) +
                                            " (--corrector-monitors says where correctors sit)");
    for (std::int32_t j = 0; j < model.cols(); ++j) c.corrector_columns.push_back(j);
  }

  place_model(c);

  if (m.sigma) {
    Dense sigma;
    std::vector<std::string> ignored_rows, ignored_columns;
    if (auto error = read_in_model_layout(*m.sigma, m.layout, sigma, ignored_rows, ignored_columns)) return error;
    if (sigma.rows != c.measured.rows || sigma.cols != c.measured.cols)
      return input_error(*m.sigma, 0, *m.sigma + ": holds " + shape(sigma.rows, sigma.cols) + ", but the measurement " +
                                          shape(c.measured.rows, c.measured.cols));
    for (double &s : sigma.values) {
      if (!(s > 0.0)) return input_error(*m.sigma, 0, *m.sigma + ": an uncertainty must be above 0");
      s /= std::fabs(m.step);
    }
    c.sigma = std::move(sigma);
  }
  return std::nullopt;
}

// One of the job's outputs, opened, written and put in place with the others.
struct Output {
  std::string path;
  std::unique_ptr<OutputSink> sink;
};

std::optional<JobError> open_output(const std::string &path, std::vector<Output> &outputs) {
  std::string refused;
  std::unique_ptr<OutputSink> sink = OutputSink::open(path, stdout, refused);
  if (!sink) return JobError{JobError::Kind::output, refused, errno, refused + ": " + std::strerror(errno)};
  outputs.push_back({path, std::move(sink)});
  return std::nullopt;
}

// Every output complete before any is put in place.
std::optional<JobError> finish_outputs(std::vector<Output> &outputs) {
  for (Output &o : outputs)
    if (!o.sink->complete())
      return JobError{JobError::Kind::output, o.path, errno, o.path + ": " + std::strerror(errno != 0 ? errno : EIO)};
  for (auto o = outputs.rbegin(); o != outputs.rend(); ++o)
    if (!o->sink->put_in_place())
      return JobError{JobError::Kind::output, o->path, errno, o->path + ": " + std::strerror(errno)};
  return std::nullopt;
}

// A matrix in the measured file's layout, in the form the options ask for; it is
// turned to that layout in its own storage.
std::optional<JobError> write_matrix(const CompareOptions &options, const MeasuredResponse &c, Dense values,
                                     std::FILE *stream) {
  const bool transpose = options.measurement.layout == MatrixLayout::correctors_by_monitors;
  if (transpose) analysis::transpose(values);
  const HeldMatrix held(values, transpose ? c.corrector_names : c.monitor_names,
                        transpose ? c.monitor_names : c.corrector_names);
  if (options.model.format == OutputFormat::bin) {
    write_bin_header(values.rows, values.cols, stream);
    ModelRows rows(held);
    for (std::int32_t i = 0; i < values.rows; ++i) write_bin_row(rows.row(i), stream);
    return std::nullopt;
  }
  if (const int error = write_model_text(held, matrix_text(options.model, held), stream, options.model.threads))
    return JobError{JobError::Kind::output, {}, error, std::strerror(error)};
  return std::nullopt;
}

std::optional<JobError> draw(const std::string &title, const MeasuredResponse &c, const Dense &values, std::FILE *stream,
                             const std::string &path) {
  HeatMapStyle style;
  style.title = title;
  style.row_names = c.monitor_names;
  style.column_names = c.corrector_names;
  std::vector<std::int32_t> reach;
  for (std::int32_t i = 0; i < values.rows; ++i) {
    std::int32_t last = 0;
    for (std::int32_t j = 0; j < values.cols; ++j)
      if (c.reachable[static_cast<std::size_t>(i) * static_cast<std::size_t>(values.cols) + static_cast<std::size_t>(j)])
        last = j + 1;
    reach.push_back(last);
  }
  if (!draw_heat_map(stream, picture_format(path), values.values.data(), values.rows, values.cols, style, reach.data()))
    return JobError{JobError::Kind::output, path, errno, path + ": " + std::strerror(errno != 0 ? errno : EIO)};
  return std::nullopt;
}

nlohmann::json finite_or_null(double value) { return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(); }

nlohmann::json numbers(const std::vector<double> &values) {
  nlohmann::json array = nlohmann::json::array();
  for (const double v : values) array.push_back(finite_or_null(v));
  return array;
}

nlohmann::json comparison_summary(const CompareOptions &options, const analysis::Comparison &comparison) {
  nlohmann::json summary = {{"rows", comparison.residual.rows},
                            {"cols", comparison.residual.cols},
                            {"layout", layout_name(options.measurement.layout)},
                            {"step", options.measurement.step},
                            {"rms_measured", finite_or_null(comparison.rms_measured)},
                            {"rms_model", finite_or_null(comparison.rms_model)},
                            {"rms_residual", finite_or_null(comparison.rms_residual)},
                            {"rms_upstream", finite_or_null(comparison.rms_upstream)},
                            {"per_monitor_rms", numbers(comparison.per_monitor_rms)},
                            {"per_corrector_rms", numbers(comparison.per_corrector_rms)},
                            {"chi2_reduced", comparison.chi2_reduced ? finite_or_null(*comparison.chi2_reduced)
                                                                     : nlohmann::json()}};
  nlohmann::json outliers = nlohmann::json::array();
  for (const analysis::Outlier &o : comparison.outliers)
    outliers.push_back({{"monitor", o.monitor}, {"corrector", o.corrector}, {"residual", o.residual},
                        {"score", finite_or_null(o.score)}});
  summary["outliers"] = std::move(outliers);
  return summary;
}

std::optional<JobError> write_text(const std::string &text, std::FILE *stream) {
  if (std::fputs(text.c_str(), stream) < 0) return JobError{JobError::Kind::output, {}, errno, std::strerror(errno)};
  return std::nullopt;
}

// Names the output a write failed on.
std::optional<JobError> on(const std::string &path, std::optional<JobError> error) {
  if (!error) return error;
  error->path = path;
  error->message = path + ": " + error->message;
  return error;
}

std::string format(const char *pattern, double a, double b = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

nlohmann::json fit_summary(const ResponseFit &fit) {
  nlohmann::json summary = {{"chi2_reduced", finite_or_null(fit.chi2_reduced)},
                            {"rms_before", finite_or_null(fit.rms_before)},
                            {"rms_after", finite_or_null(fit.rms_after)},
                            {"points", fit.points},
                            {"iterations", fit.iterations},
                            {"converged", true},
                            {"left_out", fit.left_out}};
  nlohmann::json list = nlohmann::json::array();
  for (const FitParameter &p : fit.parameters)
    list.push_back({{"kind", p.kind}, {"name", p.name}, {"value", p.value}, {"error", finite_or_null(p.error)}});
  summary["parameters"] = std::move(list);
  return summary;
}

// The parameters, the summary and the fitted model, each when asked for.
// The fitted model goes to its writer in its own storage.
std::optional<JobError> write_fit(const CompareOptions &options, const MeasuredResponse &c, ResponseFit &fit) {
  std::vector<Output> outputs;
  std::optional<JobError> error;
  if (options.parameters) {
    std::string text = "kind,name,value,error\n";
    for (const FitParameter &p : fit.parameters)
      text += p.kind + "," + p.name + format(",%.17g,%.17g", p.value, p.error) + "\n";
    if ((error = open_output(*options.parameters, outputs)) ||
        (error = on(*options.parameters, write_text(text, outputs.back().sink->stream()))))
      return error;
  }
  if (options.summary) {
    if ((error = open_output(*options.summary, outputs)) ||
        (error = on(*options.summary, write_text(fit_summary(fit).dump(2) + "\n", outputs.back().sink->stream()))))
      return error;
  }
  if (options.output) {
    if ((error = open_output(*options.output, outputs)) ||
        (error = on(*options.output,
                    write_matrix(options, c, std::move(fit.fitted), outputs.back().sink->stream()))))
      return error;
  }
  return finish_outputs(outputs);
}

std::string fit_line(const CompareOptions &options, const MeasuredResponse &c, const ResponseFit &fit) {
  const double count = static_cast<double>(fit.points);
  if (options.fit == FitKind::calibrations)
    return "fit: calibrations of " + std::to_string(c.measured.rows) + " monitors and " +
           std::to_string(c.measured.cols - static_cast<std::int32_t>(fit.left_out.size())) + " correctors" +
           format(", chi2/dof %.4g over %.0f points", fit.chi2_reduced, count) +
           format(", rms %.4g -> %.4g", fit.rms_before, fit.rms_after);
  std::string line = "fit:";
  for (const FitParameter &p : fit.parameters) line += " " + p.kind + format(" %.10g ± %.2g,", p.value, p.error);
  return line + format(" chi2/dof %.4g over %.0f points", fit.chi2_reduced, count);
}

}  // namespace

JobResult run_compare(const CompareOptions &options, std::string &line) {
  JobResult result;
  try {
    MeasuredResponse c;
    if ((result.error = prepare(options, c, result))) return result;
    result.m = c.measured.rows;
    analysis::Comparison comparison =
        analysis::compare(std::move(c.measured), c.model, c.reachable, c.sigma ? &*c.sigma : nullptr, options.outlier_k);
    std::string summary_line =
        "compare: " + shape(comparison.residual.rows, comparison.residual.cols) +
        format("; rms measured %.6g, residual %.6g", comparison.rms_measured, comparison.rms_residual) + "; " +
        std::to_string(comparison.outliers.size()) + " outlier" + (comparison.outliers.size() == 1 ? "" : "s");
    // The summary and picture first: the residuals then go to the matrix's writer in
    // their own storage.
    std::vector<Output> outputs;
    if (options.summary) {
      if ((result.error = open_output(*options.summary, outputs))) return result;
      if ((result.error = on(*options.summary, write_text(comparison_summary(options, comparison).dump(2) + "\n",
                                                          outputs.back().sink->stream()))))
        return result;
    }
    if (options.model.heatmap) {
      if ((result.error = open_output(*options.model.heatmap, outputs))) return result;
      if ((result.error = draw("residual: " + options.measurement.measured, c, comparison.residual,
                               outputs.back().sink->stream(), *options.model.heatmap)))
        return result;
    }
    const std::string output = options.output.value_or("residual.csv");
    if ((result.error = open_output(output, outputs))) return result;
    if ((result.error =
             on(output, write_matrix(options, c, std::move(comparison.residual), outputs.back().sink->stream()))))
      return result;
    if (!(result.error = finish_outputs(outputs))) line = std::move(summary_line);
  } catch (const std::bad_alloc &) {
    result.error = JobError{JobError::Kind::input, options.measurement.measured, ENOMEM,
                            options.measurement.measured + ": " + std::strerror(ENOMEM)};
  }
  return result;
}

JobResult run_fit(const CompareOptions &options, std::string &line) {
  JobResult result;
  try {
    MeasuredResponse c;
    if ((result.error = prepare(options, c, result))) return result;
    result.m = c.measured.rows;
    FitFailure failure;
    std::optional<ResponseFit> fit =
        fit_response(c, {options.fit, options.exclude_outliers, options.outlier_k, options.output.has_value()}, failure);
    if (!fit) {
      const std::string &measured = options.measurement.measured;
      result.error = failure.kind == FitFailure::Kind::needs_phase_advances
                         ? JobError{JobError::Kind::usage, {}, 0, "--fit calibrations needs a phase model or an optics line"}
                         : input_error(measured, 0, measured + ": " + failure.reason);
      return result;
    }
    if ((result.error = write_fit(options, c, *fit))) return result;
    line = fit_line(options, c, *fit);
  } catch (const std::bad_alloc &) {
    result.error = JobError{JobError::Kind::input, options.measurement.measured, ENOMEM,
                            options.measurement.measured + ": " + std::strerror(ENOMEM)};
  }
  return result;
}

}  // namespace respmat
