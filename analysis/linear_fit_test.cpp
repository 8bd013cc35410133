#include "analysis/linear_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using respmat::analysis::fit_linear;

// Points of y = 0.3 sin t - 0.2 cos t plus noise, with weights, handed over in blocks
// of the given sizes (0 and 1 included: blocks smaller than a triangle).
struct Problem {
  std::vector<double> rows;  // sin t, cos t, y, each times the root of the weight
  std::size_t points = 0;

  explicit Problem(std::size_t count, double noise) : points(count) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> angle(0.0, 6.0), root_weight(0.5, 2.0);
    std::normal_distribution<double> error(0.0, noise);
    for (std::size_t p = 0; p < count; ++p) {
      const double t = angle(rng), root = root_weight(rng);
      rows.insert(rows.end(), {std::sin(t) * root, std::cos(t) * root, (0.3 * std::sin(t) - 0.2 * std::cos(t) + error(rng)) * root});
    }
  }

  std::optional<respmat::analysis::LinearFit> fit(const std::vector<std::size_t> &block_sizes, std::string &reason) const {
    std::vector<std::size_t> starts{0};
    for (const std::size_t size : block_sizes) starts.push_back(starts.back() + size);
    return fit_linear(block_sizes.size(), 2, [&](std::size_t b, std::vector<double> &out) {
      out.assign(rows.begin() + static_cast<std::ptrdiff_t>(3 * starts[b]), rows.begin() + static_cast<std::ptrdiff_t>(3 * starts[b + 1]));
    }, true, reason);
  }
};

TEST(LinearFit, AnySplitIntoBlocksGivesTheSameFit) {
  const Problem problem(5000, 1e-3);
  std::string reason;
  const auto whole = problem.fit({5000}, reason);
  ASSERT_TRUE(whole) << reason;
  EXPECT_NEAR(whole->coefficients[0], 0.3, 1e-4);
  EXPECT_NEAR(whole->coefficients[1], -0.2, 1e-4);
  EXPECT_NEAR(whole->chi2_reduced, 1.75e-6, 1e-7);  // the noise's variance times the mean weight
  const std::vector<std::size_t> uneven{0, 1, 2, 3, 997, 0, 1500, 2497};
  for (const std::vector<std::size_t> &sizes : {std::vector<std::size_t>(5000, 1), std::vector<std::size_t>(50, 100), uneven}) {
    const auto split = problem.fit(sizes, reason);
    ASSERT_TRUE(split) << reason;
    EXPECT_EQ(split->points, 5000U);
    for (std::size_t k = 0; k < 2; ++k) EXPECT_NEAR(split->coefficients[k], whole->coefficients[k], 1e-14);
    EXPECT_NEAR(split->chi2_reduced / whole->chi2_reduced, 1.0, 1e-10);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(split->covariance.values[k] / whole->covariance.values[k], 1.0, 1e-10);
  }
  const Problem exact(40, 0.0);
  const auto noiseless = exact.fit({13, 0, 27}, reason);
  ASSERT_TRUE(noiseless) << reason;
  EXPECT_NEAR(noiseless->coefficients[0], 0.3, 1e-15);
  EXPECT_NEAR(noiseless->coefficients[1], -0.2, 1e-15);
}

TEST(LinearFit, RefusesTooFewPointsAndADependentBasis) {
  std::string reason;
  EXPECT_FALSE(Problem(2, 0.0).fit({1, 1}, reason));
  EXPECT_NE(reason.find("too few"), std::string::npos) << reason;
  Problem equal_angles(100, 1e-3);
  for (std::size_t p = 0; p < 100; ++p) {
    equal_angles.rows[3 * p] = 0.6;
    equal_angles.rows[3 * p + 1] = 0.8;
  }
  EXPECT_FALSE(equal_angles.fit({100}, reason));
  EXPECT_NE(reason.find("singular"), std::string::npos) << reason;
}

}  // namespace
