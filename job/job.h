// The main job: reads m and the phases, writes the model matrix (and its picture),
// and says how it went as data. The tool prints the result in its own words
// (job_report.h); the Python module turns it into exceptions.
#ifndef RESPMAT_JOB_JOB_H
#define RESPMAT_JOB_JOB_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/model.h"
#include "job/model_writer.h"
#include "job/optics_model.h"
#include "job/phase_table.h"

namespace respmat {

inline constexpr char kDefaultResponse[] = "../reponsematx_H0.1A.csv";
inline constexpr char kDefaultPhases[] = "../realmachinephases.csv";

enum class OutputFormat {
  csv,  // comma-separated text, 16 significant digits unless `digits` says otherwise
  bin,  // the library's binary matrix form (see matrix_write_bin)
  tfs   // an optics-style table: header values, one column per corrector, a row per monitor
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
  std::string output = "er.csv";  // "-": the caller's standard output (JobHooks)
  OutputFormat format = OutputFormat::csv;
  std::optional<std::string> heatmap;  // also draw the matrix there (PNG, SVG or PDF by its extension)
  int threads = 0;                     // writer threads; 0: one per core
  // The model of an optics table (its monitors, correctors and beta functions)
  // instead of the model of a phase table; `monitors`, when set, keeps the first so
  // many monitors.
  std::optional<std::string> optics;
  OpticsModelOptions optics_model;
  // The phase model's constants.
  double amplitude = kAmplitude;
  double offset = kPhaseOffset;
  int digits = 16;      // significant digits of the text forms, 1 to 17
  bool labels = false;  // the CSV gets a header row of corrector names and a first column of monitor names
  std::optional<double> range;  // the bound of the picture's colour scale; unset: the model's largest entry
  // The bare command keeps its first reading of phases: like atof, a non-numeric
  // phase is 0 and only warned about. Otherwise such a phase is an error.
  bool strict_phases = true;
};

// Why a job failed. Nothing the job would have replaced has been touched.
struct JobError {
  enum class Kind {
    usage,           // the job asked for is not possible; nothing was read or written
    input,           // an input is missing, unreadable or not what the job needs
    output,          // an output file could not be written completely
    standard_output  // the matrix could not be written to standard output
  };
  Kind kind = Kind::input;
  std::string path;      // the file concerned ("standard output" for that stream)
  int error_number = 0;  // the system's reason when it gave one, else 0
  std::string message;   // the whole failure in one line, as "file: reason"
};

struct JobResult {
  std::optional<std::int32_t> m;      // known once the inputs are read
  std::vector<std::string> warnings;  // about inputs a job went on with, one line each
  std::optional<JobError> error;      // unset: every output was written
};

// What a job needs of its caller besides the options.
struct JobHooks {
  std::FILE *standard_output = stdout;  // receives the matrix for output "-"
  // Called once the inputs are read (m and the warnings are known), before any
  // output is written; the tool prints its "m=" line here.
  std::function<void(const JobResult &)> inputs_read;
};

// What the model depends on: m and the first m phases, or the optics table; and the
// model itself, once read.
struct ModelInputs {
  std::int32_t m = 0;
  std::vector<double> phases;
  std::unique_ptr<ResponseModel> model;
  std::string source;  // the file the model comes from, for titles
};

// Reads the inputs of the model the options describe and makes it; the warnings
// about them go to `result`.
[[nodiscard]] std::optional<JobError> read_model(const JobOptions &options, ModelInputs &inputs, JobResult &result);

// The text form the options ask for (csv with its digits and labels, or tfs) of a
// model's matrix.
[[nodiscard]] ModelText matrix_text(const JobOptions &options, const ResponseModel &model);

// Runs a job: replaces the output files, or fails and leaves them untouched.
// Outputs are written in full whatever the hook does.
[[nodiscard]] JobResult run_job(const JobOptions &options, const JobHooks &hooks = {});

namespace detail {

// The same file, or the same place for a file yet to be made.
[[nodiscard]] bool same_file(const std::string &a, const std::string &b);

// The reason given when the phases file has fewer than m rows.
[[nodiscard]] std::string too_few_phases(std::int64_t rows, std::int32_t m);

}  // namespace detail
}  // namespace respmat

#endif
