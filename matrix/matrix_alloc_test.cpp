#include <gtest/gtest.h>

#include <cstdint>

#include "respmat/matrix.h"
#include "respmat/owners.hpp"

namespace {

using respmat::OwnedMatrix;

TEST(MatrixAlloc, StoresBothHeaderWordsAndAlignsRowPointers) {
  OwnedMatrix M(matrix_alloc(3, 4));
  ASSERT_TRUE(M);
  EXPECT_EQ(matrix_rows(M.get()), 3);
  EXPECT_EQ(matrix_cols(M.get()), 4);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(M.get()) % alignof(double *), 0u);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) M.get()[r][c] = r * 10 + c;  // every element is writable
  EXPECT_EQ(M.get()[2][3], 23.0);
}

TEST(MatrixAlloc, EmptyShapesAreRealMatrices) {
  OwnedMatrix no_rows(matrix_alloc(0, 5));
  ASSERT_TRUE(no_rows);
  EXPECT_EQ(matrix_rows(no_rows.get()), 0);
  EXPECT_EQ(matrix_cols(no_rows.get()), 5);
  OwnedMatrix no_cols(matrix_alloc(2, 0));
  ASSERT_TRUE(no_cols);
  EXPECT_NE(no_cols.get()[1], nullptr);
}

TEST(MatrixAlloc, RefusesNegativeShapes) {
  EXPECT_EQ(matrix_alloc(-1, 2), nullptr);
  EXPECT_EQ(matrix_alloc(2, -1), nullptr);
  matrix_free(nullptr);
}

}  // namespace
