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
  kExitUsage = 64        // the command asked for is not possible; nothing was written
};

// The paths of the bare command's job.
struct DriverPaths {
  const char *response = kDefaultResponse;
  const char *phases = kDefaultPhases;
  const char *output = "er.csv";
};

// Prints a usage failure, "respmat: <what>; try 'respmat --help'", on `err`.
void report_usage(std::FILE *err, const std::string &what);

// Prints a failure on `err` and returns its exit status.
[[nodiscard]] int report_failure(const Failure &failure, std::FILE *err);

// Runs the command as the tool does: its warnings on `err`; for model the "m=<m>"
// line once the inputs are read (on `err` when the matrix goes to `out`), for the
// others their one line once every output is written; a failure on `err`. Returns
// the exit status.
[[nodiscard]] int run_reported(const CommandOptions &options, std::FILE *out, std::FILE *err);

// Runs a model written another way (the tests' straightforward reference) and
// reports it as run_reported() reports the model command; the matrix goes to `out`
// when `matrix_to_out`.
[[nodiscard]] int report_model_run(const std::function<CommandResult(const CommandHooks &)> &run, bool matrix_to_out,
                                   std::FILE *out, std::FILE *err);

// Runs the bare command's job on the given files (phases read like atof).
// Reads only what the result depends on: the first line of the response file and
// the first m lines of the phases file.
[[nodiscard]] int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
