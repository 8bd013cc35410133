// Response matrices read whole for an orbit correction: CSV, CSV with names, the
// binary form or an optics-style table, monitors by correctors once laid out.
#ifndef RESPMAT_INPUT_RESPONSE_MATRIX_H
#define RESPMAT_INPUT_RESPONSE_MATRIX_H

#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"
#include "base/failure.h"
#include "input/measured_matrix.h"

namespace respmat {

// A response matrix, monitors by correctors, with the names the file gives (empty
// when it gives none).
struct NamedMatrix {
  analysis::Dense values;
  std::vector<std::string> monitor_names;
  std::vector<std::string> corrector_names;
};

// A file ending in ".bin" holds the binary form; one starting with '@' or '*' is an
// optics-style table (a NAME column and one column per corrector); any other is CSV,
// with names when its first cell is empty. Every entry must be a finite number.
[[nodiscard]] std::optional<Failure> read_response_matrix(const std::string &path, MatrixLayout layout,
                                                          NamedMatrix &matrix);

}  // namespace respmat

#endif
