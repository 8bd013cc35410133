// `respmat correct`: reads a response matrix (or computes the model) and a measured
// orbit, finds the corrector changes that bring the orbit back, and writes them with
// the predicted orbit, the singular values, a summary and a plot of the spectrum.
#ifndef RESPMAT_COMMANDS_CORRECT_COMMAND_H
#define RESPMAT_COMMANDS_CORRECT_COMMAND_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/model_inputs.h"
#include "input/measured_matrix.h"
#include "input/phase_table.h"

namespace respmat {

struct CorrectOptions {
  std::optional<std::string> matrix;  // unset: the model of `model` is computed
  MatrixLayout layout = MatrixLayout::monitors_by_correctors;
  ModelSource model;  // the model's inputs; its plane also chooses an optics table's orbit column
  std::string orbit;
  std::optional<PhaseColumn> orbit_column;
  std::optional<PhaseColumn> orbit_names;  // unset: NAME or name, else the first column (correction_vectors.h)
  std::optional<std::string> weights;
  std::optional<PhaseColumn> weights_column;
  std::optional<std::string> orbit_sigma;  // uncertainties per monitor, read like weights: weight 1/σ
  std::optional<PhaseColumn> orbit_sigma_column;
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
  std::optional<std::string> plot;  // the orbit before and after and the changes (PNG, SVG or PDF)
  int threads = 0;  // of the linear algebra; 0: RESPMAT_THREADS, else OpenBLAS's choice
  // A ring's x plane: one more column, the orbit per unit momentum offset (DX of the
  // optics table), and with the RF frequency the change of it that gives the offset.
  bool rf_column = false;
  std::optional<double> rf_frequency;
};

// The model's inputs as the correction reads them: DX too for the momentum offset
// column, alpha_c also for the RF frequency change.
[[nodiscard]] ModelSource model_source_of(const CorrectOptions &options);

// Every output is replaced, or none is; the figures of the result are the
// correction's.
[[nodiscard]] CommandResult run_correct(const CorrectOptions &options, const CommandHooks &hooks = {});

}  // namespace respmat

#endif
