#include "commands/correct_command.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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
#include "model/optics_model.h"
#include "output/json_text.h"
#include "output/output_set.h"
#include "picture/analysis_charts.h"
#include "text/field_text.h"

namespace respmat {
namespace {

using analysis::Correction;
using analysis::CorrectionSettings;
using detail::quoted_field;

// The momentum offset's column and what turns the offset into an RF frequency change.
struct MomentumColumn {
  std::optional<double> slip_factor;  // alpha_c - 1/gamma^2, with an RF frequency
  bool ultra_relativistic = false;    // no GAMMA: 1/gamma^2 taken as 0
};

// alpha_c - 1/gamma^2 from the table's header values (and the options), in double.
std::optional<Failure> slip_factor(const ModelInputs &inputs, const ModelSource &source, MomentumColumn &column) {
  double alpha = 0.0;
  if (auto failure = momentum_compaction(inputs.optics_header, inputs.source, source.optics_model, alpha))
    return failure;
  const std::optional<double> gamma = inputs.optics_header.header_number("GAMMA");
  if (gamma && !(std::isfinite(*gamma) && *gamma >= 1.0))
    return content_failure(inputs.source, "the header value GAMMA (the Lorentz factor) must be a finite number >= 1");
  column.ultra_relativistic = !gamma;
  column.slip_factor = gamma ? alpha - 1.0 / (*gamma * *gamma) : alpha;
  return std::nullopt;
}

// The model's matrix with one more column: each monitor's dispersion, the orbit per
// unit momentum offset.
void add_momentum_column(const OpticsModel &model, analysis::Dense &values, std::vector<std::string> &correctors) {
  const std::int32_t cols = values.cols;
  analysis::Dense wider(values.rows, cols + 1);
  for (std::int32_t i = 0; i < values.rows; ++i) {
    const auto from = values.values.begin() + static_cast<std::ptrdiff_t>(i) * cols;
    const auto to = wider.values.begin() + static_cast<std::ptrdiff_t>(i) * (cols + 1);
    std::copy(from, from + cols, to);
    to[cols] = model.monitors()[static_cast<std::size_t>(i)].dispersion;
  }
  values = std::move(wider);
  correctors.push_back("momentum_offset");
}

// The matrix from its file, or the model the options describe, computed whole.
std::optional<Failure> response_matrix(const CorrectOptions &options, NamedMatrix &matrix, MomentumColumn &momentum) {
  if (options.matrix) return read_response_matrix(*options.matrix, options.layout, matrix);
  ModelInputs inputs;
  std::vector<std::string> ignored;
  const ModelSource source = model_source_of(options);
  if (auto failure = read_model(source, inputs, ignored)) return failure;
  if (inputs.model->rows() == 0 || inputs.model->cols() == 0)
    return content_failure(inputs.source, "gives an empty model");
  if (options.rf_frequency)
    if (auto failure = slip_factor(inputs, source, momentum)) return failure;
  matrix.values = analysis::Dense(inputs.model->rows(), inputs.model->cols());
  model_matrix(*inputs.model, matrix.values.values.data());
  // Only an optics model names its monitors and correctors; a phase model numbers them.
  if (options.model.optics) {
    matrix.monitor_names = inputs.model->monitor_names();
    matrix.corrector_names = inputs.model->corrector_names();
  }
  if (options.rf_column)
    add_momentum_column(dynamic_cast<const OpticsModel &>(*inputs.model), matrix.values, matrix.corrector_names);
  return std::nullopt;
}

// Matching by name is ambiguous when a file names one entry twice: the failure that
// says which.
std::optional<Failure> named_twice(const std::string &path, const char *kind, const std::vector<std::string> &names) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(names.size());
  for (const std::string &name : names)
    if (!seen.insert(name).second)
      return content_failure(path, std::string("names ") + kind + " " + quoted_field(name) +
                                       " twice, so it cannot be matched by name");
  return std::nullopt;
}

// Where the matrix comes from, for messages about its names.
std::string matrix_source(const CorrectOptions &options) {
  return options.matrix ? *options.matrix : options.model.files().front();
}

// The values in the matrix's monitor order: by name when both name their monitors,
// else in the file's order.
std::optional<Failure> match_monitors(const std::string &path, const std::string &matrix_path,
                                      const std::vector<std::string> &monitors, std::size_t monitor_count,
                                      MonitorValues &read) {
  if (monitors.empty() || read.names.empty()) {
    if (read.values.size() == monitor_count) return std::nullopt;
    return content_failure(path, "has " + std::to_string(read.values.size()) + " values, but the matrix has " +
                                     std::to_string(monitor_count) + " monitors");
  }
  if (auto failure = named_twice(path, "monitor", read.names)) return failure;
  if (auto failure = named_twice(matrix_path, "monitor", monitors)) return failure;
  std::unordered_map<std::string, std::size_t> position;
  position.reserve(read.names.size());
  for (std::size_t k = 0; k < read.names.size(); ++k) position.emplace(read.names[k], k);
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
  MomentumColumn momentum;

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
                                        std::vector<double> &values,
                                        const std::optional<PhaseColumn> &names_column = std::nullopt) {
  const std::string default_column = options.model.optics_model.plane == Plane::x ? "X" : "Y";
  MonitorValues read;
  if (auto failure = read_monitor_values(path, column, default_column, read, names_column)) return failure;
  if (auto failure = match_monitors(path, matrix_source(options), matrix.monitor_names,
                                    static_cast<std::size_t>(matrix.values.rows), read))
    return failure;
  values = std::move(read.values);
  return std::nullopt;
}

// The limits of the correctors, a range per corrector in order or matched by name;
// a corrector a named file leaves out is unbounded, and so is the momentum offset.
std::optional<Failure> read_limits(const CorrectOptions &options, const CorrectionInputs &inputs,
                                   std::vector<analysis::ChangeLimits> &limits) {
  const std::string &path = *options.limits;
  CorrectorLimits read;
  if (auto failure = read_change_limits(path, read)) return failure;
  const auto correctors = static_cast<std::size_t>(inputs.matrix.values.cols - (options.rf_column ? 1 : 0));
  constexpr double kUnbounded = std::numeric_limits<double>::infinity();
  if (read.names.empty()) {
    if (read.limits.size() != correctors)
      return content_failure(path, "has " + std::to_string(read.limits.size()) + " limits, but the matrix has " +
                                       std::to_string(correctors) + " correctors");
    limits = std::move(read.limits);
    if (options.rf_column) limits.push_back({-kUnbounded, kUnbounded});
    return std::nullopt;
  }
  std::vector<std::string> names = inputs.corrector_names();
  names.resize(correctors);
  if (auto failure = named_twice(path, "corrector", read.names)) return failure;
  if (auto failure = named_twice(matrix_source(options), "corrector", names)) return failure;
  std::unordered_map<std::string_view, std::size_t> position;
  position.reserve(names.size());
  for (std::size_t j = 0; j < names.size(); ++j) position.emplace(names[j], j);
  limits.assign(static_cast<std::size_t>(inputs.matrix.values.cols), {-kUnbounded, kUnbounded});
  std::vector<std::string> unknown;
  for (std::size_t k = 0; k < read.names.size(); ++k) {
    const auto found = position.find(read.names[k]);
    if (found == position.end())
      unknown.push_back(read.names[k]);
    else
      limits[found->second] = read.limits[k];
  }
  if (!unknown.empty())
    return content_failure(path, "names correctors the matrix does not have: " + detail::quoted_list(unknown));
  return std::nullopt;
}

// Weights of the monitors: given, or 1/σ of their uncertainties.
std::optional<Failure> read_weights(const CorrectOptions &options, const NamedMatrix &matrix,
                                    std::vector<double> &weights) {
  if (options.weights) {
    if (auto failure = read_per_monitor(options, *options.weights, options.weights_column, matrix, weights))
      return failure;
    for (const double w : weights)
      if (w < 0.0) return content_failure(*options.weights, "holds a negative weight");
  }
  if (options.orbit_sigma) {
    std::vector<double> sigma;
    if (auto failure = read_per_monitor(options, *options.orbit_sigma, options.orbit_sigma_column, matrix, sigma))
      return failure;
    try {
      weights = analysis::weights_of_uncertainties(sigma);
    } catch (const std::invalid_argument &e) {
      return content_failure(*options.orbit_sigma, e.what());
    }
  }
  return std::nullopt;
}

std::optional<Failure> read_correction_inputs(const CorrectOptions &options, CorrectionInputs &inputs) {
  if (auto failure = response_matrix(options, inputs.matrix, inputs.momentum)) return failure;
  if (auto failure = read_per_monitor(options, options.orbit, options.orbit_column, inputs.matrix, inputs.orbit,
                                      options.orbit_names))
    return failure;
  CorrectionSettings &settings = inputs.settings;
  if (auto failure = read_weights(options, inputs.matrix, settings.weights)) return failure;
  if (options.limits)
    if (auto failure = read_limits(options, inputs, settings.limits)) return failure;
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

nlohmann::json correction_summary(const Correction &correction, double alpha, const CorrectionFigures &figures) {
  nlohmann::json summary = {{"rows", correction.rows},
                            {"cols", correction.cols},
                            {"kept", correction.bounded ? nlohmann::json() : nlohmann::json(correction.kept)},
                            {"alpha", alpha},
                            {"rms_before", correction.rms_before},
                            {"rms_after_predicted", correction.rms_after_predicted},
                            {"max_change", correction.max_change},
                            {"condition_number", finite_or_null(correction.condition_number)}};
  if (figures.momentum_offset) summary["momentum_offset"] = *figures.momentum_offset;
  if (figures.rf_frequency_change) {
    summary["rf_frequency_change"] = *figures.rf_frequency_change;
    summary["ultra_relativistic"] = figures.ultra_relativistic;
  }
  return summary;
}

// The figures of a correction: the momentum offset is the change of the last column.
CorrectionFigures correction_figures(const CorrectOptions &options, const MomentumColumn &momentum,
                                     const Correction &correction) {
  CorrectionFigures figures;
  figures.kept = correction.kept;
  figures.singular_values = correction.singular_values.size();
  figures.rms_before = correction.rms_before;
  figures.rms_after_predicted = correction.rms_after_predicted;
  figures.bounded = correction.bounded;
  if (!options.rf_column) return figures;
  const double offset = correction.change.back();
  figures.momentum_offset = offset;
  if (momentum.slip_factor) {
    // df/f = -(alpha_c - 1/gamma^2) delta, in double.
    figures.rf_frequency_change = -*momentum.slip_factor * offset * *options.rf_frequency;
    figures.ultra_relativistic = momentum.ultra_relativistic;
  }
  return figures;
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
                               const Correction &correction, const CorrectionFigures &figures) {
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
                         return json_text(correction_summary(correction, options.tikhonov, figures));
                       })});
  if (options.spectrum_plot)
    outputs.push_back({{*options.spectrum_plot, "spectrum plot"}, [&](std::FILE *stream) {
                         return draw_singular_values(stream, picture_format(*options.spectrum_plot),
                                                     correction.singular_values, correction.kept);
                       }});
  if (options.plot)
    outputs.push_back({{*options.plot, "plot"}, [&](std::FILE *stream) {
                         const CorrectionValues values{"orbit correction: " + options.orbit, inputs.monitor_names(),
                                                       inputs.orbit, correction.predicted,
                                                       inputs.corrector_names(), correction.change};
                         return draw_chart(stream, picture_format(*options.plot), correction_chart(values));
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
  for (const auto *input : {&options.matrix, &options.weights, &options.orbit_sigma, &options.limits})
    if (*input) files.push_back(**input);
  if (!options.matrix)
    for (std::string &file : options.model.files()) files.push_back(std::move(file));
  return files;
}

}  // namespace

ModelSource model_source_of(const CorrectOptions &options) {
  ModelSource source = options.model;
  source.optics_model.read_dispersion = options.rf_column;
  source.optics_model.frequency_change = options.rf_frequency.has_value();
  return source;
}

CommandResult run_correct(const CorrectOptions &options, const CommandHooks &hooks) {
  CommandResult result;
  try {
    CorrectionInputs inputs;
    Correction correction;
    CorrectionFigures figures;
    const std::vector<Output> outputs = outputs_of(options, inputs, correction, figures);
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
    figures = correction_figures(options, inputs.momentum, correction);
    result.figures = figures;
    OutputSet set(hooks.standard_output);
    result.error = write_outputs(outputs, set);
    result.wrote_to_standard_output = set.writes_standard_output();
  } catch (const std::bad_alloc &) {
    result.error = unwritable(options.output, ENOMEM);
  }
  return result;
}

}  // namespace respmat
