// Helpers for the matrix tests: building matrices from values and reading them back.
#ifndef RESPMAT_MATRIX_MATRIX_TEST_SUPPORT_H
#define RESPMAT_MATRIX_MATRIX_TEST_SUPPORT_H

#include <bit>
#include <cstdint>
#include <vector>

#include "respmat/matrix.h"
#include "respmat/owners.hpp"

namespace respmat::testing {

// A rows x cols matrix holding `values` row by row.
inline OwnedMatrix matrix_of(std::int32_t rows, std::int32_t cols, std::vector<double> values = {}) {
  OwnedMatrix M(matrix_alloc(rows, cols));
  for (std::int32_t r = 0; r < rows; ++r)
    for (std::int32_t c = 0; c < cols; ++c) M.get()[r][c] = values.at(r * cols + c);
  return M;
}

// The elements of `M` row by row, as bit patterns so that NaNs and signed zeros compare.
inline std::vector<std::uint64_t> bits_of(const Matrix M) {
  std::vector<std::uint64_t> bits;
  for (std::int32_t r = 0; r < matrix_rows(M); ++r)
    for (std::int32_t c = 0; c < matrix_cols(M); ++c) bits.push_back(std::bit_cast<std::uint64_t>(M[r][c]));
  return bits;
}

// The elements of `M` row by row.
inline std::vector<double> values_of(const Matrix M) {
  std::vector<double> values;
  for (std::int32_t r = 0; r < matrix_rows(M); ++r)
    values.insert(values.end(), M[r], M[r] + matrix_cols(M));
  return values;
}

}  // namespace respmat::testing

#endif
