#include "analysis/dense.h"

#include <gtest/gtest.h>

namespace {

using respmat::analysis::Dense;

// Sizes around the tile's, so that whole and partial tiles, on and off the diagonal, are met.
TEST(Dense, TransposesInPlaceAsACopyDoes) {
  for (const auto &[rows, cols] : {std::pair{1, 1}, {31, 31}, {32, 32}, {33, 33}, {70, 70}, {3, 70}, {65, 2}}) {
    Dense a(rows, cols);
    for (std::size_t k = 0; k < a.values.size(); ++k) a.values[k] = static_cast<double>(k);
    const Dense copy = respmat::analysis::transposed(a);
    respmat::analysis::transpose(a);
    ASSERT_EQ(a.rows, cols);
    ASSERT_EQ(a.cols, rows);
    for (std::int32_t i = 0; i < cols; ++i)
      for (std::int32_t j = 0; j < rows; ++j) ASSERT_EQ(a.at(i, j), static_cast<double>(j * cols + i)) << rows << "x" << cols;
    EXPECT_EQ(a.values, copy.values);
  }
}

}  // namespace
