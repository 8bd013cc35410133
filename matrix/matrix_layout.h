// Internal: the hidden-header layout of a Matrix, shared by every constructor.
#ifndef RESPMAT_MATRIX_MATRIX_LAYOUT_H
#define RESPMAT_MATRIX_MATRIX_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "respmat/matrix.h"

namespace respmat::detail {

inline constexpr std::size_t kRowsOffset = 0;
inline constexpr std::size_t kColsOffset = sizeof(std::int32_t);
inline constexpr std::size_t kMatrixHeaderBytes = 2 * sizeof(std::int32_t);
static_assert(kMatrixHeaderBytes % alignof(double *) == 0,
              "row pointer 0 must be aligned right after the two header words");

inline unsigned char *matrix_base(const Matrix M) {
  return reinterpret_cast<unsigned char *>(M) - kMatrixHeaderBytes;
}

inline std::int32_t header_word(const Matrix M, std::size_t offset) {
  std::int32_t value;
  std::memcpy(&value, matrix_base(M) + offset, sizeof value);
  return value;
}

// Allocates the header for `rows` row pointers and stores both words; the slots are
// left unset. Returns null for negative counts, sizes that overflow, or no memory.
inline Matrix matrix_new_header(std::int32_t rows, std::int32_t cols) {
  if (rows < 0 || cols < 0) return nullptr;
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(rows), sizeof(double *), &bytes) ||
      __builtin_add_overflow(bytes, kMatrixHeaderBytes, &bytes))
    return nullptr;
  auto *base = static_cast<unsigned char *>(std::malloc(bytes));
  if (base == nullptr) return nullptr;
  std::memcpy(base + kRowsOffset, &rows, sizeof rows);
  std::memcpy(base + kColsOffset, &cols, sizeof cols);
  return reinterpret_cast<Matrix>(base + kMatrixHeaderBytes);
}

// Allocates one row of `count` elements of `elem_size` bytes. An empty row is still a
// real (one-byte) allocation, so every row can be released the same way and a null
// result always means that memory ran out.
inline void *matrix_new_row(std::int32_t count, std::int32_t elem_size) {
  std::size_t bytes = 0;
  if (count < 0 || elem_size < 0 ||
      __builtin_mul_overflow(static_cast<std::size_t>(count), static_cast<std::size_t>(elem_size),
                             &bytes))
    return nullptr;
  return std::malloc(bytes != 0 ? bytes : 1);
}

// Releases rows [first, rows) of a matrix under construction, then its header.
inline Matrix matrix_abandon(Matrix M, std::int32_t first_allocated_row) {
  const std::int32_t rows = header_word(M, kRowsOffset);
  for (std::int32_t r = rows; r-- > first_allocated_row;) std::free(M[r]);
  std::free(matrix_base(M));
  return nullptr;
}

// Allocates rows from the last to the first, `elem_size` bytes per element. Returns
// `M`, or null (with everything released) when memory runs out.
inline Matrix matrix_fill_rows(Matrix M, std::int32_t elem_size) {
  const std::int32_t rows = header_word(M, kRowsOffset);
  const std::int32_t cols = header_word(M, kColsOffset);
  for (std::int32_t r = rows; r-- > 0;) {
    void *row = matrix_new_row(cols, elem_size);
    if (row == nullptr) return matrix_abandon(M, r + 1);
    M[r] = static_cast<double *>(row);
  }
  return M;
}

}  // namespace respmat::detail

#endif
