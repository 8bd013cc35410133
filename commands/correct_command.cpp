#include "commands/correct_command.h"

#include <cerrno>
#include <functional>
#include <unordered_map>
#include <new>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "analysis/correction.h"
#include "base/worker_threads.h"
#include "commands/entry_choice.h"
#include "commands/finite_results.h"
#include "input/correction_vectors.h"
#include "input/response_matrix.h"
#include "model/model_matrix.h"
#include "output/json_text.h"
#include "output/output_set.h"
#include "picture/singular_value_plot.h"
#include "text/field_text.h"

namespace respmat {
namespace {

using analysis::Correction;
using analysis::CorrectionSettings;
using detail::quoted_field;

// The matrix from its file, or the model the options describe, computed whole.
std::optional<Failure> response_matrix(const CorrectOptions &options, NamedMatrix &matrix) {
  if (options.matrix) return read_response_matrix(*options.matrix, options.layout, matrix);
  ModelInputs inputs;
  std::vector<std::string> ignored;
  if (auto failure = read_model(options.model, inputs, ignored)) return failure;
  if (inputs.model->rows() == 0 || inputs.model->cols() == 0)
    return content_failure(inputs.source, "gives an empty model");
  matrix.values = analysis::Dense(inputs.model->rows(), inputs.model->cols());
  model_matrix(*inputs.model, matrix.values.values.data());
  // Only an optics model names its monitors and correctors; a phase model numbers them.
  if (options.model.optics) {
    matrix.monitor_names = inputs.model->monitor_names();
    matrix.corrector_names = inputs.model->corrector_names();
  }
  return std::nullopt;
}

// The values in the matrix's monitor order: by name when both name their monitors,
// else in the file's order.
std::optional<Failure> match_monitors(const std::string &path, const std::vector<std::string> &monitors,
                                      std::size_t monitor_count, MonitorValues &read) {
  if (monitors.empty() || read.names.empty()) {
    if (read.values.size() == monitor_count) return std::nullopt;
    return content_failure(path, "has " + std::to_string(read.values.size()) + " values, but the matrix has " +
                                     std::to_string(monitor_count) + " monitors");
  }
  std::unordered_map<std::string, std::size_t> position;
  position.reserve(read.names.size());
  for (std::size_t k = 0; k < read.names.size(); ++k)
    if (!position.emplace(read.names[k], k).second)
      return content_failure(path, "names " + quoted_field(read.names[k]) + " twice");
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
  for (const std::string &name : read.names)
    if (position.contains(name)) unknown.push_back(name);
  if (!missing.empty())
    return content_failure(path, "has no value for the matrix's monitors " + detail::quoted_list(missing));
  if (!unknown.empty())
    return content_failure(path, "names monitors the matrix does not have: " + detail::quoted_list(unknown));
  read.values = std::move(ordered);
  return std::nullopt;
}

// Everything the correction needs, read from the files.
struct CorrectionInputs {
  NamedMatrix matrix;
  std::vector<double> orbit;
  CorrectionSettings settings;

  [[nodiscard]] std::vector<std::string> monitor_names() const {
    return matrix.monitor_names.empty() ? index_names(matrix.values.rows) : matrix.monitor_names;
  }
  [[nodiscard]] std::vector<std::string> corrector_names() const {
    return matrix.corrector_names.empty() ? index_names(matrix.values.cols) : matrix.corrector_names;
  }
};

// One value per monitor from `path`, in the matrix's monitor order.
std::optional<Failure> read_per_monitor(const CorrectOptions &options, const std::string &path,
                                        const std::optional<PhaseColumn> &column, const NamedMatrix &matrix,
                                        std::vector<double> &values) {
  const std::string default_column = options.model.optics_model.plane == Plane::x ? "X" : "Y";
  MonitorValues read;
  if (auto failure = read_monitor_values(path, column, default_column, read)) return failure;
  if (auto failure =
          match_monitors(path, matrix.monitor_names, static_cast<std::size_t>(matrix.values.rows), read))
    return failure;
  values = std::move(read.values);
  return std::nullopt;
}

std::optional<Failure> read_correction_inputs(const CorrectOptions &options, CorrectionInputs &inputs) {
  if (auto failure = response_matrix(options, inputs.matrix)) return failure;
  if (auto failure = read_per_monitor(options, options.orbit, options.orbit_column, inputs.matrix, inputs.orbit))
    return failure;
  CorrectionSettings &settings = inputs.settings;
  if (options.weights) {
    if (auto failure =
            read_per_monitor(options, *options.weights, options.weights_column, inputs.matrix, settings.weights))
      return failure;
    for (const double w : settings.weights)
      if (w < 0.0) return content_failure(*options.weights, "holds a negative weight");
  }
  if (options.limits) {
    if (auto failure = read_change_limits(*options.limits, settings.limits)) return failure;
    if (settings.limits.size() != static_cast<std::size_t>(inputs.matrix.values.cols))
      return content_failure(*options.limits, "has " + std::to_string(settings.limits.size()) +
                                                  " limits, but the matrix has " +
                                                  std::to_string(inputs.matrix.values.cols) + " correctors");
  }
  if (auto failure = choose_entries("--exclude-monitors", options.exclude_monitors, inputs.monitor_names(), "monitor",
                                    settings.excluded_monitors))
    return failure;
  if (auto failure = choose_entries("--exclude-correctors", options.exclude_correctors, inputs.corrector_names(),
                                    "corrector", settings.excluded_correctors))
    return failure;
  settings.singular_values = options.singular_values;
  settings.rcond = options.rcond;
  settings.tikhonov = options.tikhonov;
  return std::nullopt;
}

// ---- Outputs

std::string named_column(const char *header, const std::vector<std::string> &names, const std::vector<double> &values) {
  std::string text = std::string("name,") + header + "\n";
  char number[32];
  for (std::size_t k = 0; k < values.size(); ++k) {
    std::snprintf(number, sizeof number, ",%.17g\n", values[k]);
    text += names[k] + number;
  }
  return text;
}

std::string spectrum_text(const Correction &correction) {
  std::string text;
  char line[48];
  for (std::size_t k = 0; k < correction.singular_values.size(); ++k) {
    std::snprintf(line, sizeof line, "%.17g,%d\n", correction.singular_values[k],
                  k < static_cast<std::size_t>(correction.kept) ? 1 : 0);
    text += line;
  }
  return text;
}

nlohmann::json correction_summary(const Correction &correction, double alpha) {
  return {{"rows", correction.rows},
          {"cols", correction.cols},
          {"kept", correction.bounded ? nlohmann::json() : nlohmann::json(correction.kept)},
          {"alpha", alpha},
          {"rms_before", correction.rms_before},
          {"rms_after_predicted", correction.rms_after_predicted},
          {"max_change", correction.max_change},
          {"condition_number", finite_or_null(correction.condition_number)}};
}

// An output file, what it holds and what writes it (false, with errno set, when the
// writing fails).
struct Output {
  NamedOutput name;
  std::function<bool(std::FILE *)> write;
};

std::function<bool(std::FILE *)> text_writer(std::function<std::string()> text) {
  return [text = std::move(text)](std::FILE *stream) { return std::fputs(text().c_str(), stream) >= 0; };
}

// The outputs the options ask for; they write `inputs` and `correction` once those
// are complete.
std::vector<Output> outputs_of(const CorrectOptions &options, const CorrectionInputs &inputs,
                               const Correction &correction) {
  std::vector<Output> outputs;
  outputs.push_back({{options.output, "corrector changes"}, text_writer([&] {
                       return named_column("change", inputs.corrector_names(), correction.change);
                     })});
  if (options.predicted)
    outputs.push_back({{*options.predicted, "predicted orbit"}, text_writer([&] {
                         return named_column("predicted", inputs.monitor_names(), correction.predicted);
                       })});
  if (options.spectrum)
    outputs.push_back({{*options.spectrum, "spectrum"}, text_writer([&] { return spectrum_text(correction); })});
  if (options.summary)
    outputs.push_back({{*options.summary, "summary"}, text_writer([&] {
                         return json_text(correction_summary(correction, options.tikhonov));
                       })});
  if (options.spectrum_plot)
    outputs.push_back({{*options.spectrum_plot, "spectrum plot"}, [&](std::FILE *stream) {
                         return draw_singular_values(stream, picture_format(*options.spectrum_plot),
                                                     correction.singular_values, correction.kept);
                       }});
  return outputs;
}

std::optional<Failure> write_outputs(const std::vector<Output> &outputs, OutputSet &set) {
  std::optional<Failure> failure;
  for (const Output &output : outputs) {
    const std::optional<std::size_t> opened = set.open(output.name.path, failure);
    if (!opened) return failure;
    errno = 0;
    if ((failure = set.check(*opened, output.write(set.stream(*opened))))) return failure;
  }
  return set.commit();
}

std::vector<std::string> input_files(const CorrectOptions &options) {
  std::vector<std::string> files{options.orbit};
  for (const auto *input : {&options.matrix, &options.weights, &options.limits})
    if (*input) files.push_back(**input);
  if (!options.matrix)
    for (std::string &file : options.model.files()) files.push_back(std::move(file));
  return files;
}

}  // namespace

CommandResult run_correct(const CorrectOptions &options, const CommandHooks &hooks) {
  CommandResult result;
  try {
    CorrectionInputs inputs;
    Correction correction;
    const std::vector<Output> outputs = outputs_of(options, inputs, correction);
    std::vector<NamedOutput> names;
    for (const Output &output : outputs) names.push_back(output.name);
    if ((result.error = clashing_outputs(input_files(options), names))) return result;
    if ((result.error = read_correction_inputs(options, inputs))) return result;
    result.m = inputs.matrix.values.rows;
    if (hooks.inputs_read) hooks.inputs_read(result);
    analysis::set_linear_algebra_threads(detail::choose_threads(options.threads));
    try {
      correction = analysis::correct_orbit(inputs.matrix.values, inputs.orbit, inputs.settings);
    } catch (const std::invalid_argument &e) {
      result.error = usage_failure(e.what());
      return result;
    } catch (const std::runtime_error &e) {
      result.error = content_failure(options.matrix.value_or(options.orbit), e.what());
      return result;
    }
    if (first_non_finite(correction.change) || first_non_finite(correction.predicted)) {
      result.error = content_failure(options.matrix.value_or(options.orbit),
                                     "the corrector changes are past the range of doubles");
      return result;
    }
    result.figures = CorrectionFigures{correction.kept, correction.singular_values.size(), correction.rms_before,
                                       correction.rms_after_predicted, correction.bounded};
    OutputSet set(hooks.standard_output);
    result.error = write_outputs(outputs, set);
    result.wrote_to_standard_output = set.writes_standard_output();
  } catch (const std::bad_alloc &) {
    result.error = unwritable(options.output, ENOMEM);
  }
  return result;
}

}  // namespace respmat
