// The tool's command line: a command, then its GNU-style flags, read into the
// command's options.
#ifndef RESPMAT_APP_COMMAND_LINE_H
#define RESPMAT_APP_COMMAND_LINE_H

#include <string>
#include <variant>

#include "commands/compare_command.h"
#include "commands/correct_command.h"
#include "commands/fit_command.h"
#include "commands/model_command.h"

namespace respmat {

using CommandOptions = std::variant<ModelOptions, CompareOptions, FitOptions, CorrectOptions>;

// What the command line asks for.
struct CommandLine {
  enum class Action { run, help, version, usage_error };
  Action action = Action::run;
  CommandOptions options;  // for run: the command and its options
  std::string command;     // the command as the arguments name it; empty when they name none
  std::string text;        // for help: the text to print; for usage_error: what is wrong, in one line
};

// Reads the arguments: an optional command ("model", which is also what no command
// means; "compare", "fit", "correct"), then its flags. No argument at all, or the
// command alone, is the bare command, which keeps its first reading of phases; any
// flag asks for phases that are all numbers. --help and --version take effect where
// they stand, before anything after them.
[[nodiscard]] CommandLine parse_command_line(int argc, char **argv);

// The manual's table of a command's flags, in Markdown: what docs/cli.md shows.
[[nodiscard]] std::string flag_table(const std::string &command);

}  // namespace respmat

#endif
