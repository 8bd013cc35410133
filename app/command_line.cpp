#include "app/command_line.h"

#include <getopt.h>

#include <charconv>
#include <string_view>

namespace respmat {

const char kHelpText[] =
    "Usage: respmat [options]\n"
    "Writes the m x m lower-triangular model response matrix, phases in turns:\n"
    "  G[i][j] = 0.47247222310000003 x sin(2 pi (phase i - phase j) + 0.1696)\n"
    "\n"
    "  -r, --response FILE  response matrix; m = the field count of its first line\n"
    "                       (default ../reponsematx_H0.1A.csv)\n"
    "  -p, --phases FILE    phase table, in turns (default ../realmachinephases.csv):\n"
    "                       comma-separated, or an optics table ('@', '*' lines)\n"
    "  -c, --column COL     phase column: a 0-based index, or a name looked up\n"
    "                       case-insensitively in the table's header (default 0;\n"
    "                       required for optics tables)\n"
    "  -m, --monitors N     use m = N and read no response file\n"
    "  -o, --output FILE    default er.csv; \"-\" writes the matrix to standard output\n"
    "  -f, --format FMT     csv (default) or bin (rows, cols as little-endian int32,\n"
    "                       then the doubles row by row)\n"
    "      --heatmap FILE   also draw the model matrix as a heat map: SVG or PDF\n"
    "                       for a FILE named .svg or .pdf, else PNG\n"
    "      --threads N      writer threads (default 0: one per core)\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "\n"
    "With --phases and neither --response nor --monitors, m is the number of phase\n"
    "rows. Results replace their files only when complete.\n"
    "\n"
    "Exit status: 0 written; 1 an input is missing, unreadable or not phases;\n"
    "2 an output could not be written (left as it was); 3 the \"m=\" line could not be\n"
    "written (the outputs were); 64 usage error (nothing written).\n";

namespace {

enum LongOnly : int { kHeatmap = 256, kThreads, kVersion };

constexpr option kOptions[] = {
    {"response", required_argument, nullptr, 'r'}, {"phases", required_argument, nullptr, 'p'},
    {"column", required_argument, nullptr, 'c'},   {"monitors", required_argument, nullptr, 'm'},
    {"output", required_argument, nullptr, 'o'},   {"format", required_argument, nullptr, 'f'},
    {"heatmap", required_argument, nullptr, kHeatmap}, {"threads", required_argument, nullptr, kThreads},
    {"help", no_argument, nullptr, 'h'},           {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0}};

// The most writer threads worth asking for.
constexpr int kMaxThreads = 1024;

std::optional<std::int32_t> count_of(std::string_view text, std::int32_t most) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 || value > most)
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
  switch (code) {
    case 'r': job.response = text; break;
    case 'p': job.phases = text; break;
    case 'o': job.output = text; break;
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
    case 'f':
      if (text == "csv")
        job.format = OutputFormat::csv;
      else if (text == "bin")
        job.format = OutputFormat::bin;
      else
        return bad_value("expected csv or bin");
      break;
    case kHeatmap:
      if (text == "-" || text.empty()) return bad_value("expected a file name for the picture");
      job.heatmap = text;
      break;
  }
  return std::nullopt;
}

}  // namespace

CommandLine parse_command_line(int argc, char **argv) {
  CommandLine line;
  line.options.strict_phases = argc > 1;
  opterr = 0;  // messages are ours, in the tool's one-line form
  optind = 0;  // a fresh scan, even when called more than once
  const char *const short_options = ":r:p:c:m:o:f:h";
  int code;
  while ((code = getopt_long(argc, argv, short_options, kOptions, nullptr)) != -1) {
    if (code == 'h') return CommandLine{CommandLine::Action::help, {}, {}};
    if (code == kVersion) return CommandLine{CommandLine::Action::version, {}, {}};
    const std::string offending = argv[optind - 1];
    if (code == '?' && optopt == 0) return usage_error("unknown option '" + offending + "'");
    if (code == '?' && offending.starts_with("--")) return usage_error("option '" + offending + "' takes no value");
    if (code == '?') return usage_error("unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'");
    if (code == ':') return usage_error("option '" + offending + "' needs a value");
    if (auto problem = apply(code, optarg, line.options)) return usage_error(*problem);
  }
  if (optind < argc) return usage_error("unexpected argument '" + std::string(argv[optind]) + "'");
  if (line.options.response && line.options.monitors)
    return usage_error("--response and --monitors both give m; use one");
  return line;
}

}  // namespace respmat
