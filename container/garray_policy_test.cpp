#include "container/garray_policy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using respmat::detail::garray_below_fill;
using respmat::detail::garray_target_capacity;

TEST(GarrayTargetCapacity, DefaultFillLevelValues) {
  const std::uint32_t n[] = {0, 1, 2, 3, 4, 5, 8, 100, 1717986918u};
  const std::uint32_t t[] = {0, 1, 2, 3, 5, 6, 10, 125, 2147483647u};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(garray_target_capacity(60.0f, n[i]), t[i]) << n[i];
}

TEST(GarrayTargetCapacity, ExtendedPrecisionRoundsUpAtSeventyPercent) {
  // Evaluated in double precision throughout, this would be 19.
  EXPECT_EQ(garray_target_capacity(70.0f, 17), 20u);
}

TEST(GarrayTargetCapacity, MatchesTheClosedFormAtEveryWholeFillLevel) {
  for (std::uint32_t f = 1; f <= 100; ++f)
    for (std::uint32_t n = 0; n <= 5000; ++n)
      ASSERT_EQ(garray_target_capacity(static_cast<float>(f), n), 200ull * n / (f + 100))
          << "fill " << f << " n " << n;
  for (std::uint32_t n = 2147483647u / 2; n < 2147483647u / 2 + 1000; ++n)
    ASSERT_EQ(garray_target_capacity(100.0f, n), n);
}

TEST(GarrayTargetCapacity, MatchesTheRationalFormAtAFractionalFillLevel) {
  // 33.5 percent: T(n) = floor(200 n / 133.5) = floor(400 n / 267).
  for (std::uint32_t n = 0; n <= 200000; ++n)
    ASSERT_EQ(garray_target_capacity(33.5f, n), 400ull * n / 267) << n;
}

TEST(GarrayTargetCapacity, StaysInRangeOutsideThePolicy) {
  EXPECT_EQ(garray_target_capacity(std::nanf(""), 10), 0u);
  EXPECT_EQ(garray_target_capacity(-100.0f, 10), 0u);
  EXPECT_EQ(garray_target_capacity(-99.99f, 4000000000u),
            std::numeric_limits<std::uint32_t>::max());
  EXPECT_LT(garray_target_capacity(300.0f, 10), 10u);
}

TEST(GarrayBelowFill, RatioExactlyAtTheFillLevelCountsAsBelow) {
  for (std::uint32_t f = 1; f <= 100; ++f)
    for (std::uint32_t c = 1; c <= 300; ++c)
      for (std::uint32_t n = 0; n < c; ++n)
        ASSERT_EQ(garray_below_fill(static_cast<float>(f), n, c), 100 * n <= f * c)
            << "fill " << f << " count " << n << " capacity " << c;
}

TEST(GarrayBelowFill, FractionalFillLevelUsesExtendedPrecision) {
  // 67 / 200 is exactly 33.5 percent; a double-precision comparison calls it not below.
  EXPECT_TRUE(garray_below_fill(33.5f, 67, 200));
  EXPECT_FALSE(garray_below_fill(33.5f, 68, 200));
  for (std::uint32_t c = 1; c <= 1000; ++c)
    for (std::uint32_t n = 0; n < c; ++n)
      ASSERT_EQ(garray_below_fill(33.5f, n, c), 200 * n <= 67 * c) << n << "/" << c;
}

}  // namespace
