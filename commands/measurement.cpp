#include "commands/measurement.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "analysis/dense.h"
#include "commands/entry_choice.h"
#include "commands/finite_results.h"
#include "model/optics_model.h"
#include "text/field_text.h"

namespace respmat {
namespace {

using analysis::Dense;

// A matrix as the measured file lays it out, turned to monitors x correctors, with
// its names (indices where the file gives none).
struct MonitorsByCorrectors {
  Dense values;
  std::vector<std::string> monitors, correctors;
  bool names_monitors = false, names_correctors = false;  // whether the file names them
};

// The layout of the file at `path`: the one asked for, which must be the one the file
// states if it states one; else the file's; else `otherwise`.
std::optional<Failure> layout_of(const std::string &path, std::optional<MatrixLayout> asked,
                                 std::optional<MatrixLayout> stated, MatrixLayout otherwise, MatrixLayout &layout) {
  if (asked && stated && *asked != *stated)
    return usage_failure(std::string("--layout ") + layout_name(*asked) + ": " + path + " states LAYOUT " +
                         layout_name(*stated));
  layout = asked.value_or(stated.value_or(otherwise));
  return std::nullopt;
}

// Reads the file at `path` laid out as `layout` says (see layout_of).
std::optional<Failure> read_in_model_layout(const std::string &path, std::optional<MatrixLayout> asked,
                                            MatrixLayout otherwise, MonitorsByCorrectors &matrix,
                                            MatrixLayout &layout) {
  MeasuredMatrixResult read = read_measured_matrix(path);
  if (read.failure) return std::move(read.failure);
  if (auto failure = layout_of(path, asked, read.matrix.layout, otherwise, layout)) return failure;
  matrix.values = std::move(read.matrix.values);
  if (layout == MatrixLayout::correctors_by_monitors) {
    analysis::transpose(matrix.values);
    matrix.monitors = std::move(read.matrix.column_names);
    matrix.correctors = std::move(read.matrix.row_names);
  } else {
    matrix.monitors = std::move(read.matrix.row_names);
    matrix.correctors = std::move(read.matrix.column_names);
  }
  matrix.names_monitors = !matrix.monitors.empty();
  matrix.names_correctors = !matrix.correctors.empty();
  if (!matrix.names_monitors) matrix.monitors = index_names(matrix.values.rows);
  if (!matrix.names_correctors) matrix.correctors = index_names(matrix.values.cols);
  return std::nullopt;
}

std::string shape(std::int32_t rows, std::int32_t cols) {
  return std::to_string(rows) + " monitors x " + std::to_string(cols) + " correctors";
}

// The monitor at which each corrector sits, from a list of indices or names.
std::optional<Failure> corrector_places(const std::string &list, MeasuredResponse &response) {
  if (auto failure = choose_entries("--corrector-monitors", list_items(list), response.monitor_names, "monitor",
                                    response.corrector_columns))
    return failure;
  if (static_cast<std::int32_t>(response.corrector_columns.size()) != response.measured.cols)
    return usage_failure("--corrector-monitors: gives " + std::to_string(response.corrector_columns.size()) +
                         " monitors for " + std::to_string(response.measured.cols) + " correctors");
  return std::nullopt;
}

// The optics elements in the order of `names`, as the measured file names them.
std::optional<Failure> in_measured_order(const std::string &path, const char *kind,
                                         const std::vector<std::string> &names,
                                         const std::vector<OpticsElement> &elements,
                                         std::vector<OpticsElement> &ordered) {
  std::unordered_map<std::string_view, std::size_t> measured;
  measured.reserve(names.size());
  for (const std::string &name : names)
    if (!measured.emplace(name, 0).second)
      return content_failure(path, std::string("names ") + kind + " " + detail::quoted_field(name) +
                                       " twice, so it cannot be matched by name");
  std::unordered_map<std::string, const OpticsElement *> by_name;
  for (const OpticsElement &element : elements)
    if (!by_name.emplace(element.name, &element).second)
      return content_failure(path, std::string("is matched by name, but the optics table names ") + kind + " " +
                                       detail::quoted_field(element.name) + " twice");
  std::vector<std::string> unknown;
  for (const std::string &name : names) {
    const auto found = by_name.find(name);
    if (found == by_name.end()) {
      unknown.push_back(name);
      continue;
    }
    ordered.push_back(*found->second);
    by_name.erase(found);
  }
  if (!unknown.empty())
    return content_failure(path, std::string("names ") + kind + "s the optics model does not have: " +
                                     detail::quoted_list(unknown));
  if (!by_name.empty()) {
    std::vector<std::string> missing;
    for (const OpticsElement &element : elements)
      if (by_name.contains(element.name)) missing.push_back(element.name);
    return content_failure(path, std::string("has no ") + kind + " named as the optics model's " + detail::quoted_list(missing));
  }
  return std::nullopt;
}

// An optics model in the order of the measured file's names, where it gives them:
// both sides name their monitors and correctors, so they are matched by name.
std::optional<Failure> arrange_by_name(const std::string &path, const MonitorsByCorrectors &names,
                                       MeasuredResponse &response) {
  const auto *optics = dynamic_cast<const OpticsModel *>(response.inputs.model.get());
  if (optics == nullptr || (!names.names_monitors && !names.names_correctors)) return std::nullopt;
  std::vector<OpticsElement> monitors = optics->monitors(), correctors = optics->correctors();
  if (names.names_monitors) {
    monitors.clear();
    if (auto failure = in_measured_order(path, "monitor", names.monitors, optics->monitors(), monitors))
      return failure;
  }
  if (names.names_correctors) {
    correctors.clear();
    if (auto failure = in_measured_order(path, "corrector", names.correctors, optics->correctors(), correctors))
      return failure;
  }
  response.inputs.model = std::make_unique<OpticsModel>(optics->arranged(std::move(monitors), std::move(correctors)));
  return std::nullopt;
}

// Where the measured file names no monitors or correctors, an optics model's names
// are theirs, so that every output names them as the table does.
void name_after_model(const MonitorsByCorrectors &measured, MeasuredResponse &response) {
  const auto *optics = dynamic_cast<const OpticsModel *>(response.inputs.model.get());
  if (optics == nullptr) return;
  if (!measured.names_monitors && optics->rows() == response.measured.rows) {
    response.monitor_names = optics->monitor_names();
    response.names_monitors = true;
  }
  if (!measured.names_correctors && optics->cols() == response.measured.cols) {
    response.corrector_names = optics->corrector_names();
    response.names_correctors = true;
  }
}

// The model's column of each measured corrector.
std::optional<Failure> place_correctors(const ModelSource &source, const MeasurementOptions &measurement,
                                        MeasuredResponse &response) {
  const ResponseModel &model = *response.inputs.model;
  const Dense &measured = response.measured;
  const std::string &path = measurement.measured;
  if (!source.optics && measurement.corrector_monitors)
    return corrector_places(*measurement.corrector_monitors, response);
  const bool fits = source.optics ? model.rows() == measured.rows && model.cols() == measured.cols
                                  : measured.cols == measured.rows;
  if (!fits)
    return content_failure(path, "holds " + shape(measured.rows, measured.cols) + ", but the model has " +
                                     shape(model.rows(), model.cols()) +
                                     (source.optics ? "" : " (--corrector-monitors says where correctors sit)"));
  for (std::int32_t j = 0; j < model.cols(); ++j) response.corrector_columns.push_back(j);
  return std::nullopt;
}

// A step so small that the measurement divided by it leaves the range of doubles.
Failure step_failure(double step) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, step);  // the shortest text that reads back
  return usage_failure("--step " + std::string(text, written.ptr) +
                       ": the measurement divided by it is past the range of doubles");
}

// The uncertainties, per unit corrector change, laid out as the measurement.
std::optional<Failure> read_sigma(const MeasurementOptions &measurement, MeasuredResponse &response) {
  const std::string &path = *measurement.sigma;
  MonitorsByCorrectors sigma;
  MatrixLayout layout{};
  if (auto failure = read_in_model_layout(path, measurement.layout, response.layout, sigma, layout)) return failure;
  if (sigma.values.rows != response.measured.rows || sigma.values.cols != response.measured.cols)
    return content_failure(path, "holds " + shape(sigma.values.rows, sigma.values.cols) + ", but the measurement " +
                                     shape(response.measured.rows, response.measured.cols));
  for (double &s : sigma.values.values) {
    if (!(s > 0.0)) return content_failure(path, "an uncertainty must be above 0");
    s /= std::fabs(measurement.step);
    if (!std::isfinite(s)) return step_failure(measurement.step);
  }
  response.sigma = std::move(sigma.values);
  return std::nullopt;
}

}  // namespace

std::vector<std::string> MeasurementOptions::files() const {
  std::vector<std::string> files{measured};
  if (sigma) files.push_back(*sigma);
  return files;
}

std::vector<std::string> measurement_inputs(const ModelSource &source, const MeasurementOptions &measurement) {
  std::vector<std::string> files = measurement.files();
  for (std::string &file : source.files()) files.push_back(std::move(file));
  return files;
}

std::optional<Failure> read_measurement(const ModelSource &source, const MeasurementOptions &measurement,
                                        MeasuredResponse &response, std::vector<std::string> &warnings) {
  MonitorsByCorrectors measured;
  if (auto failure = read_in_model_layout(measurement.measured, measurement.layout,
                                          MatrixLayout::correctors_by_monitors, measured, response.layout))
    return failure;
  if (measured.values.values.empty()) return content_failure(measurement.measured, "holds no values");
  if (measurement.step != 1.0) {
    for (double &v : measured.values.values) v /= measurement.step;
    if (first_non_finite(measured.values.values)) return step_failure(measurement.step);
  }
  response.measured = std::move(measured.values);
  response.monitor_names = measured.monitors;
  response.corrector_names = measured.correctors;
  response.names_monitors = measured.names_monitors;
  response.names_correctors = measured.names_correctors;

  ModelSource model = source;
  if (!model.optics) model.monitors = response.measured.rows;
  if (auto failure = read_model(model, response.inputs, warnings)) return failure;
  if (auto failure = arrange_by_name(measurement.measured, measured, response)) return failure;
  name_after_model(measured, response);
  if (auto failure = place_correctors(source, measurement, response)) return failure;
  place_model(response);
  if (measurement.sigma)
    if (auto failure = read_sigma(measurement, response)) return failure;
  return std::nullopt;
}

}  // namespace respmat
