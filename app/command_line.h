// The tool's command line: a command, then GNU-style options read with getopt_long
// into a job.
#ifndef RESPMAT_APP_COMMAND_LINE_H
#define RESPMAT_APP_COMMAND_LINE_H

#include <string>

#include "job/compare_job.h"
#include "job/correct_job.h"
#include "job/job.h"

namespace respmat {

// What the command line asks for.
struct CommandLine {
  enum class Action { run, help, version, usage_error };
  Action action = Action::run;
  std::string command = "model";  // model, compare or fit
  JobOptions options;        // for run: the model, and for model its outputs
  CompareOptions compare;    // for run of compare and fit: the measurement and the outputs
  std::string error;         // for usage_error: what is wrong, in one line
  const char *help = nullptr;  // for help: the text to print
  std::optional<CorrectOptions> correct;  // for run: set for the correct command
};

// Reads the arguments: an optional command ("model", which is also what no command
// means; "compare"; "fit"), then its options. No argument at all, or the command alone, is the bare
// command, which keeps its first reading of phases; any option asks for phases that
// are all numbers. --help and --version take effect where they stand, before
// anything after them.
[[nodiscard]] CommandLine parse_command_line(int argc, char **argv);

}  // namespace respmat

#endif
