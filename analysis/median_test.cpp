#include "analysis/median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <vector>

namespace {

using respmat::analysis::detail::masked_median;
using respmat::analysis::detail::masked_median_distance;

// The straightforward median, from a sorted copy.
double sorted_median(std::vector<double> values) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Sets whose middle values share a histogram bin, straddle zero, repeat or span the
// whole range of doubles; sizes on both sides of the library's block of work.
TEST(MaskedMedian, EqualsTheMedianOfASortedCopy) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> noise(0.0, 1e-3);
  std::uniform_int_distribution<int> coin(0, 3);
  const std::vector<std::vector<double>> pools = {{1.0}, {-0.0, 0.0}, {2.0, 2.0, 2.0}, {1e-300, -1e300, 5e-324, 3.0}};
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{1000},
                              (std::size_t{1} << 20) + 3}) {
    for (int kind = 0; kind < 5; ++kind) {
      std::vector<double> values(n);
      std::vector<unsigned char> included(n);
      for (std::size_t k = 0; k < n; ++k) {
        if (kind == 4) {
          values[k] = noise(rng);
        } else {
          const std::vector<double> &pool = pools[static_cast<std::size_t>(kind)];
          values[k] = pool[rng() % pool.size()] * (1.0 + static_cast<double>(rng() % 3) * 1e-16);
        }
        included[k] = coin(rng) != 0;
      }
      std::vector<double> kept, distances;
      for (std::size_t k = 0; k < n; ++k)
        if (included[k]) kept.push_back(values[k]);
      const double centre = masked_median(values.data(), included.data(), n);
      const double expected = sorted_median(kept);
      ASSERT_EQ(std::isnan(centre), std::isnan(expected)) << n << " " << kind;
      if (kept.empty()) continue;
      ASSERT_EQ(centre, expected) << n << " " << kind;
      for (const double v : kept) distances.push_back(std::fabs(v - centre));
      ASSERT_EQ(masked_median_distance(values.data(), included.data(), n, centre), sorted_median(distances)) << n;
    }
  }
}

}  // namespace
