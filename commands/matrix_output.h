// A matrix held whole (a residual, a fitted model) written in the measured file's
// layout and in the form the options ask for, and drawn as a heat map.
#ifndef RESPMAT_COMMANDS_MATRIX_OUTPUT_H
#define RESPMAT_COMMANDS_MATRIX_OUTPUT_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"
#include "base/failure.h"
#include "commands/measured_response.h"
#include "commands/model_inputs.h"
#include "input/measured_matrix.h"
#include "output/matrix_form.h"
#include "output/table_text.h"
#include "picture/heat_map.h"

namespace respmat {

// A matrix held whole and what an optics-style table says of it (see
// table_header()).
struct HeldResult {
  analysis::Dense values;  // monitors x correctors, named as the measured response names them
  std::string holds;       // "residual", "fitted model"
  std::vector<TableHeaderValue> constants;  // the fit's, where they replace the model's
};

// `result` in `layout`, turned to that layout in its own storage. Returns the errno of
// the first failed write, or 0.
[[nodiscard]] int write_in_layout(const MatrixForm &form, const ModelSource &source, MatrixLayout layout,
                                  const MeasuredResponse &response, HeldResult result, std::FILE *stream);

// A heat map of `values` (monitors x correctors) in `style` with the measured names,
// grey where the model does not reach. False with errno set when drawing or writing
// fails.
[[nodiscard]] bool draw_measured(HeatMapStyle style, const std::string &path, const MeasuredResponse &response,
                                 const analysis::Dense &values, std::FILE *stream);

}  // namespace respmat

#endif
