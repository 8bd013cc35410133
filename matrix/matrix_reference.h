// Internal: the straightforward implementations that the fast paths must equal byte
// for byte. Tests and benchmarks compare against them.
#ifndef RESPMAT_MATRIX_MATRIX_REFERENCE_H
#define RESPMAT_MATRIX_MATRIX_REFERENCE_H

#include <cstdint>
#include <cstdio>

#include "respmat/matrix.h"

namespace respmat::detail {

// matrix_load_text through table_read() and std::atof.
[[nodiscard]] Matrix load_text_reference(const char *path, std::int32_t drop_rows, const char *sep,
                                         char quote, const char *skip);

// matrix_write_csv through fprintf("%.16lg") and fputs(",").
inline void write_csv_reference(const Matrix M, std::FILE *stream, char transposed) {
  matrix_write_text(M, stream, transposed, "%.16lg", ",");
}

}  // namespace respmat::detail

#endif
