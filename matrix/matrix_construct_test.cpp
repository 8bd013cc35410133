#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "respmat/matrix.h"
#include "matrix/matrix_test_support.h"
#include "respmat/owners.hpp"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::bits_of;
using respmat::testing::matrix_of;
using respmat::testing::values_of;
using Values = std::vector<double>;

const double kNaNPayload = std::bit_cast<double>(0xfff8000000001234ULL);
const double kSignallingNaN = std::bit_cast<double>(0x7ff0000000000001ULL);
const double kInf = std::numeric_limits<double>::infinity();

TEST(MatrixAllocSized, RowsHoldColsElementsOfTheGivenSize) {
  OwnedMatrix bytes4(matrix_alloc_sized(2, 5, 4));
  ASSERT_TRUE(bytes4);
  EXPECT_EQ(matrix_rows(bytes4.get()), 2);
  EXPECT_EQ(matrix_cols(bytes4.get()), 5);
  for (double *row : {bytes4.get()[0], bytes4.get()[1]}) std::memset(row, 0xab, 20);
  OwnedMatrix bytes8(matrix_alloc_sized(2, 3, 8));
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) bytes8.get()[r][c] = r + c;
  EXPECT_EQ(values_of(bytes8.get()), (Values{0, 1, 2, 1, 2, 3}));
  EXPECT_EQ(matrix_alloc_sized(2, 3, -8), nullptr);
  EXPECT_EQ(matrix_alloc_sized(-2, 3, 8), nullptr);
}

TEST(MatrixAllocZeroed, EveryElementIsPositiveZeroForEveryShape) {
  OwnedMatrix M(matrix_alloc_zeroed(3, 4));
  EXPECT_EQ(bits_of(M.get()), std::vector<std::uint64_t>(12, 0));
  OwnedMatrix no_rows(matrix_alloc_zeroed(0, 4));
  OwnedMatrix no_cols(matrix_alloc_zeroed(4, 0));
  ASSERT_TRUE(no_rows && no_cols);
  EXPECT_EQ(matrix_cols(no_rows.get()), 4);
  EXPECT_EQ(matrix_rows(no_cols.get()), 4);
}

TEST(MatrixAllocHeader, SlotsStartNullAndTakeRowsOfTheirOwn) {
  OwnedMatrix M(matrix_alloc_header(3, 2));
  ASSERT_TRUE(M);
  EXPECT_EQ(matrix_rows(M.get()), 3);
  EXPECT_EQ(matrix_cols(M.get()), 2);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(M.get()[r], nullptr);
  // Released with one slot still empty: the others must not leak.
  M.get()[0] = static_cast<double *>(std::malloc(2 * sizeof(double)));
  M.get()[2] = static_cast<double *>(std::malloc(2 * sizeof(double)));
  EXPECT_EQ(matrix_alloc_header(-1, 2), nullptr);
}

TEST(MatrixZero, OverwritesSignsAndNaNsWithPositiveZero) {
  OwnedMatrix M = matrix_of(2, 2, {-0.0, kNaNPayload, kInf, 5});
  matrix_zero(M.get());
  EXPECT_EQ(bits_of(M.get()), std::vector<std::uint64_t>(4, 0));
  OwnedMatrix no_cols(matrix_alloc(2, 0));
  matrix_zero(no_cols.get());
}

TEST(MatrixClone, ReproducesEveryBitInRowsOfItsOwn) {
  OwnedMatrix M = matrix_of(2, 3, {-0.0, kNaNPayload, kSignallingNaN, -kInf, 5e-324, 1.5});
  OwnedMatrix C(matrix_clone(M.get()));
  ASSERT_TRUE(C);
  EXPECT_EQ(bits_of(C.get()), bits_of(M.get()));
  M.get()[1][2] = 7;
  EXPECT_EQ(C.get()[1][2], 1.5);
  for (auto [rows, cols] : {std::pair{0, 3}, std::pair{3, 0}}) {
    OwnedMatrix empty(matrix_alloc(rows, cols));
    OwnedMatrix copy(matrix_clone(empty.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(matrix_rows(copy.get()), rows);
    EXPECT_EQ(matrix_cols(copy.get()), cols);
  }
}

TEST(MatrixCopy, OverwritesOnlyTheSourcesBlockBitForBit) {
  OwnedMatrix src = matrix_of(2, 2, {1, kNaNPayload, -0.0, 4});
  OwnedMatrix dst = matrix_of(3, 3, {9, 9, 9, 9, 9, 9, 9, 9, 9});
  matrix_copy(dst.get(), src.get());
  const std::vector<std::uint64_t> got = bits_of(dst.get());
  const std::vector<std::uint64_t> want =
      bits_of(matrix_of(3, 3, {1, kNaNPayload, 9, -0.0, 4, 9, 9, 9, 9}).get());
  EXPECT_EQ(got, want);
  matrix_copy(dst.get(), dst.get());
  EXPECT_EQ(bits_of(dst.get()), want);
}

TEST(MatrixTranspose, SwapsShapeAndElements) {
  OwnedMatrix M = matrix_of(2, 3, {1, 2, 3, 4, 5, kNaNPayload});
  OwnedMatrix T(matrix_transpose(M.get()));
  ASSERT_TRUE(T);
  EXPECT_EQ(matrix_rows(T.get()), 3);
  EXPECT_EQ(matrix_cols(T.get()), 2);
  EXPECT_EQ(bits_of(T.get()), bits_of(matrix_of(3, 2, {1, 4, 2, 5, 3, kNaNPayload}).get()));

  OwnedMatrix wide(matrix_alloc(0, 4));
  OwnedMatrix tall(matrix_transpose(wide.get()));
  EXPECT_EQ(matrix_rows(tall.get()), 4);
  EXPECT_EQ(matrix_cols(tall.get()), 0);
  OwnedMatrix back(matrix_transpose(tall.get()));
  EXPECT_EQ(matrix_rows(back.get()), 0);
  EXPECT_EQ(matrix_cols(back.get()), 4);
}

}  // namespace
