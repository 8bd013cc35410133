#include "analysis/correction.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "analysis/bounded_least_squares.h"

namespace respmat::analysis {
namespace {

using Index = std::int32_t;

void require(bool condition, const std::string &what) {
  if (!condition) throw std::invalid_argument(what);
}

void require_finite(std::span<const double> values, const char *name) {
  for (std::size_t k = 0; k < values.size(); ++k)
    require(std::isfinite(values[k]), std::string(name) + "[" + std::to_string(k) + "] is not a finite number");
}

// The indices of [0, count) that are not excluded.
std::vector<Index> in_use(Index count, const std::vector<Index> &excluded, const char *name) {
  std::vector<bool> out(static_cast<std::size_t>(count), false);
  for (const Index k : excluded) {
    require(k >= 0 && k < count, std::string(name) + " index " + std::to_string(k) + " is not below " +
                                     std::to_string(count));
    out[static_cast<std::size_t>(k)] = true;
  }
  std::vector<Index> kept;
  for (Index k = 0; k < count; ++k)
    if (!out[static_cast<std::size_t>(k)]) kept.push_back(k);
  return kept;
}

void validate(const Dense &response, const std::vector<double> &orbit, const CorrectionSettings &settings) {
  require(response.rows > 0 && response.cols > 0, "the response matrix is empty");
  require_finite(response.values, "response");
  require(orbit.size() == static_cast<std::size_t>(response.rows),
          "the orbit has " + std::to_string(orbit.size()) + " values, but the response matrix has " +
              std::to_string(response.rows) + " monitors");
  require_finite(orbit, "orbit");
  require(settings.weights.empty() || settings.weights.size() == orbit.size(),
          "there are " + std::to_string(settings.weights.size()) + " weights for " + std::to_string(orbit.size()) +
              " monitors");
  require_finite(settings.weights, "weights");
  require(std::all_of(settings.weights.begin(), settings.weights.end(), [](double w) { return w >= 0.0; }),
          "a weight is negative");
  require(std::isfinite(settings.tikhonov) && settings.tikhonov >= 0.0, "the Tikhonov α must be a number ≥ 0");
  require(!(settings.singular_values && settings.rcond), "give the number of singular values or rcond, not both");
  require(!settings.singular_values || *settings.singular_values >= 0, "the number of singular values is negative");
  require(!settings.rcond || (*settings.rcond >= 0.0 && *settings.rcond < 1.0),
          "rcond must be a number in [0, 1): singular values above rcond times the largest are kept");
  require(settings.limits.empty() || !(settings.singular_values || settings.rcond),
          "limits take no singular-value cut: the bounded problem is solved whole");
  require(settings.limits.empty() || settings.limits.size() == static_cast<std::size_t>(response.cols),
          "there are " + std::to_string(settings.limits.size()) + " limits for " + std::to_string(response.cols) +
              " correctors");
  for (std::size_t k = 0; k < settings.limits.size(); ++k) {
    const ChangeLimits &l = settings.limits[k];
    require(!std::isnan(l.lower) && !std::isnan(l.upper), "limits[" + std::to_string(k) + "] is not a number");
    require(l.lower <= l.upper, "limits[" + std::to_string(k) + "]: lower is above upper");
  }
}

// The problem on the monitors and correctors in use: W R and W x.
struct WeightedProblem {
  Dense matrix;
  std::vector<double> orbit;
};

double weight_of(const std::vector<double> &weights, Index monitor) {
  return weights.empty() ? 1.0 : weights[static_cast<std::size_t>(monitor)];
}

// W x over the monitors in use.
std::vector<double> weighted_orbit(const std::vector<double> &orbit, const std::vector<double> &weights,
                                   const std::vector<Index> &monitors) {
  std::vector<double> weighted;
  weighted.reserve(monitors.size());
  for (const Index monitor : monitors)
    weighted.push_back(weight_of(weights, monitor) * orbit[static_cast<std::size_t>(monitor)]);
  return weighted;
}

WeightedProblem weighted_problem(const Dense &response, const std::vector<double> &orbit,
                                 const std::vector<double> &weights, const std::vector<Index> &monitors,
                                 const std::vector<Index> &correctors) {
  WeightedProblem problem{Dense(static_cast<Index>(monitors.size()), static_cast<Index>(correctors.size())),
                          weighted_orbit(orbit, weights, monitors)};
  for (Index i = 0; i < problem.matrix.rows; ++i) {
    const Index monitor = monitors[static_cast<std::size_t>(i)];
    const double w = weight_of(weights, monitor);
    for (Index j = 0; j < problem.matrix.cols; ++j)
      problem.matrix.at(i, j) = w * response.at(monitor, correctors[static_cast<std::size_t>(j)]);
  }
  return problem;
}

// W R over the monitors and correctors in use, column by column, as LAPACK's
// least-squares solver takes it.
std::vector<double> weighted_columns(const Dense &response, const std::vector<double> &weights,
                                     const std::vector<Index> &monitors, const std::vector<Index> &correctors) {
  std::vector<double> columns;
  columns.reserve(monitors.size() * correctors.size());
  for (const Index corrector : correctors)
    for (const Index monitor : monitors)
      columns.push_back(weight_of(weights, monitor) * response.at(monitor, corrector));
  return columns;
}

// The cut relative to the largest singular value: rcond, by default max(rows, cols) ε.
double relative_cut(const Correction &shape, const CorrectionSettings &settings) {
  return settings.rcond.value_or(static_cast<double>(std::max(shape.rows, shape.cols)) *
                                 std::numeric_limits<double>::epsilon());
}

// The same cut as LAPACK's least-squares solver takes it: it reads a cut of 0 (or
// of 1 and more) as machine precision, so "keep every non-zero value" goes in as the
// least positive double, below which only zeros lie once multiplied by s₁.
double least_squares_cut(const Correction &shape, const CorrectionSettings &settings) {
  const double cut = relative_cut(shape, settings);
  return cut > 0.0 ? cut : std::numeric_limits<double>::denorm_min();
}

// How many of the singular values (largest first) the correction keeps; never a zero one.
Index kept_count(const std::vector<double> &s, const Correction &shape, const CorrectionSettings &settings) {
  const double largest = s.empty() ? 0.0 : s.front();
  const double threshold = relative_cut(shape, settings) * largest;
  Index kept = 0;
  const Index most = settings.singular_values ? *settings.singular_values : static_cast<Index>(s.size());
  while (kept < std::min(most, static_cast<Index>(s.size())) && s[static_cast<std::size_t>(kept)] > 0.0 &&
         (settings.singular_values || s[static_cast<std::size_t>(kept)] > threshold))
    ++kept;
  return kept;
}

// Δθ = −V diag(f) Uᵀ W x over the kept singular values, with f = s / (s² + α²).
std::vector<double> filtered_change(const Svd &svd, Index kept, double alpha, const std::vector<double> &orbit) {
  const Index rows = svd.u.rows, k = svd.u.cols, cols = svd.vt.cols;
  std::vector<double> coefficients(static_cast<std::size_t>(k), 0.0);
  if (kept > 0)
    cblas_dgemv(CblasRowMajor, CblasTrans, rows, kept, 1.0, svd.u.values.data(), k, orbit.data(), 1, 0.0,
                coefficients.data(), 1);
  for (Index q = 0; q < kept; ++q) {
    const double s = svd.s[static_cast<std::size_t>(q)];
    // s / (s² + α²), written so that a tiny s, whose square would vanish, still gives 1/s.
    coefficients[static_cast<std::size_t>(q)] *= -1.0 / (s + alpha * (alpha / s));
  }
  std::vector<double> change(static_cast<std::size_t>(cols), 0.0);
  if (kept > 0)
    cblas_dgemv(CblasRowMajor, CblasTrans, kept, cols, 1.0, svd.vt.values.data(), cols, coefficients.data(), 1, 0.0,
                change.data(), 1);
  return change;
}

double rms_at(const std::vector<double> &orbit, const std::vector<Index> &monitors) {
  double sum = 0.0;
  for (const Index i : monitors) sum += orbit[static_cast<std::size_t>(i)] * orbit[static_cast<std::size_t>(i)];
  return std::sqrt(sum / static_cast<double>(monitors.size()));
}

}  // namespace

Correction correct_orbit(const Dense &response, const std::vector<double> &orbit, const CorrectionSettings &settings) {
  validate(response, orbit, settings);
  const std::vector<Index> monitors = in_use(response.rows, settings.excluded_monitors, "monitor");
  const std::vector<Index> correctors = in_use(response.cols, settings.excluded_correctors, "corrector");
  require(!monitors.empty(), "every monitor is excluded");
  require(!correctors.empty(), "every corrector is excluded");
  Correction result;
  result.rows = static_cast<Index>(monitors.size());
  result.cols = static_cast<Index>(correctors.size());
  const bool bounded = !settings.limits.empty();
  std::vector<double> change;
  if (!bounded && !settings.singular_values && settings.tikhonov == 0.0) {
    // The pseudo-inverse with a cut needs no singular vectors: a least-squares solver
    // gives its answer in a fraction of their memory.
    MinimumNormSolution solution;
    if (!minimum_norm_solution(result.rows, result.cols,
                               weighted_columns(response, settings.weights, monitors, correctors),
                               weighted_orbit(orbit, settings.weights, monitors), least_squares_cut(result, settings),
                               solution))
      throw std::runtime_error("the singular value decomposition did not converge");
    result.kept = solution.rank;
    result.singular_values = std::move(solution.s);
    for (const double x : solution.x) change.push_back(-x);
  } else {
    WeightedProblem problem = weighted_problem(response, orbit, settings.weights, monitors, correctors);
    Svd svd;
    // Without limits the weighted matrix is needed no more: LAPACK works in its storage.
    if (!singular_value_decomposition(bounded ? Dense(problem.matrix) : std::move(problem.matrix), svd))
      throw std::runtime_error("the singular value decomposition did not converge");
    result.kept = kept_count(svd.s, result, settings);
    change = filtered_change(svd, result.kept, settings.tikhonov, problem.orbit);
    if (bounded) {
      std::vector<ChangeLimits> limits;
      for (const Index j : correctors) limits.push_back(settings.limits[static_cast<std::size_t>(j)]);
      change = detail::bounded_least_squares(std::move(problem.matrix), problem.orbit, settings.tikhonov,
                                             std::move(change), limits);
    }
    result.singular_values = std::move(svd.s);
    // The cut gave only the start; the bounded answer takes every singular value.
    if (bounded) {
      result.bounded = true;
      result.kept = 0;
    }
  }
  if (result.kept > 0)
    result.condition_number = result.singular_values.front() / result.singular_values[static_cast<std::size_t>(result.kept - 1)];

  result.change.assign(static_cast<std::size_t>(response.cols), 0.0);
  for (std::size_t j = 0; j < correctors.size(); ++j) result.change[static_cast<std::size_t>(correctors[j])] = change[j];
  result.predicted = orbit;
  cblas_dgemv(CblasRowMajor, CblasNoTrans, response.rows, response.cols, 1.0, response.values.data(), response.cols,
              result.change.data(), 1, 1.0, result.predicted.data(), 1);
  result.rms_before = rms_at(orbit, monitors);
  result.rms_after_predicted = rms_at(result.predicted, monitors);
  for (const double c : result.change) result.max_change = std::max(result.max_change, std::abs(c));
  return result;
}

void set_linear_algebra_threads(int threads) {
  if (threads > 0) openblas_set_num_threads(threads);
}

std::vector<double> weights_of_uncertainties(const std::vector<double> &sigma) {
  std::vector<double> weights;
  weights.reserve(sigma.size());
  for (const double s : sigma) {
    if (!(s > 0.0) || !std::isfinite(s)) throw std::invalid_argument("an uncertainty must be a finite number above 0");
    weights.push_back(1.0 / s);
    if (!std::isfinite(weights.back()))
      throw std::invalid_argument("an uncertainty is so small that its weight 1/sigma is past the range of doubles");
  }
  return weights;
}

}  // namespace respmat::analysis
