#include "app/command_line.h"

#include <cstring>
#include <functional>
#include <vector>

#include "app/analysis_flags.h"
#include "app/model_flags.h"

namespace respmat {
namespace {

constexpr char kModelSummary[] =
    "Writes a model response matrix, monitors by correctors. From a phase table (in\n"
    "turns), the m x m lower-triangular matrix\n"
    "  G[i][j] = 0.47247222310000003 x sin(2 pi (phase i - phase j) + 0.1696);\n"
    "from an optics table, the orbit per kick from the beta functions and phases.\n";

constexpr char kModelNotes[] =
    "\n"
    "With --phases and neither --response nor --monitors, m is the number of phase\n"
    "rows. Results replace their files only when complete. An input named - is\n"
    "standard input, which one input of a run may read.\n"
    "\n"
    "Exit status: 0 written; 1 an input is missing, unreadable or not what the model\n"
    "needs; 2 an output could not be written (left as it was); 3 the \"m=\" line\n"
    "could not be written (the outputs were); 64 usage error (nothing written).\n";

constexpr char kMeasurementNotes[] =
    "\n"
    "The model's m is the measured matrix's. An input named - is standard input,\n"
    "which one input of a run may read.\n"
    "\n"
    "Exit status: 0 written; 1 an input is missing, unreadable or does not match;\n"
    "2 an output could not be written (left as it was); 3 the line on standard output\n"
    "could not be written; 64 usage error (nothing written).\n";

constexpr char kCorrectNotes[] =
    "\n"
    "Prints one line: kept and total singular values, rms before and predicted after.\n"
    "An input named - is standard input, which one input of a run may read.\n"
    "Exit status: 0 written; 1 an input is missing, unreadable or not a finite\n"
    "number where one is needed; 2 an output could not be written; 64 usage error.\n";

// A command: its name, what it does, its help, and how its flags are read.
struct Command {
  const char *name;
  const char *purpose;  // the line of the tool's list of commands
  std::string usage;    // --help's first lines
  const char *notes;    // --help's last lines
  // The flags' texts for --help and the manual.
  std::function<std::vector<std::pair<std::string, std::vector<FlagText>>>()> texts;
  // Reads the flags into the command's options.
  std::function<CommandLine(int argc, char **argv, const std::vector<FlagName> &all)> parse;
};

CommandLine usage_error(std::string what) {
  CommandLine line;
  line.action = CommandLine::Action::usage_error;
  line.text = std::move(what);
  return line;
}

// The flags of every command, so that one given to the wrong command is recognised.
std::vector<FlagName> all_flag_names() {
  std::vector<FlagName> names;
  add_names(model_command_flags(), names);
  add_names(compare_command_flags(), names);
  add_names(fit_command_flags(), names);
  add_names(correct_command_flags(), names);
  return names;
}

// Reads the flags of `list` into `options`, then checks them with `conflict`.
template <typename Options>
CommandLine parse_flags(const char *command, int argc, char **argv, const std::vector<FlagName> &all,
                        const FlagList<Options> &list, Options options,
                        const std::function<FlagProblem(const Options &, const std::set<std::string> &)> &conflict) {
  const FlagScan scan = scan_flags(argc, argv, all, [&](const FlagUse &use) -> FlagProblem {
    bool found = false;
    FlagProblem problem = apply_flag(list, use, options, found);
    if (found) return problem;
    std::string what = use.name + ": does not apply to '" + command + "'";
    if (use.name == "--response" || use.name == "--monitors") what += ", whose m is the measured matrix's";
    return what;
  });
  switch (scan.end) {
    case FlagScan::End::help:
    case FlagScan::End::version: {
      CommandLine shown;
      shown.action = scan.end == FlagScan::End::help ? CommandLine::Action::help : CommandLine::Action::version;
      return shown;
    }
    case FlagScan::End::problem:
      return usage_error(scan.problem);
    case FlagScan::End::done:
      break;
  }
  if (!scan.operands.empty()) return usage_error(scan.operands.front() + ": is no option, and no command takes arguments");
  if (auto problem = conflict(options, scan.given)) return usage_error(*problem);
  CommandLine line;
  line.options = std::move(options);
  return line;
}

const std::vector<Command> &commands() {
  static const std::vector<Command> list = {
      {"model", "write a model response matrix",
       std::string("Usage: respmat model [options]\n") + kModelSummary, kModelNotes,
       [] { return flag_texts(model_command_flags()); },
       [](int argc, char **argv, const std::vector<FlagName> &all) {
         ModelOptions options;
         // The command alone is the bare command, which reads its phases as it always has.
         options.source.strict_phases = argc > 1;
         return parse_flags<ModelOptions>("model", argc, argv, all, model_command_flags(), options,
                                                   model_command_conflict);
       }},
      {"compare", "compare a measured response matrix with the model",
       "Usage: respmat compare [options]\n"
       "Compares the measured response matrix with the model: writes the residual\n"
       "measured / step - model (-o, default residual.csv) and prints its size and the\n"
       "number of outliers.\n",
       kMeasurementNotes, [] { return flag_texts(compare_command_flags()); },
       [](int argc, char **argv, const std::vector<FlagName> &all) {
         return parse_flags<CompareOptions>("compare", argc, argv, all, compare_command_flags(), {},
                                            compare_conflict);
       }},
      {"fit", "fit the model's constants, calibrations or quadrupole errors",
       "Usage: respmat fit [options]\n"
       "Fits the model's constants to the measured response matrix by weighted linear\n"
       "least squares over the entries the model reaches: the amplitude and offset of\n"
       "the phase model, the scale and offset of an optics line, the scale of a ring.\n"
       "Prints them with their standard errors. --fit calibrations fits the monitors'\n"
       "gains and the correctors' strengths and offsets; --fit quadrupoles the gradient\n"
       "errors of the optics table's quadrupoles.\n",
       kMeasurementNotes, [] { return flag_texts(fit_command_flags()); },
       [](int argc, char **argv, const std::vector<FlagName> &all) {
         return parse_flags<FitOptions>("fit", argc, argv, all, fit_command_flags(), {}, fit_conflict);
       }},
      {"correct", "corrector changes that correct an orbit",
       "Usage: respmat correct --orbit FILE [--matrix FILE | model options] [options]\n"
       "Finds the corrector changes that bring a measured orbit back, from the singular\n"
       "values of the weighted response matrix W R (monitors by correctors):\n"
       "  change = -V diag(f) U^T W orbit, f = s / (s^2 + alpha^2) for kept s, else 0.\n",
       kCorrectNotes, [] { return flag_texts(correct_command_flags()); },
       [](int argc, char **argv, const std::vector<FlagName> &all) {
         return parse_flags<CorrectOptions>("correct", argc, argv, all, correct_command_flags(), {},
                                            correct_conflict);
       }}};
  return list;
}

const Command *command_named(const char *argument) {
  for (const Command &command : commands())
    if (std::strcmp(argument, command.name) == 0) return &command;
  return nullptr;
}

// The tool's own help: its usage, its commands, and the options of model, which is
// what runs without a command.
std::string tool_help() {
  const Command &model = commands().front();
  std::string text = std::string("Usage: respmat [options]\n       respmat COMMAND [options]\n") + kModelSummary +
                     "\nCommands:\n";
  for (const Command &command : commands()) {
    std::string name = command.name;
    text += "  " + name + std::string(9 - name.size(), ' ') + command.purpose + "\n";
  }
  return text + "\nWithout a command, respmat runs model. Its options:\n" + help_text(model.texts()) + model.notes;
}

}  // namespace

CommandLine parse_command_line(int argc, char **argv) {
  const Command *named = argc > 1 ? command_named(argv[1]) : nullptr;
  const Command &command = named != nullptr ? *named : commands().front();
  // getopt_long reads from argv[1]; after a command it reads the command's flags.
  const int first = named != nullptr ? 1 : 0;
  CommandLine line = command.parse(argc - first, argv + first, all_flag_names());
  if (named != nullptr) line.command = named->name;
  if (line.action == CommandLine::Action::help)
    line.text = named != nullptr ? command.usage + "\n" + help_text(command.texts()) + command.notes : tool_help();
  return line;
}

std::string flag_table(const std::string &command) {
  const Command *named = command_named(command.c_str());
  return named != nullptr ? doc_table(named->texts()) : std::string();
}

}  // namespace respmat
