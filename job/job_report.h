// The tool's words for a job's result: one line per failure on standard error,
// "respmat: <file>: <reason>", and an exit status per kind of failure.
#ifndef RESPMAT_JOB_JOB_REPORT_H
#define RESPMAT_JOB_JOB_REPORT_H

#include <cstdio>
#include <functional>
#include <string>

#include "job/job.h"

namespace respmat {

// Exit statuses of the tool.
enum ExitStatus : int {
  kExitOk = 0,
  kExitBadInput = 1,     // an input is missing, unreadable or too short
  kExitWriteFailed = 2,  // an output could not be written completely (left as it was)
  kExitStdoutFailed = 3, // the outputs were written, but the "m=" line could not be
  kExitUsage = 64        // the job asked for is not possible; nothing was written
};

// The paths of the bare command's job.
struct DriverPaths {
  const char *response = kDefaultResponse;
  const char *phases = kDefaultPhases;
  const char *output = "er.csv";
};

// Prints a usage failure, "respmat: <what>; try 'respmat --help'", on `err`.
void report_usage(std::FILE *err, const std::string &what);

// Prints a job's failure on `err` and returns its exit status.
[[nodiscard]] int report_failure(const JobError &error, std::FILE *err);

// Runs a job as the tool does: prints the warnings and "m=<m>" on `out` (on `err`
// when the matrix goes to `out`), writes the outputs, and reports a failure on
// `err`. Returns the exit status.
[[nodiscard]] int run_job(const JobOptions &options, std::FILE *out, std::FILE *err);

// Runs the bare command's job on the given files (phases read like atof).
// Reads only what the result depends on: the first line of the response file and
// the first m lines of the phases file.
[[nodiscard]] int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err);

// Runs `job` and prints its result as run_job() does, for a job run another way.
// `job` writes the matrix to the hooks' standard output when `matrix_to_out`.
[[nodiscard]] int run_reported(const std::function<JobResult(const JobHooks &)> &job, bool matrix_to_out,
                               std::FILE *out, std::FILE *err);

// Runs an analysis command (compare, fit) as the tool does: prints its warnings and,
// when it succeeds, its one line on `out`; reports a failure on `err`. Returns the
// exit status.
[[nodiscard]] int run_command_reported(const std::function<JobResult(std::string &line)> &command, std::FILE *out,
                                       std::FILE *err);

}  // namespace respmat

#endif
