#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "respmat/matrix.h"
#include "matrix/matrix_test_support.h"
#include "respmat/owners.hpp"

namespace {

using respmat::OwnedMatrix;
using respmat::testing::matrix_of;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string printed(const Matrix M, const char *fmt) {
  testing::internal::CaptureStdout();
  matrix_print(M, fmt);
  return testing::internal::GetCapturedStdout();
}

std::string mapped(const Matrix M, double x) {
  testing::internal::CaptureStdout();
  matrix_print_map(M, x);
  return testing::internal::GetCapturedStdout();
}

TEST(MatrixPrint, WritesRowsWithTheCallersFormatAndAFinalEmptyLine) {
  EXPECT_EQ(printed(matrix_of(2, 2, {1, 2, 3, 4}).get(), "%lg"), "12\n34\n\n");
  EXPECT_EQ(printed(matrix_of(1, 2, {0.5, -1}).get(), " %6.2f"), "   0.50  -1.00\n\n");
  EXPECT_EQ(printed(matrix_of(0, 3).get(), "%lg"), "\n");
  EXPECT_EQ(printed(matrix_of(2, 0).get(), "%lg"), "\n\n\n");
}

TEST(MatrixPrintMap, ClassifiesByThresholdThenSign) {
  EXPECT_EQ(mapped(matrix_of(2, 3, {0.25, -1, 3, 0, -4, 1.5}).get(), 0.5), ".-*\n.*+\n\n");
  // At the boundaries: |v| == x is not below it, and |v| * x == 1 is not above 1.
  EXPECT_EQ(mapped(matrix_of(1, 3, {0.5, 2, -2}).get(), 0.5), "++-\n\n");
  EXPECT_EQ(mapped(matrix_of(1, 3, {kInf, -kInf, kNaN}).get(), 0.5), "**#\n\n");
  EXPECT_EQ(mapped(matrix_of(0, 3).get(), 0.5), "\n");
  EXPECT_EQ(mapped(matrix_of(2, 0).get(), 0.5), "\n\n\n");
}

TEST(MatrixPrintMap, ProductIsComparedBeforeRoundingToDouble) {
  // 10 * 0.1 rounds to exactly 1 in double but exceeds it in long double.
  EXPECT_EQ(mapped(matrix_of(1, 2, {10, -10}).get(), 0.1), "**\n\n");
}

TEST(MatrixPrintMap, NonPositiveThresholdShowsOnlySignsAndZerosAsHash) {
  for (double x : {0.0, -1.0})
    EXPECT_EQ(mapped(matrix_of(1, 5, {0, -0.0, 3, -3, kNaN}).get(), x), "##+-#\n\n");
}

}  // namespace
