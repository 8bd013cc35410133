#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "respmat/matrix.h"
#include "matrix/matrix_test_support.h"
#include "respmat/owners.hpp"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::matrix_of;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(MatrixInterp, BlendsTheFourNeighbours) {
  OwnedMatrix M = matrix_of(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(matrix_interp(M.get(), 0, 0), 1);
  EXPECT_EQ(matrix_interp(M.get(), 1, 1), 4);
  EXPECT_EQ(matrix_interp(M.get(), 0.5, 0.5), 2.5);
  EXPECT_EQ(matrix_interp(M.get(), 0, 0.25), 1.25);
  EXPECT_EQ(matrix_interp(M.get(), 0.5, 0), 2);
}

TEST(MatrixInterp, NegativePositionsExtrapolateFromTheFirstTwo) {
  OwnedMatrix M = matrix_of(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(matrix_interp(M.get(), -0.5, 0), 0);
  EXPECT_EQ(matrix_interp(M.get(), 0, -1), 0);
  OwnedMatrix one = matrix_of(1, 1, {7});
  EXPECT_EQ(matrix_interp(one.get(), 0.3, 0.6), 7);
  EXPECT_EQ(matrix_interp(one.get(), -2, 3), 7);
}

TEST(MatrixInterp, PositionsPastTheEndGiveTheLastRowOrColumnExactly) {
  OwnedMatrix M = matrix_of(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(matrix_interp(M.get(), 5, 0), 3);
  EXPECT_EQ(matrix_interp(M.get(), 1, 7.5), 4);
  // Far positions would otherwise lose the value to cancellation, or index out of
  // range once their integer part no longer fits.
  OwnedMatrix tenths = matrix_of(2, 2, {0.1, 0.2, 0.3, 0.7});
  const double last_row_middle = matrix_interp(tenths.get(), 1, 0.5);
  for (double far : {1e9, 2147483648.0, 1e300, kInf}) {
    EXPECT_EQ(matrix_interp(tenths.get(), far, 0.5), last_row_middle) << far;
    EXPECT_EQ(matrix_interp(tenths.get(), far, far), 0.7) << far;
    EXPECT_EQ(matrix_interp(tenths.get(), 0, far), 0.2) << far;
  }
}

TEST(MatrixInterp, NaNPositionsAndEmptyMatricesGiveNaN) {
  OwnedMatrix M = matrix_of(2, 2, {1, 2, 3, 4});
  EXPECT_TRUE(std::isnan(matrix_interp(M.get(), kNaN, 0)));
  EXPECT_TRUE(std::isnan(matrix_interp(M.get(), 0, kNaN)));
  EXPECT_TRUE(std::isnan(matrix_interp(matrix_of(0, 3).get(), 0, 0)));
  EXPECT_TRUE(std::isnan(matrix_interp(matrix_of(3, 0).get(), 0, 0)));
}

TEST(MatrixClamps, SmallerOfTwoAndClampsAtZero) {
  EXPECT_EQ(matrix_imin2(-3, 2), -3);
  EXPECT_EQ(matrix_imin2(2, -3), -3);
  EXPECT_EQ(matrix_iclamp0(-5), 0);
  EXPECT_EQ(matrix_iclamp0(7), 7);
  EXPECT_EQ(matrix_dclamp0(-2.5), 0.0);
  EXPECT_EQ(matrix_dclamp0(2.5), 2.5);
  EXPECT_EQ(matrix_dclamp0(kNaN), 0.0);
  EXPECT_TRUE(std::signbit(matrix_dclamp0(-0.0)));
}

}  // namespace
