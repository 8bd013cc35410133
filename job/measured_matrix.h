// Measured response matrices read whole: comma-separated numbers, optionally with a
// header row of corrector or monitor names and a first column of names (recognised
// by the empty first cell of the header), or an optics-style table (a first byte '@'
// or '*'), whose NAME column names the rows and whose other columns are the values.
// Every value must be a finite number.
#ifndef RESPMAT_JOB_MEASURED_MATRIX_H
#define RESPMAT_JOB_MEASURED_MATRIX_H

#include <string>
#include <vector>

#include "analysis/dense.h"

namespace respmat {

// How a file lays out a response matrix.
enum class MatrixLayout {
  correctors_by_monitors,  // a row per corrector, a column per monitor (the measured file of the bare job)
  monitors_by_correctors   // a row per monitor, a column per corrector (what `respmat model` writes)
};

[[nodiscard]] const char *layout_name(MatrixLayout layout);

struct MeasuredMatrix {
  analysis::Dense values;               // as the file lays them out
  std::vector<std::string> row_names;   // empty when the file names no rows
  std::vector<std::string> column_names;
};

struct MeasuredMatrixResult {
  MeasuredMatrix matrix;
  int error_number = 0;  // the system's reason when the file cannot be read
  std::string error;     // "file:line: column k: reason" in one line; empty on success
};

[[nodiscard]] MeasuredMatrixResult read_measured_matrix(const std::string &path);

}  // namespace respmat

#endif
