// A measured response matrix beside its model, monitors x correctors, held in memory:
// what compare and fit work on, whether the tool read it from files or a Python
// caller handed over arrays.
#ifndef RESPMAT_COMMANDS_MEASURED_RESPONSE_H
#define RESPMAT_COMMANDS_MEASURED_RESPONSE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"
#include "commands/model_inputs.h"
#include "input/measured_matrix.h"

namespace respmat {

struct MeasuredResponse {
  analysis::Dense measured;              // per unit corrector change: divided by the step
  std::optional<analysis::Dense> sigma;  // its uncertainties, likewise
  std::vector<std::string> monitor_names, corrector_names;  // indices where nothing names them
  bool names_monitors = false, names_correctors = false;     // whether the file or the model names them
  // The layout of the measured file, in which results are written as it was.
  MatrixLayout layout = MatrixLayout::monitors_by_correctors;
  ModelInputs inputs;                           // a phase model over its phases, or an optics model
  std::vector<std::int32_t> corrector_columns;  // of the model's columns, one per measured corrector
  // The model at the measured correctors, and whether it reaches each entry (row-major):
  // what place_model() makes of the rest.
  analysis::Dense model;
  std::vector<unsigned char> reachable;
};

// Fills `model` and `reachable` of a response whose measured matrix, model inputs and
// corrector columns are set.
void place_model(MeasuredResponse &response);

}  // namespace respmat

#endif
