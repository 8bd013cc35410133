// The main job, separated from main() so tests and benchmarks can run it.
#ifndef RESPMAT_APP_DRIVER_H
#define RESPMAT_APP_DRIVER_H

#include <cstdio>

namespace respmat {

struct DriverPaths {
  const char *response = "../reponsematx_H0.1A.csv";
  const char *phases = "../realmachinephases.csv";
  const char *output = "er.csv";
};

// Exit statuses of the tool.
enum ExitStatus : int {
  kExitOk = 0,
  kExitBadInput = 1,    // an input is missing, unreadable or too short
  kExitWriteFailed = 2  // er.csv could not be written completely (left as it was)
};

// Runs the main job: prints "m=<m>" on `out` and replaces the output file, or prints
// one line naming the file and the reason on `err` and leaves the output untouched.
// Reads only what the result depends on: the first line of the response file and
// the first m lines of the phases file.
[[nodiscard]] int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
