#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "respmat/matrix.h"
#include "matrix/matrix_test_support.h"
#include "respmat/owners.hpp"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::matrix_of;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(MatrixReduce, SmallMatrixGivesEveryFigure) {
  OwnedMatrix M = matrix_of(2, 2, {3, -7, 5, 1});
  EXPECT_EQ(matrix_max(M.get()), 5);
  EXPECT_EQ(matrix_min(M.get()), -7);
  EXPECT_EQ(matrix_max_abs(M.get()), 7);
  EXPECT_EQ(matrix_sum(M.get()), 2);
  EXPECT_EQ(matrix_mean(M.get()), 0.5);
  EXPECT_EQ(matrix_sum_sq(M.get()), 84);
  EXPECT_EQ(matrix_norm(M.get()), std::sqrt(84.0));
  EXPECT_EQ(matrix_rms(M.get()), std::sqrt(21.0));

  OwnedMatrix one = matrix_of(1, 1, {-2.5});
  EXPECT_EQ(matrix_max(one.get()), -2.5);
  EXPECT_EQ(matrix_min(one.get()), -2.5);
  EXPECT_EQ(matrix_max_abs(one.get()), 2.5);
}

TEST(MatrixReduce, EmptyMatricesGiveZeroTotalsAndNaNAverages) {
  for (auto [rows, cols] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{0, 0}}) {
    OwnedMatrix M(matrix_alloc(rows, cols));
    EXPECT_EQ(matrix_sum(M.get()), 0);
    EXPECT_EQ(matrix_sum_sq(M.get()), 0);
    EXPECT_EQ(matrix_norm(M.get()), 0);
    EXPECT_TRUE(std::isnan(matrix_mean(M.get())));
    EXPECT_TRUE(std::isnan(matrix_rms(M.get())));
    // There is no first element to seed the extremes with.
    EXPECT_TRUE(std::isnan(matrix_max(M.get())));
    EXPECT_TRUE(std::isnan(matrix_min(M.get())));
    EXPECT_TRUE(std::isnan(matrix_max_abs(M.get())));
  }
}

TEST(MatrixDmax2, FailedComparisonsAndTiesFollowTheGreaterOrEqualTest) {
  EXPECT_TRUE(std::isnan(matrix_dmax2(1, kNaN)));
  EXPECT_EQ(matrix_dmax2(kNaN, 1), 1);
  EXPECT_EQ(matrix_dmax2(2, 3), 3);
  EXPECT_TRUE(std::signbit(matrix_dmax2(-0.0, 0.0)));
  EXPECT_FALSE(std::signbit(matrix_dmax2(0.0, -0.0)));
}

TEST(MatrixReduce, ANaNIsKeptOnlyUntilTheNextElementVisited) {
  // Visited from the last element to the first, after the seed M[0][0].
  EXPECT_EQ(matrix_max(matrix_of(1, 3, {0, 1, kNaN}).get()), 1);
  EXPECT_EQ(matrix_max(matrix_of(1, 3, {1, kNaN, 5}).get()), 1);
  EXPECT_TRUE(std::isnan(matrix_max(matrix_of(1, 3, {kNaN, 1, 2}).get())));
  EXPECT_EQ(matrix_max(matrix_of(2, 2, {4, kNaN, 9, 2}).get()), 4);
  EXPECT_EQ(matrix_min(matrix_of(1, 3, {0, -1, kNaN}).get()), -1);
  EXPECT_EQ(matrix_min(matrix_of(1, 3, {3, kNaN, -5}).get()), 3);
  EXPECT_EQ(matrix_max_abs(matrix_of(1, 3, {-1, kNaN, 5}).get()), 1);
  EXPECT_TRUE(std::isnan(matrix_max_abs(matrix_of(1, 2, {kNaN, -2}).get())));
}

TEST(MatrixReduce, TotalsCarryExtendedPrecisionAndRange) {
  // From the last element: -1 + 2^-60 + 1 keeps the 2^-60 that a double total loses.
  OwnedMatrix M = matrix_of(1, 3, {1, 0x1p-60, -1});
  EXPECT_EQ(matrix_sum(M.get()), 0x1p-60);
  EXPECT_EQ(matrix_mean(M.get()), 0x1p-60 / 3);
  // Squares near 2^1400 overflow a double but not the running total.
  OwnedMatrix big = matrix_of(1, 2, {0x3p700, -0x4p700});
  EXPECT_EQ(matrix_norm(big.get()), 0x5p700);
  EXPECT_EQ(matrix_sum_sq(big.get()), std::numeric_limits<double>::infinity());
  OwnedMatrix even = matrix_of(2, 2, {0x1p700, -0x1p700, 0x1p700, 0x1p700});
  EXPECT_EQ(matrix_rms(even.get()), 0x1p700);
}

}  // namespace
