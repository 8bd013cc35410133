// The main job, separated from main() so tests and benchmarks can run it.
#ifndef RESPMAT_APP_DRIVER_H
#define RESPMAT_APP_DRIVER_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/phase_table.h"

namespace respmat {

inline constexpr char kDefaultResponse[] = "../reponsematx_H0.1A.csv";
inline constexpr char kDefaultPhases[] = "../realmachinephases.csv";

enum class OutputFormat {
  csv,  // comma-separated text, 16 significant digits
  bin   // the library's binary matrix form (see matrix_write_bin)
};

// One job, as the command line or another front end describes it.
struct JobOptions {
  // m is taken from `monitors` when set, else from the first line of the response
  // file when `response` is set or `phases` is not, else it is the number of rows
  // of the phase table. Unset files are the defaults above.
  std::optional<std::string> response;
  std::optional<std::string> phases;
  std::optional<PhaseColumn> column;  // unset: column 0; optics tables need one
  std::optional<std::int32_t> monitors;
  std::string output = "er.csv";  // "-": standard output, with "m=" going to `err`
  OutputFormat format = OutputFormat::csv;
  std::optional<std::string> heatmap;  // also write a PNG picture of the matrix there
  int threads = 0;                     // writer threads; 0: one per core
  // The bare command keeps its first reading of phases: like atof, a non-numeric
  // phase is 0 and only warned about. Otherwise such a phase is an error.
  bool strict_phases = true;
};

struct DriverPaths {
  const char *response = kDefaultResponse;
  const char *phases = kDefaultPhases;
  const char *output = "er.csv";
};

// Exit statuses of the tool.
enum ExitStatus : int {
  kExitOk = 0,
  kExitBadInput = 1,    // an input is missing, unreadable or too short
  kExitWriteFailed = 2,  // an output could not be written completely (left as it was)
  kExitStdoutFailed = 3, // the outputs were written, but the "m=" line could not be
  kExitUsage = 64        // the job asked for is not possible; nothing was written
};

// Runs a job: prints "m=<m>" on `out` and replaces the output files, or prints one
// line naming the file and the reason on `err` and leaves the outputs untouched.
[[nodiscard]] int run_job(const JobOptions &options, std::FILE *out, std::FILE *err);

// Runs the bare command's job on the given files (phases read like atof).
// Reads only what the result depends on: the first line of the response file and
// the first m lines of the phases file.
[[nodiscard]] int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err);

// The same job done the straightforward way: both files loaded whole as matrices,
// the model matrix filled with sinl and written with printf. Same output, slower.
[[nodiscard]] int run_driver_reference(const DriverPaths &paths, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
