// `respmat model`: reads the model's inputs, writes its matrix (and its picture).
#ifndef RESPMAT_COMMANDS_MODEL_COMMAND_H
#define RESPMAT_COMMANDS_MODEL_COMMAND_H

#include <optional>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/model_inputs.h"
#include "input/measured_matrix.h"
#include "output/matrix_form.h"
#include "output/table_text.h"

namespace respmat {

struct ModelOptions {
  ModelSource source;
  std::string output = "er.csv";  // "-": the caller's standard output (CommandHooks)
  MatrixForm form;
  std::optional<std::string> heatmap;  // also draw the matrix there (PNG, SVG or PDF by its extension)
  std::optional<double> range;  // the bound of the picture's colour scale; unset: the model's largest entry
  std::string units = "orbit per unit kick";  // of the entries, on the picture's colour bar
};

// What a matrix written as an optics-style table is, as its header says: what it
// holds (TYPE: "model", "residual", "fitted model"); the plane, lattice and scale of
// an optics model or the constants of a phase model, each replaced by its value in
// `constants` where that holds it (a fit's); its layout (LAYOUT: a row per monitor,
// or per corrector) and the counts of monitors and correctors.
struct MatrixDescription {
  std::string holds;
  MatrixLayout layout = MatrixLayout::monitors_by_correctors;
  std::int32_t monitors = 0;
  std::int32_t correctors = 0;
  std::vector<TableHeaderValue> constants;
};
[[nodiscard]] std::vector<TableHeaderValue> table_header(const ModelSource &source,
                                                         const MatrixDescription &description);

// Replaces the output files, or fails and leaves them untouched. Outputs are written
// in full whatever the hook does.
[[nodiscard]] CommandResult run_model(const ModelOptions &options, const CommandHooks &hooks = {});

}  // namespace respmat

#endif
