#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "respmat/matrix.h"
#include "matrix/matrix_test_support.h"
#include "respmat/owners.hpp"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::matrix_of;
using respmat::testing::values_of;
using Values = std::vector<double>;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(MatrixArith, EachOperationUpdatesTheFirstOperand) {
  OwnedMatrix A = matrix_of(1, 2, {1, 2});
  OwnedMatrix B = matrix_of(1, 2, {10, 20});
  matrix_add_scaled(A.get(), 2.0, B.get());
  EXPECT_EQ(values_of(A.get()), (Values{21, 42}));
  matrix_sub(A.get(), B.get());
  EXPECT_EQ(values_of(A.get()), (Values{11, 22}));
  matrix_mul_elem(A.get(), B.get());
  EXPECT_EQ(values_of(A.get()), (Values{110, 440}));
  matrix_add(A.get(), B.get());
  EXPECT_EQ(values_of(A.get()), (Values{120, 460}));
  matrix_scale(A.get(), 0.5);
  EXPECT_EQ(values_of(A.get()), (Values{60, 230}));
  EXPECT_EQ(values_of(B.get()), (Values{10, 20}));
}

TEST(MatrixArith, ALargerSecondOperandIsReadOnlyInTheFirstsBlock) {
  OwnedMatrix A = matrix_of(1, 2, {1, 2});
  OwnedMatrix B = matrix_of(2, 3, {1, 1, kNaN, kNaN, kNaN, kNaN});
  matrix_add(A.get(), B.get());
  EXPECT_EQ(values_of(A.get()), (Values{2, 3}));
  OwnedMatrix no_rows(matrix_alloc(0, 2));
  OwnedMatrix no_cols(matrix_alloc(2, 0));
  matrix_mul_elem(no_rows.get(), no_rows.get());
  matrix_add_scaled(no_cols.get(), kNaN, B.get());
}

TEST(MatrixArith, AnOperandMayBeCombinedWithItself) {
  OwnedMatrix A = matrix_of(1, 4, {1.5, -3, kInf, kNaN});
  matrix_add(A.get(), A.get());
  EXPECT_EQ(values_of(A.get())[0], 3);
  EXPECT_EQ(values_of(A.get())[1], -6);
  matrix_mul_elem(A.get(), A.get());
  EXPECT_EQ(values_of(A.get())[1], 36);
  matrix_sub(A.get(), A.get());
  const Values v = values_of(A.get());
  EXPECT_EQ(v[0], 0);
  EXPECT_FALSE(std::signbit(v[1]));
  EXPECT_TRUE(std::isnan(v[2]) && std::isnan(v[3]));
}

TEST(MatrixScale, ByZeroKeepsSignsOfFiniteElementsAndTurnsTheRestToNaN) {
  OwnedMatrix A = matrix_of(1, 4, {-3, 3, kInf, kNaN});
  matrix_scale(A.get(), 0.0);
  const Values v = values_of(A.get());
  EXPECT_TRUE(v[0] == 0 && std::signbit(v[0]));
  EXPECT_TRUE(v[1] == 0 && !std::signbit(v[1]));
  EXPECT_TRUE(std::isnan(v[2]) && std::isnan(v[3]));
}

TEST(MatrixArith, RoundsOnceFromExtendedPrecision) {
  // (1 + 2^-30)^2 - 1 keeps its 2^-60 only when the product is not rounded first.
  const double x = 1 + 0x1p-30;
  OwnedMatrix A = matrix_of(1, 1, {-1});
  OwnedMatrix B = matrix_of(1, 1, {x});
  matrix_add_scaled(A.get(), x, B.get());
  EXPECT_EQ(A.get()[0][0], 0x1p-29 + 0x1p-60);
  // 1 + (2^-53 + 2^-78) first rounds to the tie 1 + 2^-53 in long double, which then
  // rounds to even: 1. A plain double sum would round up to 1 + 2^-52.
  OwnedMatrix one = matrix_of(1, 1, {1});
  OwnedMatrix tiny = matrix_of(1, 1, {0x1p-53 + 0x1p-78});
  matrix_add(one.get(), tiny.get());
  EXPECT_EQ(one.get()[0][0], 1.0);
}

}  // namespace
