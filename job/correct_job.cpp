#include "job/correct_job.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "base/worker_threads.h"
#include "job/heat_map.h"
#include "job/job_report.h"
#include "job/model.h"
#include "job/output_sink.h"
#include "job/singular_value_plot.h"

namespace respmat {
namespace {

using analysis::Correction;
using analysis::CorrectionSettings;

JobError input_error(const std::string &path, const std::string &reason) {
  return {JobError::Kind::input, path, 0, path + ": " + reason};
}

JobError usage_error(const std::string &what) { return {JobError::Kind::usage, {}, 0, what}; }

// The matrix from its file, or the model the options describe, computed whole.
std::optional<JobError> response_matrix(const CorrectOptions &options, NamedMatrix &matrix, std::string &source) {
  if (options.matrix) {
    source = *options.matrix;
    return read_response_matrix(*options.matrix, options.layout, matrix);
  }
  ModelInputs inputs;
  JobResult ignored;
  if (auto error = read_model(options.model, inputs, ignored)) return error;
  source = inputs.source;
  if (inputs.model->rows() == 0 || inputs.model->cols() == 0) return input_error(source, "gives an empty model");
  matrix.values = analysis::Dense(inputs.model->rows(), inputs.model->cols());
  model_matrix(*inputs.model, matrix.values.values.data());
  // Only an optics model names its monitors and correctors; a phase model numbers them.
  if (options.model.optics) {
    matrix.monitor_names = inputs.model->monitor_names();
    matrix.corrector_names = inputs.model->corrector_names();
  }
  return std::nullopt;
}

std::string joined(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &name : names) text += (text.empty() ? "" : ", ") + quoted_field(name);
  return text;
}

// The values in the matrix's monitor order: by name when both name their monitors,
// else in the file's order.
std::optional<JobError> match_monitors(const std::string &path, const std::vector<std::string> &monitors,
                                       std::size_t monitor_count, MonitorValues &read) {
  if (monitors.empty() || read.names.empty()) {
    if (read.values.size() == monitor_count) return std::nullopt;
    return input_error(path, "has " + std::to_string(read.values.size()) + " values, but the matrix has " +
                                 std::to_string(monitor_count) + " monitors");
  }
  std::map<std::string, std::size_t> position;
  for (std::size_t k = 0; k < read.names.size(); ++k)
    if (!position.emplace(read.names[k], k).second) return input_error(path, "names " + quoted_field(read.names[k]) + " twice");
  std::vector<double> ordered;
  std::vector<std::string> missing;
  for (const std::string &name : monitors) {
    const auto found = position.find(name);
    if (found == position.end()) {
      missing.push_back(name);
      continue;
    }
    ordered.push_back(read.values[found->second]);
    position.erase(found);
  }
  std::vector<std::string> unknown;
  for (const auto &[name, k] : position) unknown.push_back(name);
  if (!missing.empty()) return input_error(path, "has no value for the matrix's monitors " + joined(missing));
  if (!unknown.empty()) return input_error(path, "names monitors the matrix does not have: " + joined(unknown));
  read.values = std::move(ordered);
  return std::nullopt;
}

// The 0-based indices of a list of indices or names.
std::optional<JobError> resolve(const std::vector<std::string> &items, const std::vector<std::string> &names,
                                std::int32_t count, const char *option, std::vector<std::int32_t> &indices) {
  for (const std::string &item : items) {
    const bool is_index = !item.empty() && item.find_first_not_of("0123456789") == std::string::npos;
    std::int32_t index = -1;
    if (is_index && item.size() < 10) index = std::stoi(item);
    for (std::size_t k = 0; !is_index && k < names.size(); ++k)
      if (names[k] == item) index = static_cast<std::int32_t>(k);
    if (index < 0 || index >= count)
      return usage_error(std::string(option) + ": " + quoted_field(item) + " is " +
                         (is_index ? "not below " + std::to_string(count) : "not a name in the matrix"));
    indices.push_back(index);
  }
  return std::nullopt;
}

// Everything the correction needs, read from the files.
struct CorrectionInputs {
  NamedMatrix matrix;
  std::vector<double> orbit;
  CorrectionSettings settings;
};

std::optional<JobError> read_correction_inputs(const CorrectOptions &options, CorrectionInputs &inputs) {
  std::string source;
  if (auto error = response_matrix(options, inputs.matrix, source)) return error;
  const auto monitors = static_cast<std::size_t>(inputs.matrix.values.rows);
  const Plane plane = options.model.optics_model.plane;
  MonitorValues orbit;
  if (auto error = read_monitor_values(options.orbit, options.orbit_column, plane, orbit)) return error;
  if (auto error = match_monitors(options.orbit, inputs.matrix.monitor_names, monitors, orbit)) return error;
  inputs.orbit = std::move(orbit.values);
  CorrectionSettings &settings = inputs.settings;
  if (options.weights) {
    MonitorValues weights;
    if (auto error = read_monitor_values(*options.weights, options.weights_column, plane, weights)) return error;
    if (auto error = match_monitors(*options.weights, inputs.matrix.monitor_names, monitors, weights)) return error;
    for (const double w : weights.values)
      if (w < 0.0) return input_error(*options.weights, "holds a negative weight");
    settings.weights = std::move(weights.values);
  }
  if (options.limits) {
    if (auto error = read_change_limits(*options.limits, settings.limits)) return error;
    if (settings.limits.size() != static_cast<std::size_t>(inputs.matrix.values.cols))
      return input_error(*options.limits, "has " + std::to_string(settings.limits.size()) +
                                              " limits, but the matrix has " +
                                              std::to_string(inputs.matrix.values.cols) + " correctors");
  }
  const std::vector<std::string> monitor_names =
      inputs.matrix.monitor_names.empty() ? index_names(inputs.matrix.values.rows) : inputs.matrix.monitor_names;
  const std::vector<std::string> corrector_names =
      inputs.matrix.corrector_names.empty() ? index_names(inputs.matrix.values.cols) : inputs.matrix.corrector_names;
  if (auto error = resolve(options.exclude_monitors, monitor_names, inputs.matrix.values.rows, "--exclude-monitors",
                           settings.excluded_monitors))
    return error;
  if (auto error = resolve(options.exclude_correctors, corrector_names, inputs.matrix.values.cols,
                           "--exclude-correctors", settings.excluded_correctors))
    return error;
  settings.singular_values = options.singular_values;
  settings.rcond = options.rcond;
  settings.tikhonov = options.tikhonov;
  return std::nullopt;
}

// ---- Outputs

void write_named_column(std::FILE *stream, const char *header, const std::vector<std::string> &names,
                        const std::vector<double> &values) {
  std::fprintf(stream, "name,%s\n", header);
  for (std::size_t k = 0; k < values.size(); ++k) std::fprintf(stream, "%s,%.17g\n", names[k].c_str(), values[k]);
}

void write_spectrum(std::FILE *stream, const Correction &correction) {
  for (std::size_t k = 0; k < correction.singular_values.size(); ++k)
    std::fprintf(stream, "%.17g,%d\n", correction.singular_values[k],
                 k < static_cast<std::size_t>(correction.kept) ? 1 : 0);
}

void write_summary(std::FILE *stream, const Correction &correction, double alpha) {
  const nlohmann::json summary = {
      {"rows", correction.rows},
      {"cols", correction.cols},
      {"kept", correction.kept},
      {"alpha", alpha},
      {"rms_before", correction.rms_before},
      {"rms_after_predicted", correction.rms_after_predicted},
      {"max_change", correction.max_change},
      {"condition_number",
       correction.condition_number ? nlohmann::json(*correction.condition_number) : nlohmann::json(nullptr)}};
  std::fprintf(stream, "%s\n", summary.dump(2).c_str());
}

// An output file and what writes it.
struct Output {
  std::string path;
  std::function<bool(std::FILE *)> write;
};

JobError output_failure(const std::string &path, int error_number) {
  return {JobError::Kind::output, path, error_number,
          path + ": " + std::strerror(error_number != 0 ? error_number : EIO)};
}

std::vector<Output> outputs_of(const CorrectOptions &options, const CorrectionInputs &inputs,
                               const Correction &correction) {
  const auto names = [](const std::vector<std::string> &given, std::int32_t count) {
    return given.empty() ? index_names(count) : given;
  };
  std::vector<Output> outputs;
  outputs.push_back({options.output, [&, names](std::FILE *stream) {
                       write_named_column(stream, "change",
                                          names(inputs.matrix.corrector_names, inputs.matrix.values.cols),
                                          correction.change);
                       return true;
                     }});
  if (options.predicted)
    outputs.push_back({*options.predicted, [&, names](std::FILE *stream) {
                         write_named_column(stream, "predicted",
                                            names(inputs.matrix.monitor_names, inputs.matrix.values.rows),
                                            correction.predicted);
                         return true;
                       }});
  if (options.spectrum)
    outputs.push_back({*options.spectrum, [&](std::FILE *stream) {
                         write_spectrum(stream, correction);
                         return true;
                       }});
  if (options.summary)
    outputs.push_back({*options.summary, [&](std::FILE *stream) {
                         write_summary(stream, correction, options.tikhonov);
                         return true;
                       }});
  if (options.spectrum_plot)
    outputs.push_back({*options.spectrum_plot, [&](std::FILE *stream) {
                         return draw_singular_values(stream, picture_format(*options.spectrum_plot),
                                              correction.singular_values, correction.kept);
                       }});
  return outputs;
}

// Every output is completed before any is put in place, so a failure leaves every
// old file as it was.
std::optional<JobError> write_outputs(const std::vector<Output> &outputs) {
  std::vector<std::unique_ptr<OutputSink>> sinks;
  for (const Output &output : outputs) {
    errno = 0;
    std::string refused;
    sinks.push_back(OutputSink::open(output.path, stdout, refused));
    if (!sinks.back()) return output_failure(refused, errno);
    errno = 0;
    const bool written = output.write(sinks.back()->stream());
    if (!written || std::ferror(sinks.back()->stream())) return output_failure(output.path, errno);
  }
  for (std::size_t k = 0; k < outputs.size(); ++k)
    if (!sinks[k]->complete()) return output_failure(outputs[k].path, errno);
  for (std::size_t k = 0; k < outputs.size(); ++k)
    if (!sinks[k]->put_in_place()) return output_failure(outputs[k].path, errno);
  return std::nullopt;
}

// An output over an input, or two outputs in one place, would lose one of them.
std::optional<JobError> clashing_files(const CorrectOptions &options) {
  std::vector<std::string> inputs{options.orbit};
  for (const auto *input : {&options.matrix, &options.weights, &options.limits, &options.model.phases,
                            &options.model.optics, &options.model.response})
    if (*input) inputs.push_back(**input);
  std::vector<std::string> outputs{options.output};
  for (const auto *output : {&options.predicted, &options.spectrum, &options.summary, &options.spectrum_plot})
    if (*output) outputs.push_back(**output);
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    for (const std::string &input : inputs)
      if (detail::same_file(outputs[k], input)) return usage_error(outputs[k] + " is also an input");
    for (std::size_t l = 0; l < k; ++l)
      if (detail::same_file(outputs[k], outputs[l])) return usage_error(outputs[k] + " is named for two outputs");
  }
  return std::nullopt;
}

}  // namespace

CorrectResult run_correct_job(const CorrectOptions &options) {
  CorrectResult result;
  try {
    if ((result.job.error = clashing_files(options))) return result;
    CorrectionInputs inputs;
    if ((result.job.error = read_correction_inputs(options, inputs))) return result;
    result.job.m = inputs.matrix.values.rows;
    analysis::set_linear_algebra_threads(detail::choose_threads(options.threads));
    try {
      result.correction = analysis::correct_orbit(inputs.matrix.values, inputs.orbit, inputs.settings);
    } catch (const std::invalid_argument &e) {
      result.job.error = usage_error(e.what());
      return result;
    } catch (const std::runtime_error &e) {
      result.job.error = input_error(options.matrix.value_or(options.orbit), e.what());
      return result;
    }
    result.job.error = write_outputs(outputs_of(options, inputs, result.correction));
  } catch (const std::bad_alloc &) {
    result.job.error = output_failure(options.output, ENOMEM);
  }
  return result;
}

int run_correct(const CorrectOptions &options, std::FILE *out, std::FILE *err) {
  const CorrectResult result = run_correct_job(options);
  if (result.job.error) return report_failure(*result.job.error, err);
  const Correction &c = result.correction;
  std::fprintf(out, "kept %d of %zu singular values; rms %.6g before, %.6g predicted after\n", c.kept,
               c.singular_values.size(), c.rms_before, c.rms_after_predicted);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "respmat: standard output: %s\n", std::strerror(errno != 0 ? errno : EIO));
    return kExitStdoutFailed;
  }
  return kExitOk;
}

}  // namespace respmat
