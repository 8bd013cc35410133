// `respmat compare`: the measured response matrix against the model: the residuals,
// their sizes and the entries that stand out.
#ifndef RESPMAT_COMMANDS_COMPARE_COMMAND_H
#define RESPMAT_COMMANDS_COMPARE_COMMAND_H

#include <optional>
#include <string>

#include "commands/command_result.h"
#include "commands/measurement.h"
#include "commands/model_inputs.h"
#include "output/matrix_form.h"

namespace respmat {

struct CompareOptions {
  ModelSource model;
  MeasurementOptions measurement;
  std::string output = "residual.csv";  // the residual, in the measured file's layout
  MatrixForm form;
  std::optional<std::string> heatmap;  // the residual drawn (PNG, SVG or PDF)
  std::optional<std::string> plot;     // its rms per monitor and per corrector drawn (PNG, SVG or PDF)
  std::string units = "orbit per unit kick";  // of the residual, on the pictures
  std::optional<std::string> summary;  // JSON
  double outlier_k = 5.0;
};

// Writes the residual (measured / step - model) in the measured file's layout, and
// the summary and the picture when asked for; the figures of the result are the
// comparison's.
[[nodiscard]] CommandResult run_compare(const CompareOptions &options, const CommandHooks &hooks = {});

}  // namespace respmat

#endif
