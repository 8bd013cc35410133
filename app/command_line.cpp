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
    "  correct  corrector changes that correct an orbit\n"
    "\n"
    "Without a command, respmat runs model. Its options:\n" RESPMAT_MODEL_OPTIONS;

constexpr char kModelHelp[] = "Usage: respmat model [options]\n" RESPMAT_MODEL_SUMMARY "\n" RESPMAT_MODEL_OPTIONS;

#undef RESPMAT_MODEL_SUMMARY
#undef RESPMAT_MODEL_OPTIONS

enum LongOnly : int {
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
  kRange
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
    {"matrix", required_argument, nullptr, kMatrix},
    {"layout", required_argument, nullptr, kLayout},
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
    {"summary", required_argument, nullptr, kSummary},
    {"spectrum-plot", required_argument, nullptr, kSpectrumPlot},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0}};

// The commands; without one, the first.
constexpr const char *kCommands[] = {"model", "correct"};

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
std::optional<std::string> conflict(const JobOptions &job, const bool (&given)[kRange + 1]) {
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

bool is_command(const char *argument) {
  for (const char *command : kCommands)
    if (std::strcmp(argument, command) == 0) return true;
  return false;
}

}  // namespace

CommandLine parse_command_line(int argc, char **argv) {
  const bool named = argc > 1 && is_command(argv[1]);
  const bool correcting = named && std::strcmp(argv[1], "correct") == 0;
  const char *help = correcting ? kCorrectHelp : named ? kModelHelp : kToolHelp;
  CorrectOptions correct;
  // getopt_long reads from argv[1]; after a command it reads the command's options.
  const int first = named ? 1 : 0;
  argc -= first;
  argv += first;
  CommandLine line;
  line.options.strict_phases = argc > 1;
  bool given[kRange + 1] = {};
  opterr = 0;  // messages are ours, in the tool's one-line form
  optind = 0;  // a fresh scan, even when called more than once
  const char *const short_options = ":r:p:c:m:o:f:h";
  int code;
  while ((code = getopt_long(argc, argv, short_options, kOptions, nullptr)) != -1) {
    if (code == 'h') return CommandLine{CommandLine::Action::help, {}, {}, help, {}};
    if (code == kVersion) return CommandLine{CommandLine::Action::version, {}, {}, nullptr, {}};
    const std::string offending = argv[optind - 1];
    if (code == '?' && optopt == 0) return usage_error("unknown option '" + offending + "'");
    if (code == '?' && offending.starts_with("--")) return usage_error("option '" + offending + "' takes no value");
    if (code == '?') return usage_error("unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'");
    if (code == ':') return usage_error("option '" + offending + "' needs a value");
    if (is_correct_option(code)) {
      if (!correcting) return usage_error(option_name(code) + " belongs to the correct command");
      if (auto problem = apply_correct_option(code, option_name(code), optarg, correct)) return usage_error(*problem);
      continue;
    }
    if (auto problem = apply(code, optarg, line.options)) return usage_error(*problem);
    given[code] = true;
  }
  if (correcting) {
    if (optind < argc) return usage_error("unexpected argument '" + std::string(argv[optind]) + "'");
    if (given['o']) correct.output = line.options.output;
    correct.threads = line.options.threads;
    correct.model = std::move(line.options);
    if (auto problem = correct_conflict(correct)) return usage_error(*problem);
    line.correct = std::move(correct);
    return line;
  }
  if (optind < argc) return usage_error("unexpected argument '" + std::string(argv[optind]) + "'");
  if (auto problem = conflict(line.options, given)) return usage_error(*problem);
  return line;
}

}  // namespace respmat
