// Allocation and release of the Matrix record.
#include <cstdint>
#include <cstdlib>

#include "respmat/matrix.h"
#include "matrix/matrix_layout.h"

using namespace respmat::detail;

extern "C" int32_t matrix_rows(const Matrix M) { return header_word(M, kRowsOffset); }

extern "C" int32_t matrix_cols(const Matrix M) { return header_word(M, kColsOffset); }

extern "C" Matrix matrix_alloc(int32_t rows, int32_t cols) {
  Matrix M = matrix_new_header(rows, cols);
  return M != nullptr ? matrix_fill_rows(M, sizeof(double)) : nullptr;
}

extern "C" void matrix_free(Matrix M) {
  if (M == nullptr) return;
  for (std::int32_t r = matrix_rows(M); r-- > 0;) std::free(M[r]);
  std::free(matrix_base(M));
}
