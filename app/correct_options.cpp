#include "app/correct_options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace respmat {

const char kCorrectHelp[] =
    "Usage: respmat correct --orbit FILE [--matrix FILE | model options] [options]\n"
    "Finds the corrector changes that bring a measured orbit back, from the singular\n"
    "values of the weighted response matrix W R (monitors by correctors):\n"
    "  change = -V diag(f) U^T W orbit, f = s / (s^2 + alpha^2) for kept s, else 0.\n"
    "\n"
    "Inputs:\n"
    "      --matrix FILE    the response matrix: CSV, CSV with names (first cell\n"
    "                       empty), the binary form (.bin) or an optics-style table\n"
    "                       (respmat model -f tfs); without it the model of the model\n"
    "                       options (see respmat model --help) is computed\n"
    "      --layout L       monitors-by-correctors (default) or correctors-by-monitors\n"
    "      --orbit FILE     one value per monitor: a column of a CSV or optics-style\n"
    "                       table; matched by name when both it and the matrix name\n"
    "                       their monitors, else taken in order\n"
    "      --orbit-column COL  its column, an index or a name (default 0; in an\n"
    "                       optics-style table X or Y by --plane)\n"
    "      --weights FILE   one weight per monitor, read like the orbit\n"
    "      --weights-column COL  its column\n"
    "      --exclude-monitors LIST    comma-separated 0-based indices or names\n"
    "      --exclude-correctors LIST  the same for correctors: their change is 0\n"
    "      --limits FILE    a line lower,upper per corrector: bounds on the change,\n"
    "                       solved as a bounded least-squares problem\n"
    "Correction:\n"
    "      --singular-values N  keep the N largest singular values\n"
    "      --rcond R        keep those above R times the largest (default: above\n"
    "                       max(rows, cols) x machine epsilon x the largest)\n"
    "      --tikhonov A     regularisation alpha >= 0 (default 0)\n"
    "      --threads N      threads of the linear algebra (default RESPMAT_THREADS,\n"
    "                       else one per core)\n"
    "Outputs (each replaced whole, none written on failure):\n"
    "  -o, --output FILE    name,change per corrector (default correctors.csv)\n"
    "      --predicted FILE name,predicted: the orbit after the change, per monitor\n"
    "      --spectrum FILE  value,kept per singular value, largest first\n"
    "      --summary FILE   JSON: rows, cols, kept, alpha, rms_before,\n"
    "                       rms_after_predicted, max_change, condition_number\n"
    "      --spectrum-plot FILE  the singular values on a log scale (PNG, SVG, PDF)\n"
    "  -h, --help           show this help and exit\n"
    "\n"
    "Prints one line: kept and total singular values, rms before and predicted after.\n"
    "Exit status: 0 written; 1 an input is missing, unreadable or not a finite\n"
    "number where one is needed; 2 an output could not be written; 64 usage error.\n";

namespace {

std::vector<std::string> comma_separated(std::string_view text) {
  std::vector<std::string> items;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    if (comma != 0) items.emplace_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return items;
}

std::optional<double> number_at_least_zero(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value < 0.0)
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> apply_correct_option(int code, const std::string &name, const char *value,
                                                CorrectOptions &options) {
  const std::string_view text = value != nullptr ? value : "";
  const auto bad_value = [&](const char *expected) { return name + " '" + std::string(text) + "': " + expected; };
  const auto file = [&](auto &target) -> std::optional<std::string> {
    if (text.empty()) return bad_value("expected a file name");
    target = std::string(text);
    return std::nullopt;
  };
  switch (code) {
    case kMatrix: return file(options.matrix);
    case kOrbit: return file(options.orbit);
    case kWeights: return file(options.weights);
    case kLimits: return file(options.limits);
    case kPredicted: return file(options.predicted);
    case kSpectrum: return file(options.spectrum);
    case kCorrectSummary: return file(options.summary);
    case kSpectrumPlot:
      if (text == "-") return bad_value("expected a file name for the picture");
      return file(options.spectrum_plot);
    case kCorrectLayout:
      if (text == "monitors-by-correctors")
        options.layout = MatrixLayout::monitors_by_correctors;
      else if (text == "correctors-by-monitors")
        options.layout = MatrixLayout::correctors_by_monitors;
      else
        return bad_value("expected monitors-by-correctors or correctors-by-monitors");
      break;
    case kOrbitColumn:
    case kWeightsColumn: {
      auto column = PhaseColumn::parse(text);
      if (!column) return bad_value("expected a column index or name");
      (code == kOrbitColumn ? options.orbit_column : options.weights_column) = std::move(column);
      break;
    }
    case kExcludeMonitors: options.exclude_monitors = comma_separated(text); break;
    case kExcludeCorrectors: options.exclude_correctors = comma_separated(text); break;
    case kSingularValues: {
      std::int32_t count = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
      if (text.empty() || error != std::errc() || end != text.data() + text.size() || count < 0)
        return bad_value("expected a count of singular values");
      options.singular_values = count;
      break;
    }
    case kRcond:
    case kTikhonov: {
      const auto number = number_at_least_zero(text);
      if (!number) return bad_value("expected a finite number >= 0");
      if (code == kRcond) options.rcond = number; else options.tikhonov = *number;
      break;
    }
  }
  return std::nullopt;
}

std::optional<std::string> correct_conflict(const CorrectOptions &options) {
  if (options.orbit.empty()) return "correct needs --orbit FILE";
  if (options.singular_values && options.rcond) return "--singular-values and --rcond both choose the cut; use one";
  if (options.weights_column && !options.weights) return "--weights-column needs --weights";
  const JobOptions &model = options.model;
  if (options.matrix && (model.phases || model.response || model.monitors || model.optics))
    return "--matrix is read as it is; the model options do not apply";
  return std::nullopt;
}

}  // namespace respmat
