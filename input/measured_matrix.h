// Measured response matrices read whole: comma-separated numbers, optionally with a
// header row of corrector or monitor names and a first column of names (recognised
// by the empty first cell of the header), or an optics-style table (a first byte '@'
// or '*'), whose NAME column names the rows and whose other columns are the values,
// and whose header may state the layout (LAYOUT, MONITORS and CORRECTORS, as the tool
// writes them). Every value must be a finite number.
#ifndef RESPMAT_INPUT_MEASURED_MATRIX_H
#define RESPMAT_INPUT_MEASURED_MATRIX_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/dense.h"
#include "base/failure.h"

namespace respmat {

// How a file lays out a response matrix.
enum class MatrixLayout {
  correctors_by_monitors,  // a row per corrector, a column per monitor (the measured file of the bare job)
  monitors_by_correctors   // a row per monitor, a column per corrector (what `respmat model` writes)
};

[[nodiscard]] const char *layout_name(MatrixLayout layout);
// The layout a name gives; nothing for any other text.
[[nodiscard]] std::optional<MatrixLayout> parse_layout(std::string_view name);

struct MeasuredMatrix {
  analysis::Dense values;               // as the file lays them out
  std::vector<std::string> row_names;   // empty when the file names no rows
  std::vector<std::string> column_names;
  // The layout the file states: an optics-style table's LAYOUT, or its MONITORS and
  // CORRECTORS where they tell a matrix that is not square.
  std::optional<MatrixLayout> layout;
};

struct MeasuredMatrixResult {
  MeasuredMatrix matrix;
  // Why there is no matrix: the file cannot be read (with the system's reason), or
  // its content is refused ("file:line: column k: reason" in one line).
  std::optional<Failure> failure;
};

[[nodiscard]] MeasuredMatrixResult read_measured_matrix(const std::string &path);

}  // namespace respmat

#endif
