// `respmat model`: reads the model's inputs, writes its matrix (and its picture).
#ifndef RESPMAT_COMMANDS_MODEL_COMMAND_H
#define RESPMAT_COMMANDS_MODEL_COMMAND_H

#include <optional>
#include <string>
#include <vector>

#include "commands/command_result.h"
#include "commands/model_inputs.h"
#include "output/matrix_form.h"
#include "output/table_text.h"

namespace respmat {

struct ModelOptions {
  ModelSource source;
  std::string output = "er.csv";  // "-": the caller's standard output (CommandHooks)
  MatrixForm form;
  std::optional<std::string> heatmap;  // also draw the matrix there (PNG, SVG or PDF by its extension)
  std::optional<double> range;  // the bound of the picture's colour scale; unset: the model's largest entry
};

// What an optics-style table says in its header of a model from `source`: the plane,
// lattice and scale of an optics model or the constants of a phase model, and the
// size of `written` (the matrix as written, which may be laid out the other way).
[[nodiscard]] std::vector<TableHeaderValue> model_description(const ModelSource &source,
                                                              const ResponseModel &written);

// Replaces the output files, or fails and leaves them untouched. Outputs are written
// in full whatever the hook does.
[[nodiscard]] CommandResult run_model(const ModelOptions &options, const CommandHooks &hooks = {});

}  // namespace respmat

#endif
