#include "app/command_line.h"
#include "app/correct_options.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace respmat {
namespace {

#define RESPMAT_MODEL_SUMMARY                                                        \
  "Writes a model response matrix, monitors by correctors. From a phase table (in\n" \
  "turns), the m x m lower-triangular matrix\n"                                      \
  "  G[i][j] = 0.47247222310000003 x sin(2 pi (phase i - phase j) + 0.1696);\n"      \
  "from an optics table, the orbit per kick from the beta functions and phases.\n"

#define RESPMAT_MODEL_OPTIONS                                                                 \
  "Phase model:\n"                                                                            \
  "  -r, --response FILE  response matrix; m = the field count of its first line\n"          \
  "                       (default ../reponsematx_H0.1A.csv)\n"                               \
  "  -p, --phases FILE    phase table, in turns (default ../realmachinephases.csv):\n"       \
  "                       comma-separated, or an optics table ('@', '*' lines)\n"             \
  "  -c, --column COL     phase column: a 0-based index, or a name looked up\n"              \
  "                       case-insensitively in the table's header (default 0;\n"             \
  "                       required for optics tables)\n"                                      \
  "  -m, --monitors N     use m = N and read no response file (with --optics: keep\n"        \
  "                       the first N monitors)\n"                                            \
  "      --amplitude A    the amplitude (default 0.47247222310000003)\n"                      \
  "      --offset D       the offset in radians (default 0.1696)\n"                           \
  "Optics model:\n"                                                                           \
  "      --optics FILE    optics table with columns NAME, S, BETX, MUX, BETY, MUY\n"          \
  "                       (phases in turns), KEYWORD where present, and the tunes\n"          \
  "                       Q1, Q2 among its header values\n"                                   \
  "      --plane x|y      BETX, MUX, Q1 or BETY, MUY, Q2 (default x)\n"                      \
  "      --lattice line|ring  a line: sqrt(bi bj) sin(2 pi (mui - muj)) for monitors\n"       \
  "                       downstream of the corrector, else 0; a ring:\n"                     \
  "                       sqrt(bi bj) cos(2 pi |mui - muj| - pi Q) / (2 sin pi Q)\n"         \
  "                       (default line)\n"                                                   \
  "      --scale K        times K, e.g. a kick per ampere (default 1)\n"                      \
  "      --monitors-match REGEX    monitors are the rows whose NAME matches (default:\n"      \
  "                       KEYWORD MONITOR, or HMONITOR for x, VMONITOR for y)\n"              \
  "      --correctors-match REGEX  correctors are the rows whose NAME matches\n"              \
  "                       (default: KEYWORD KICKER, or HKICKER for x, VKICKER for y)\n"       \
  "      --correctors-at-monitors  a corrector at every monitor (the default when\n"          \
  "                       no corrector is selected)\n"                                        \
  "Outputs:\n"                                                                                \
  "  -o, --output FILE    default er.csv; \"-\" writes the matrix to standard output\n"      \
  "  -f, --format FMT     csv (default); bin (rows, cols as little-endian int32,\n"           \
  "                       then the doubles row by row); or tfs (an optics-style\n"            \
  "                       table: a column per corrector, a row per monitor)\n"                \
  "      --digits N       significant digits of csv and tfs, 1 to 17 (default 16;\n"         \
  "                       17 reads back exactly)\n"                                           \
  "      --labels         csv: a header row of corrector names and a first column\n"          \
  "                       of monitor names (indices where the inputs name none)\n"            \
  "      --heatmap FILE   also draw the matrix: PNG, SVG or PDF by the extension\n"           \
  "      --range R        the picture's colour scale runs from -R to R (default: the\n"      \
  "                       largest entry the model can have)\n"                                \
  "      --threads N      writer threads (default 0: one per core)\n"                         \
  "  -h, --help           show this help and exit\n"                                          \
  "      --version        show the version and exit\n"                                        \
  "\n"                                                                                        \
  "With --phases and neither --response nor --monitors, m is the number of phase\n"           \
  "rows. Results replace their files only when complete.\n"                                   \
  "\n"                                                                                        \
  "Exit status: 0 written; 1 an input is missing, unreadable or not what the model\n"         \
  "needs; 2 an output could not be written (left as it was); 3 the \"m=\" line\n"            \
  "could not be written (the outputs were); 64 usage error (nothing written).\n"

constexpr char kToolHelp[] =
    "Usage: respmat [options]\n"
    "       respmat COMMAND [options]\n" RESPMAT_MODEL_SUMMARY
    "\n"
    "Commands:\n"
    "  model    write a model response matrix\n"
    "  compare  compare a measured response matrix with the model\n"
    "  fit      fit the model's constants to a measured response matrix\n"
    "  correct  corrector changes that correct an orbit\n"
    "\n"
    "Without a command, respmat runs model. Its options:\n" RESPMAT_MODEL_OPTIONS;

constexpr char kModelHelp[] = "Usage: respmat model [options]\n" RESPMAT_MODEL_SUMMARY "\n" RESPMAT_MODEL_OPTIONS;

#define RESPMAT_MEASUREMENT_OPTIONS                                                            \
  "Measurement:\n"                                                                             \
  "      --measured FILE  the measured matrix (default ../reponsematx_H0.1A.csv):\n"           \
  "                       comma-separated numbers, optionally with a header row of\n"         \
  "                       names and a first column of names (its first cell empty),\n"       \
  "                       or an optics-style table\n"                                         \
  "      --layout L       correctors-by-monitors (default: a row per corrector) or\n"         \
  "                       monitors-by-correctors (what respmat model writes)\n"               \
  "      --step X         the corrector change of the measurement (default 1)\n"              \
  "      --sigma FILE     uncertainties, laid out as the measured matrix\n"                   \
  "      --corrector-monitors LIST  the monitor (index or name) at which each\n"              \
  "                       measured corrector sits, for a phase model; without it\n"           \
  "                       the matrix must be square\n"                                        \
  "      --outlier-k K    an entry is an outlier past K sigma (default 5); sigma from\n"      \
  "                       --sigma, else 1.4826 x the median absolute deviation\n"             \
  "      --summary FILE   also write a summary as JSON\n"                                     \
  "The model: the options of 'respmat model --help' (-p, -c, --optics, --plane,\n"           \
  "--lattice, --scale, --amplitude, --offset, ...); m is the measured matrix's.\n"           \
  "Outputs: -o FILE, -f csv|bin|tfs, --digits N, --labels, --heatmap FILE, in the\n"         \
  "measured file's layout.\n"                                                                 \
  "\n"                                                                                        \
  "Exit status: 0 written; 1 an input is missing, unreadable or does not match;\n"           \
  "2 an output could not be written (left as it was); 3 the line on standard output\n"       \
  "could not be written; 64 usage error (nothing written).\n"

constexpr char kCompareHelp[] =
    "Usage: respmat compare [options]\n"
    "Compares the measured response matrix with the model: writes the residual\n"
    "measured / step - model (-o, default residual.csv) and prints its size and the\n"
    "number of outliers.\n\n" RESPMAT_MEASUREMENT_OPTIONS;

constexpr char kFitHelp[] =
    "Usage: respmat fit [options]\n"
    "Fits the model's constants to the measured response matrix by weighted linear\n"
    "least squares over the entries the model reaches: the amplitude and offset of\n"
    "the phase model, the scale and offset of an optics line, the scale of a ring.\n"
    "Prints them with their standard errors.\n\n"
    "      --fit KIND       amplitude-offset (default), or calibrations: a gain per\n"
    "                       monitor, a strength and a phase offset per corrector\n"
    "                       (sum of log gains 0; for a phase model or an optics line)\n"
    "      --parameters FILE  also write the parameters as CSV: kind,name,value,error\n"
    "      --exclude-outliers leave out the outliers compare finds\n"
    "  -o FILE              also write the fitted model\n" RESPMAT_MEASUREMENT_OPTIONS;

#undef RESPMAT_MEASUREMENT_OPTIONS

#undef RESPMAT_MODEL_SUMMARY
#undef RESPMAT_MODEL_OPTIONS

// Short options are their own codes; these follow past every byte.
enum OptionCode : int {
  kOutput = 'o',
  kHeatmap = 256,
  kThreads,
  kVersion,
  kOptics,
  kPlane,
  kLattice,
  kScale,
  kMonitorsMatch,
  kCorrectorsMatch,
  kCorrectorsAtMonitors,
  kAmplitude,
  kOffset,
  kDigits,
  kLabels,
  kRange,
  kMeasured,
  kLayout,
  kStep,
  kSigma,
  kCorrectorMonitors,
  kOutlierK,
  kSummary,
  kFit,
  kParameters,
  kExcludeOutliers,
  kLastOption
};

constexpr option kOptions[] = {
    {"response", required_argument, nullptr, 'r'},
    {"phases", required_argument, nullptr, 'p'},
    {"column", required_argument, nullptr, 'c'},
    {"monitors", required_argument, nullptr, 'm'},
    {"output", required_argument, nullptr, 'o'},
    {"format", required_argument, nullptr, 'f'},
    {"heatmap", required_argument, nullptr, kHeatmap},
    {"threads", required_argument, nullptr, kThreads},
    {"optics", required_argument, nullptr, kOptics},
    {"plane", required_argument, nullptr, kPlane},
    {"lattice", required_argument, nullptr, kLattice},
    {"scale", required_argument, nullptr, kScale},
    {"monitors-match", required_argument, nullptr, kMonitorsMatch},
    {"correctors-match", required_argument, nullptr, kCorrectorsMatch},
    {"correctors-at-monitors", no_argument, nullptr, kCorrectorsAtMonitors},
    {"amplitude", required_argument, nullptr, kAmplitude},
    {"offset", required_argument, nullptr, kOffset},
    {"digits", required_argument, nullptr, kDigits},
    {"labels", no_argument, nullptr, kLabels},
    {"range", required_argument, nullptr, kRange},
    {"measured", required_argument, nullptr, kMeasured},
    {"layout", required_argument, nullptr, kLayout},
    {"step", required_argument, nullptr, kStep},
    {"sigma", required_argument, nullptr, kSigma},
    {"corrector-monitors", required_argument, nullptr, kCorrectorMonitors},
    {"outlier-k", required_argument, nullptr, kOutlierK},
    {"summary", required_argument, nullptr, kSummary},
    {"fit", required_argument, nullptr, kFit},
    {"parameters", required_argument, nullptr, kParameters},
    {"exclude-outliers", no_argument, nullptr, kExcludeOutliers},
    {"matrix", required_argument, nullptr, kMatrix},
    {"orbit", required_argument, nullptr, kOrbit},
    {"orbit-column", required_argument, nullptr, kOrbitColumn},
    {"weights", required_argument, nullptr, kWeights},
    {"weights-column", required_argument, nullptr, kWeightsColumn},
    {"exclude-monitors", required_argument, nullptr, kExcludeMonitors},
    {"exclude-correctors", required_argument, nullptr, kExcludeCorrectors},
    {"limits", required_argument, nullptr, kLimits},
    {"singular-values", required_argument, nullptr, kSingularValues},
    {"rcond", required_argument, nullptr, kRcond},
    {"tikhonov", required_argument, nullptr, kTikhonov},
    {"predicted", required_argument, nullptr, kPredicted},
    {"spectrum", required_argument, nullptr, kSpectrum},
    {"spectrum-plot", required_argument, nullptr, kSpectrumPlot},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0}};

// The commands; without one, the first.
struct Command {
  const char *name;
  const char *help;
};
constexpr Command kCommands[] = {{"model", kModelHelp}, {"compare", kCompareHelp}, {"fit", kFitHelp},
                                 {"correct", kCorrectHelp}};

// The most writer threads worth asking for.
constexpr int kMaxThreads = 1024;

std::optional<std::int32_t> count_of(std::string_view text, std::int32_t most) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 || value > most)
    return std::nullopt;
  return value;
}

// A finite number as C's strtod reads it in the "C" locale, the whole text.
std::optional<double> finite_number(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The option as the user wrote it, for messages.
std::string option_name(int code) {
  for (const option &o : kOptions)
    if (o.val == code) return std::string("--") + o.name;
  return std::string("-") + static_cast<char>(code);
}

CommandLine usage_error(std::string what) {
  CommandLine line;
  line.action = CommandLine::Action::usage_error;
  line.error = std::move(what);
  return line;
}

// Applies one option to the job; returns what is wrong with its value, if anything.
std::optional<std::string> apply(int code, const char *value, JobOptions &job) {
  const std::string_view text = value != nullptr ? value : "";
  const auto bad_value = [&](const char *expected) {
    return option_name(code) + " '" + std::string(text) + "': " + expected;
  };
  const auto number = [&](double &target, const char *expected) -> std::optional<std::string> {
    const auto parsed = finite_number(text);
    if (!parsed) return bad_value(expected);
    target = *parsed;
    return std::nullopt;
  };
  switch (code) {
    case 'r':
    case 'p':
    case 'o':
    case kOptics:
      if (text.empty()) return bad_value("expected a file name");
      if (code == 'r') job.response = text;
      if (code == 'p') job.phases = text;
      if (code == 'o') job.output = text;
      if (code == kOptics) job.optics = text;
      break;
    case kMonitorsMatch: job.optics_model.monitors_match = text; break;
    case kCorrectorsMatch: job.optics_model.correctors_match = text; break;
    case kCorrectorsAtMonitors: job.optics_model.correctors_at_monitors = true; break;
    case kLabels: job.labels = true; break;
    case 'c':
      if (!(job.column = PhaseColumn::parse(text))) return bad_value("expected a column index or name");
      break;
    case 'm':
      if (!(job.monitors = count_of(text, INT32_MAX))) return bad_value("expected a count of monitors");
      break;
    case kThreads: {
      const auto threads = count_of(text, kMaxThreads);
      if (!threads) return bad_value("expected 0 (one per core) to 1024 threads");
      job.threads = *threads;
      break;
    }
    case kDigits: {
      const auto digits = count_of(text, 17);
      if (!digits || *digits < 1) return bad_value("expected 1 to 17 significant digits");
      job.digits = *digits;
      break;
    }
    case 'f':
      if (text == "csv")
        job.format = OutputFormat::csv;
      else if (text == "bin")
        job.format = OutputFormat::bin;
      else if (text == "tfs")
        job.format = OutputFormat::tfs;
      else
        return bad_value("expected csv, bin or tfs");
      break;
    case kPlane:
      if (text == "x")
        job.optics_model.plane = Plane::x;
      else if (text == "y")
        job.optics_model.plane = Plane::y;
      else
        return bad_value("expected x or y");
      break;
    case kLattice:
      if (text == "line")
        job.optics_model.lattice = Lattice::line;
      else if (text == "ring")
        job.optics_model.lattice = Lattice::ring;
      else
        return bad_value("expected line or ring");
      break;
    case kScale: return number(job.optics_model.scale, "expected a finite number");
    case kAmplitude: return number(job.amplitude, "expected a finite number");
    case kOffset: return number(job.offset, "expected a finite number");
    case kRange: {
      double range = 0.0;
      if (auto problem = number(range, "expected a number above 0")) return problem;
      if (!(range > 0.0)) return bad_value("expected a number above 0");
      job.range = range;
      break;
    }
    case kHeatmap:
      if (text == "-" || text.empty()) return bad_value("expected a file name for the picture");
      job.heatmap = text;
      break;
  }
  return std::nullopt;
}

// Options that make no sense together, as one line; nothing when they go together.
std::optional<std::string> conflict(const JobOptions &job, const bool (&given)[kLastOption]) {
  if (job.response && job.monitors) return "--response and --monitors both give m; use one";
  if (job.optics) {
    for (const int code : {int{'r'}, int{'p'}, int{'c'}, int{kAmplitude}, int{kOffset}})
      if (given[code]) return option_name(code) + " belongs to the phase model, not to --optics";
  } else {
    for (const int code : {int{kPlane}, int{kLattice}, int{kScale}, int{kMonitorsMatch}, int{kCorrectorsMatch},
                           int{kCorrectorsAtMonitors}})
      if (given[code]) return option_name(code) + " needs --optics";
  }
  if (given[kLabels] && job.format != OutputFormat::csv) return "--labels applies to the csv format";
  if (given[kDigits] && job.format == OutputFormat::bin) return "--digits applies to the text formats";
  if (given[kRange] && !job.heatmap) return "--range needs --heatmap";
  return std::nullopt;
}

const Command *command_named(const char *argument) {
  for (const Command &command : kCommands)
    if (std::strcmp(argument, command.name) == 0) return &command;
  return nullptr;
}

// Applies an option of the analysis commands; returns what is wrong, if anything.
std::optional<std::string> apply_measurement(int code, const char *value, CompareOptions &compare) {
  const std::string_view text = value != nullptr ? value : "";
  const auto bad_value = [&](const char *expected) {
    return option_name(code) + " '" + std::string(text) + "': " + expected;
  };
  switch (code) {
    case kMeasured:
    case kSigma:
    case kSummary:
    case kParameters:
      if (text.empty()) return bad_value("expected a file name");
      if (code == kMeasured) compare.measurement.measured = text;
      if (code == kSigma) compare.measurement.sigma = text;
      if (code == kSummary) compare.summary = text;
      if (code == kParameters) compare.parameters = text;
      break;
    case kCorrectorMonitors: compare.measurement.corrector_monitors = text; break;
    case kExcludeOutliers: compare.exclude_outliers = true; break;
    case kLayout:
      if (text == "correctors-by-monitors")
        compare.measurement.layout = MatrixLayout::correctors_by_monitors;
      else if (text == "monitors-by-correctors")
        compare.measurement.layout = MatrixLayout::monitors_by_correctors;
      else
        return bad_value("expected correctors-by-monitors or monitors-by-correctors");
      break;
    case kFit:
      if (text == "amplitude-offset")
        compare.fit = FitKind::amplitude_offset;
      else if (text == "calibrations")
        compare.fit = FitKind::calibrations;
      else
        return bad_value("expected amplitude-offset or calibrations");
      break;
    case kStep:
    case kOutlierK: {
      const auto number = finite_number(text);
      if (!number || *number == 0.0 || (code == kOutlierK && *number < 0.0))
        return bad_value(code == kStep ? "expected a finite number other than 0" : "expected a number above 0");
      (code == kStep ? compare.measurement.step : compare.outlier_k) = *number;
      break;
    }
  }
  return std::nullopt;
}

// Options that belong to other commands than `command`, as one line.
std::optional<std::string> misplaced(const std::string &command, const bool (&given)[kLastOption]) {
  const bool analysis = command != "model";
  for (int code = kMeasured; code < kLastOption; ++code) {
    if (!given[code]) continue;
    const bool fit_only = code == kFit || code == kParameters || code == kExcludeOutliers;
    if (!analysis || (fit_only && command != "fit"))
      return option_name(code) + " does not apply to '" + command + "'";
  }
  if (analysis)
    for (const int code : {int{'r'}, int{'m'}})
      if (given[code]) return option_name(code) + " does not apply to '" + command + "': m is the measured matrix's";
  return std::nullopt;
}

}  // namespace

CommandLine parse_command_line(int argc, char **argv) {
  const Command *named = argc > 1 ? command_named(argv[1]) : nullptr;
  const char *help = named != nullptr ? named->help : kToolHelp;
  const bool correcting = named != nullptr && std::strcmp(named->name, "correct") == 0;
  CorrectOptions correct;
  // getopt_long reads from argv[1]; after a command it reads the command's options.
  const int first = named != nullptr ? 1 : 0;
  argc -= first;
  argv += first;
  CommandLine line;
  if (named != nullptr) line.command = named->name;
  line.options.strict_phases = argc > 1 || line.command != "model";
  bool given[kLastOption] = {};
  opterr = 0;  // messages are ours, in the tool's one-line form
  optind = 0;  // a fresh scan, even when called more than once
  const char *const short_options = ":r:p:c:m:o:f:h";
  int code;
  while ((code = getopt_long(argc, argv, short_options, kOptions, nullptr)) != -1) {
    if (code == 'h' || code == kVersion) {
      CommandLine shown;
      shown.action = code == 'h' ? CommandLine::Action::help : CommandLine::Action::version;
      shown.help = help;
      return shown;
    }
    const std::string offending = argv[optind - 1];
    if (code == '?' && optopt == 0) return usage_error("unknown option '" + offending + "'");
    if (code == '?' && offending.starts_with("--")) return usage_error("option '" + offending + "' takes no value");
    if (code == '?') return usage_error("unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'");
    if (code == ':') return usage_error("option '" + offending + "' needs a value");
    // --layout and --summary are options of compare, fit and correct alike.
    const int correct_code = code == kLayout ? kCorrectLayout : code == kSummary ? kCorrectSummary : code;
    if (is_correct_option(correct_code) && (correcting || code == correct_code)) {
      if (!correcting) return usage_error(option_name(code) + " belongs to the correct command");
      if (auto problem = apply_correct_option(correct_code, option_name(code), optarg, correct))
        return usage_error(*problem);
      continue;
    }
    if (auto problem = code >= kMeasured ? apply_measurement(code, optarg, line.compare) : apply(code, optarg, line.options))
      return usage_error(*problem);
    given[code] = true;
  }
  if (correcting) {
    if (optind < argc) return usage_error("unexpected argument '" + std::string(argv[optind]) + "'");
    if (given[kOutput]) correct.output = line.options.output;
    correct.threads = line.options.threads;
    correct.model = std::move(line.options);
    if (auto problem = correct_conflict(correct)) return usage_error(*problem);
    line.correct = std::move(correct);
    return line;
  }
  if (optind < argc) return usage_error("unexpected argument '" + std::string(argv[optind]) + "'");
  if (auto problem = misplaced(line.command, given)) return usage_error(*problem);
  if (line.command != "model") {
    if (given[kOutput]) line.compare.output = line.options.output;
    given[kOutput] = false;  // the residual or the fitted model, not the model's output
    line.options.output = "-";
  }
  if (auto problem = conflict(line.options, given)) return usage_error(*problem);
  line.compare.model = line.options;
  return line;
}

}  // namespace respmat
