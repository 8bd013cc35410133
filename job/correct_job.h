// The correct job: reads a response matrix (or computes the model) and a measured
// orbit, finds the corrector changes that bring the orbit back, and writes them with
// the predicted orbit, the singular values, a summary and a plot of the spectrum.
#ifndef RESPMAT_JOB_CORRECT_JOB_H
#define RESPMAT_JOB_CORRECT_JOB_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/correction.h"
#include "job/correction_inputs.h"
#include "job/job.h"

namespace respmat {

struct CorrectOptions {
  std::optional<std::string> matrix;  // unset: the model of `model` is computed
  MatrixLayout layout = MatrixLayout::monitors_by_correctors;
  JobOptions model;  // the model's inputs; its plane also chooses an optics table's orbit column
  std::string orbit;
  std::optional<PhaseColumn> orbit_column;
  std::optional<std::string> weights;
  std::optional<PhaseColumn> weights_column;
  std::vector<std::string> exclude_monitors;  // 0-based indices or names
  std::vector<std::string> exclude_correctors;
  std::optional<std::string> limits;
  std::optional<std::int32_t> singular_values;
  std::optional<double> rcond;
  double tikhonov = 0.0;
  std::string output = "correctors.csv";
  std::optional<std::string> predicted;
  std::optional<std::string> spectrum;
  std::optional<std::string> summary;
  std::optional<std::string> spectrum_plot;
  int threads = 0;  // of the linear algebra; 0: RESPMAT_THREADS, else OpenBLAS's choice
};

struct CorrectResult {
  JobResult job;                    // its error is set when nothing was written
  analysis::Correction correction;  // complete when there is no error
};

// Runs the job: every output is replaced, or none is.
[[nodiscard]] CorrectResult run_correct_job(const CorrectOptions &options);

// Runs the job as the tool does: one line on `out` (kept and total singular values,
// rms before and predicted after), a failure reported on `err`. Returns the exit status.
[[nodiscard]] int run_correct(const CorrectOptions &options, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
