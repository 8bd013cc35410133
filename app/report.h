// The tool's words for a command's result: one line per failure on standard error,
// "respmat: <file>: <reason>", the command's own line on success, and an exit status
// per kind of failure.
#ifndef RESPMAT_APP_REPORT_H
#define RESPMAT_APP_REPORT_H

#include <cstdio>
#include <functional>
#include <string>

#include "app/command_line.h"
#include "commands/command_result.h"

namespace respmat {

// Exit statuses of the tool.
enum ExitStatus : int {
  kExitOk = 0,
  kExitBadInput = 1,     // an input is missing, unreadable or too short
  kExitWriteFailed = 2,  // an output could not be written completely (left as it was)
  kExitStdoutFailed = 3, // the outputs were written, but the line on standard output could not be
  kExitUsage = 64,       // the command asked for is not possible; nothing was written
  // A reader of standard output went away (`respmat -o - | head`): the run ends quietly,
  // nothing written, with the status a process ended by SIGPIPE has.
  kExitClosedPipe = 141
};

// The paths of the bare command's job.
struct DriverPaths {
  const char *response = kDefaultResponse;
  const char *phases = kDefaultPhases;
  const char *output = "er.csv";
};

// The tool's voice in one run: every line it writes on standard error is
// "respmat: <subject>: <reason>", or "respmat COMMAND: ..." when the command line
// named the command, a usage failure followed by the help that goes with it.
class Voice {
 public:
  // `command`: the command as the command line named it; empty when it named none.
  explicit Voice(std::string command = {});

  // "<prefix>: <line>" on `err`.
  void say(std::FILE *err, const std::string &line) const;
  // A usage failure, "<prefix>: <what>; try 'respmat [COMMAND] --help'".
  void usage(std::FILE *err, const std::string &what) const;
  // Says a failure and returns its exit status.
  [[nodiscard]] int failure(std::FILE *err, const Failure &failure) const;

 private:
  std::string prefix_;  // "respmat" or "respmat compare"
};

// Runs the command as the tool does: its warnings on `err`; for model the "m=<m>"
// line once the inputs are read (on `err` when the matrix goes to `out`), for the
// others their one line once every output is written; a failure on `err`. Returns
// the exit status.
[[nodiscard]] int run_reported(const CommandOptions &options, std::FILE *out, std::FILE *err,
                               const Voice &voice = Voice());

// Runs a model written another way (the tests' straightforward reference) and
// reports it as run_reported() reports the bare model command; the matrix goes to
// `out` when `matrix_to_out`.
[[nodiscard]] int report_model_run(const std::function<CommandResult(const CommandHooks &)> &run, bool matrix_to_out,
                                   std::FILE *out, std::FILE *err, const Voice &voice = Voice());

// Runs the bare command's job on the given files (phases read like atof).
// Reads only what the result depends on: the first line of the response file and
// the first m lines of the phases file.
[[nodiscard]] int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
