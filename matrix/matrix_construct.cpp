// Making, filling, copying and transposing matrices.
#include <cstdint>
#include <cstring>

#include "respmat/matrix.h"
#include "matrix/matrix_layout.h"

using namespace respmat::detail;

extern "C" Matrix matrix_alloc_sized(int32_t rows, int32_t cols, int32_t elem_size) {
  Matrix M = matrix_new_header(rows, cols);
  return M != nullptr ? matrix_fill_rows(M, elem_size) : nullptr;
}

extern "C" Matrix matrix_alloc_zeroed(int32_t rows, int32_t cols) {
  Matrix M = matrix_alloc(rows, cols);
  if (M != nullptr) matrix_zero(M);
  return M;
}

extern "C" Matrix matrix_alloc_header(int32_t rows, int32_t cols) {
  Matrix M = matrix_new_header(rows, cols);
  // Null slots make a release before every row is in place safe.
  for (std::int32_t r = rows; M != nullptr && r-- > 0;) M[r] = nullptr;
  return M;
}

extern "C" void matrix_zero(Matrix M) {
  const std::int32_t cols = matrix_cols(M);
  if (cols <= 0) return;
  for (std::int32_t r = matrix_rows(M); r-- > 0;) std::memset(M[r], 0, cols * sizeof(double));
}

extern "C" Matrix matrix_clone(const Matrix M) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  Matrix C = matrix_alloc(rows, cols);
  if (C == nullptr) return nullptr;
  for (std::int32_t r = rows; r-- > 0;) std::memcpy(C[r], M[r], cols * sizeof(double));
  return C;
}

extern "C" void matrix_copy(Matrix dst, const Matrix src) {
  const std::int32_t cols = matrix_cols(src);
  // memmove: copying a matrix onto itself hands the same row as source and target.
  for (std::int32_t r = matrix_rows(src); r-- > 0;)
    std::memmove(dst[r], src[r], cols * sizeof(double));
}

extern "C" Matrix matrix_transpose(const Matrix M) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  Matrix T = matrix_alloc(cols, rows);
  if (T == nullptr) return nullptr;
  // Elements move as bytes, so NaN payloads survive.
  for (std::int32_t i = cols; i-- > 0;)
    for (std::int32_t j = rows; j-- > 0;) std::memcpy(&T[i][j], &M[j][i], sizeof(double));
  return T;
}
