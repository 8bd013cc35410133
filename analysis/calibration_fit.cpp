#include "analysis/calibration_fit.h"

#include <ceres/ceres.h>
#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "analysis/dense.h"
#include "analysis/quiet_solver_log.h"
#include "base/stop_request.h"

namespace respmat::analysis {
namespace {

constexpr double kNotFitted = std::numeric_limits<double>::quiet_NaN();

// One measured entry: sqrt(w) (value - s_i exp(u_i) c_j f sin(theta + delta_j)), with
// the gain as its sign s_i, fixed before the fit, and the logarithm u_i of its size,
// so that it never crosses zero.
class EntryResidual final : public ceres::SizedCostFunction<1, 1, 1, 1> {
 public:
  EntryResidual(const CalibrationPoint &point, double sign)
      : root_weight_(std::sqrt(point.weight)), value_(point.value), factor_(point.factor), angle_(point.angle),
        sign_(sign) {}

  bool Evaluate(double const *const *parameters, double *residuals, double **jacobians) const override {
    const double gain = sign_ * std::exp(parameters[0][0]), strength = parameters[1][0], offset = parameters[2][0];
    const double sine = std::sin(angle_ + offset), cosine = std::cos(angle_ + offset);
    const double predicted = gain * strength * factor_ * sine;
    residuals[0] = root_weight_ * (value_ - predicted);
    if (jacobians == nullptr) return true;
    if (jacobians[0] != nullptr) jacobians[0][0] = -root_weight_ * predicted;
    if (jacobians[1] != nullptr) jacobians[1][0] = -root_weight_ * gain * factor_ * sine;
    if (jacobians[2] != nullptr) jacobians[2][0] = -root_weight_ * gain * strength * factor_ * cosine;
    return true;
  }

 private:
  double root_weight_, value_, factor_, angle_, sign_;
};

// The sign of each monitor's gain: that of the monitor's agreement with the starting
// model, Σ_j value f sin(theta + offset). An inverted monitor (a cable swapped) reads
// against the model; a gain held positive could only shrink towards zero there.
std::vector<double> gain_signs(const std::vector<CalibrationPoint> &points, std::int32_t monitors, double offset) {
  std::vector<double> agreement(static_cast<std::size_t>(monitors), 0.0);
  for (const CalibrationPoint &p : points)
    agreement[static_cast<std::size_t>(p.monitor)] += p.weight * p.value * p.factor * std::sin(p.angle + offset);
  std::vector<double> signs;
  for (const double a : agreement) signs.push_back(a < 0.0 ? -1.0 : 1.0);
  return signs;
}


// Ends the solve between iterations once a stop is requested.
class StopOnRequest final : public ceres::IterationCallback {
 public:
  ceres::CallbackReturnType operator()(const ceres::IterationSummary &) override {
    return stop_request() != 0 ? ceres::SOLVER_ABORT : ceres::SOLVER_CONTINUE;
  }
};

// (JᵀJ)⁻¹ of the free parameters at the solution, lower triangle: the covariance of
// unit weights. JᵀJ is dense in the gains, a few thousand rows for the largest
// machines, and LAPACK's Cholesky factorisation inverts it; a condition worse than
// Ceres' own limit for its covariances is a singular problem. Null then.
std::optional<Dense> inverse_normal_matrix(const std::vector<CalibrationPoint> &points, bool with_offsets,
                                           const std::vector<double> &signs,
                                           std::span<const double> log_gains,
                                           std::span<const double> strengths, std::span<const double> offsets,
                                           const std::vector<std::int32_t> &gain_index,
                                           const std::vector<std::int32_t> &corrector_index, std::int32_t size) {
  constexpr double kLeastReciprocalCondition = 1e-14;
  Dense normal(size, size);
  for (const CalibrationPoint &p : points) {
    const auto j = static_cast<std::size_t>(p.corrector);
    if (corrector_index[j] < 0) continue;  // left out
    const auto i = static_cast<std::size_t>(p.monitor);
    const double *parameters[] = {&log_gains[i], &strengths[j], &offsets[j]};
    double residual = 0.0, d_gain = 0.0, d_strength = 0.0, d_offset = 0.0;
    double *jacobians[] = {&d_gain, &d_strength, &d_offset};
    static_cast<void>(EntryResidual(p, signs[i]).Evaluate(parameters, &residual, jacobians));
    const std::int32_t index[] = {gain_index[i], corrector_index[j], with_offsets ? corrector_index[j] + 1 : -1};
    const double derivative[] = {d_gain, d_strength, d_offset};
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b)
        if (index[a] >= 0 && index[b] >= 0 && index[a] >= index[b])
          normal.at(index[a], index[b]) += derivative[a] * derivative[b];
  }
  // Row-major lower is LAPACK's column-major upper.
  double norm = 0.0;  // the 1-norm, from the lower triangle
  for (std::int32_t k = 0; k < size; ++k) {
    double column = 0.0;
    for (std::int32_t r = 0; r < size; ++r) column += std::fabs(r >= k ? normal.at(r, k) : normal.at(k, r));
    norm = std::max(norm, column);
  }
  double reciprocal_condition = 0.0;
  if (LAPACKE_dpotrf(LAPACK_COL_MAJOR, 'U', size, normal.values.data(), size) != 0 ||
      LAPACKE_dpocon(LAPACK_COL_MAJOR, 'U', size, normal.values.data(), size, norm, &reciprocal_condition) != 0 ||
      !(reciprocal_condition >= kLeastReciprocalCondition) ||
      LAPACKE_dpotri(LAPACK_COL_MAJOR, 'U', size, normal.values.data(), size) != 0)
    return std::nullopt;
  return normal;
}

}  // namespace

std::optional<CalibrationFit> fit_calibrations(const std::vector<CalibrationPoint> &points, std::int32_t monitors,
                                               std::int32_t correctors, double amplitude, double offset,
                                               bool with_offsets, bool weighted, std::string &reason) {
  const QuietSolverLog quiet;
  CalibrationFit fit;
  const std::vector<double> signs = gain_signs(points, monitors, offset);
  for (std::int32_t i = 0; i < monitors; ++i)
    if (signs[static_cast<std::size_t>(i)] < 0.0) fit.inverted.push_back(i);
  // A corrector needs at least as many monitors as its unknowns.
  const int per_fitted_corrector = with_offsets ? 2 : 1;
  std::vector<int> per_corrector(static_cast<std::size_t>(correctors));
  for (const CalibrationPoint &p : points) ++per_corrector[static_cast<std::size_t>(p.corrector)];
  for (std::int32_t j = 0; j < correctors; ++j)
    if (per_corrector[static_cast<std::size_t>(j)] < per_fitted_corrector) fit.left_out.push_back(j);

  // Every parameter in one allocation, offsets, strengths, then log gains: Ceres orders
  // the covariance's rows by the parameters' addresses, so separate allocations would
  // leave the errors' last bits to wherever the heap put each. This order is the one
  // the separate allocations used to get, so earlier results stand.
  const auto monitor_count = static_cast<std::size_t>(monitors), corrector_count = static_cast<std::size_t>(correctors);
  std::vector<double> parameters(monitor_count + 2 * corrector_count, 0.0);
  const std::span<double> offsets = std::span(parameters).first(corrector_count);
  const std::span<double> strengths = std::span(parameters).subspan(corrector_count, corrector_count);
  const std::span<double> log_gains = std::span(parameters).last(monitor_count);
  std::fill(strengths.begin(), strengths.end(), amplitude);
  std::fill(offsets.begin(), offsets.end(), offset);
  ceres::Problem problem;
  std::size_t used = 0;
  std::vector<std::size_t> per_monitor(static_cast<std::size_t>(monitors));
  for (const CalibrationPoint &p : points) {
    if (per_corrector[static_cast<std::size_t>(p.corrector)] < per_fitted_corrector) continue;
    // The problem takes ownership of the cost function.
    problem.AddResidualBlock(std::make_unique<EntryResidual>(p, signs[static_cast<std::size_t>(p.monitor)]).release(),
                             nullptr, &log_gains[static_cast<std::size_t>(p.monitor)],
                             &strengths[static_cast<std::size_t>(p.corrector)],
                             &offsets[static_cast<std::size_t>(p.corrector)]);
    if (!with_offsets) problem.SetParameterBlockConstant(&offsets[static_cast<std::size_t>(p.corrector)]);
    ++per_monitor[static_cast<std::size_t>(p.monitor)];
    ++used;
  }
  const std::size_t unknowns =
      static_cast<std::size_t>(monitors - 1) +
      static_cast<std::size_t>(per_fitted_corrector) * (static_cast<std::size_t>(correctors) - fit.left_out.size());
  if (used <= unknowns) {
    reason = "has " + std::to_string(used) + " points the model reaches, too few to fit " + std::to_string(unknowns) +
             " calibrations";
    return std::nullopt;
  }
  for (std::int32_t i = 0; i < monitors; ++i)
    if (per_monitor[static_cast<std::size_t>(i)] == 0) {
      reason = "leaves monitor " + std::to_string(i) + " without a reachable entry, so its gain cannot be fitted";
      return std::nullopt;
    }
  // The gauge: one gain held while solving, all gains rescaled afterwards. The monitor
  // that sees the most correctors holds it. One that sees a single corrector would not:
  // every other gain could shrink and every strength grow without end, that monitor's
  // one entry kept by its corrector's offset, and a noisy fit would never converge.
  const auto anchor = static_cast<std::int32_t>(std::max_element(per_monitor.begin(), per_monitor.end()) -
                                                per_monitor.begin());
  problem.SetParameterBlockConstant(&log_gains[static_cast<std::size_t>(anchor)]);

  ceres::Solver::Options options;
  options.linear_solver_type = ceres::SPARSE_NORMAL_CHOLESKY;
  options.max_num_iterations = 200;
  options.function_tolerance = 1e-15;
  options.gradient_tolerance = 1e-15;
  options.parameter_tolerance = 1e-14;
  options.num_threads = 2;
  StopOnRequest stops;
  options.callbacks.push_back(&stops);
  ceres::Solver::Summary summary;
  const LongWork looks_for_stops;
  ceres::Solve(options, &problem, &summary);
  stop_if_requested();
  fit.iterations = static_cast<int>(summary.iterations.size());
  fit.converged = summary.termination_type == ceres::CONVERGENCE;
  if (!fit.converged) {
    reason = "does not converge: " + summary.message;
    return std::nullopt;
  }
  fit.points = used;
  fit.chi2_reduced = 2.0 * summary.final_cost / static_cast<double>(used - unknowns);

  // Errors from the covariance of the problem as solved, carried to the gauge of
  // sum log g = 0: log g'_i = u_i - mean(u), log c'_j = log c_j + mean(u).
  std::vector<std::int32_t> gain_index(monitor_count, -1), corrector_index(corrector_count, -1);
  std::int32_t free_parameters = 0;
  for (std::int32_t i = 0; i < monitors; ++i)
    if (i != anchor) gain_index[static_cast<std::size_t>(i)] = free_parameters++;
  for (std::int32_t j = 0; j < correctors; ++j)
    if (per_corrector[static_cast<std::size_t>(j)] >= per_fitted_corrector) {
      corrector_index[static_cast<std::size_t>(j)] = free_parameters;
      free_parameters += per_fitted_corrector;  // the strength, then the offset
    }
  const std::optional<Dense> inverse = inverse_normal_matrix(points, with_offsets, signs, log_gains, strengths, offsets,
                                                             gain_index, corrector_index, free_parameters);
  if (!inverse) {
    reason = "gives a singular problem: the points do not tell the calibrations apart";
    return std::nullopt;
  }
  const double scale = weighted ? 1.0 : fit.chi2_reduced;
  // The covariance of two free parameters, by index.
  const auto cov = [&](std::int32_t a, std::int32_t b) { return inverse->at(std::max(a, b), std::min(a, b)) * scale; };
  const double n = monitors;
  std::vector<double> with_mean(static_cast<std::size_t>(free_parameters), 0.0);  // cov(x_p, mean u)
  for (std::int32_t p = 0; p < free_parameters; ++p)
    for (std::int32_t k = 0; k < monitors; ++k)
      if (k != anchor) with_mean[static_cast<std::size_t>(p)] += cov(p, gain_index[static_cast<std::size_t>(k)]) / n;
  double mean_variance = 0.0;
  for (std::int32_t i = 0; i < monitors; ++i)
    for (std::int32_t k = 0; k < monitors; ++k) {
      if (i == anchor || k == anchor) continue;
      mean_variance += cov(gain_index[static_cast<std::size_t>(i)], gain_index[static_cast<std::size_t>(k)]) / (n * n);
    }
  double mean = 0.0;
  for (const double u : log_gains) mean += u / n;

  // Each calibration as reported, to first order: a free parameter x of the solve
  // (none for the anchor's gain) and the mean log gain m, moving it by
  // slope·(dx + mean_slope·dm). Gains g_i = s_i exp(u_i - m); strengths c_j exp(m);
  // offsets as solved.
  struct Reported {
    std::int32_t free;
    double slope, mean_slope;
  };
  std::vector<Reported> reported;
  for (std::int32_t i = 0; i < monitors; ++i) {
    const double gain = std::exp(log_gains[static_cast<std::size_t>(i)] - mean);
    fit.gains.push_back(signs[static_cast<std::size_t>(i)] * gain);
    reported.push_back({gain_index[static_cast<std::size_t>(i)], fit.gains.back(), -1.0});
  }
  for (std::int32_t j = 0; j < correctors; ++j) {
    const std::int32_t c = corrector_index[static_cast<std::size_t>(j)];
    if (c >= 0) reported.push_back({c, std::exp(mean), strengths[static_cast<std::size_t>(j)]});
  }
  for (std::int32_t j = 0; j < correctors && with_offsets; ++j) {
    const std::int32_t c = corrector_index[static_cast<std::size_t>(j)];
    if (c >= 0) reported.push_back({c + 1, 1.0, 0.0});
  }
  // The covariance of two reported calibrations over their slopes.
  const auto reduced = [&](const Reported &a, const Reported &b) {
    const auto to_mean = [&](const Reported &r) {
      return r.free < 0 ? 0.0 : with_mean[static_cast<std::size_t>(r.free)];
    };
    const double own = a.free < 0 || b.free < 0 ? 0.0 : cov(a.free, b.free);
    return own + (b.mean_slope * to_mean(a) + a.mean_slope * to_mean(b)) + a.mean_slope * b.mean_slope * mean_variance;
  };
  const auto size = static_cast<std::int32_t>(reported.size());
  fit.covariance = Dense(size, size);
  std::vector<double> errors;
  for (std::int32_t r = 0; r < size; ++r) {
    const Reported &a = reported[static_cast<std::size_t>(r)];
    const double variance = std::max(0.0, reduced(a, a));
    errors.push_back(std::fabs(a.slope) * std::sqrt(variance));
    fit.covariance.at(r, r) = a.slope * a.slope * variance;
    for (std::int32_t c = 0; c < r; ++c) {
      const Reported &b = reported[static_cast<std::size_t>(c)];
      fit.covariance.at(r, c) = fit.covariance.at(c, r) = a.slope * b.slope * reduced(a, b);
    }
  }

  auto error = errors.begin();
  fit.gain_errors.assign(error, error + monitors);
  error += monitors;
  fit.strength_errors.assign(static_cast<std::size_t>(correctors), kNotFitted);
  fit.offset_errors.assign(static_cast<std::size_t>(correctors), with_offsets ? kNotFitted : 0.0);
  for (std::int32_t j = 0; j < correctors; ++j)
    if (corrector_index[static_cast<std::size_t>(j)] >= 0) {
      fit.strength_errors[static_cast<std::size_t>(j)] = *error++;
      strengths[static_cast<std::size_t>(j)] *= std::exp(mean);
    } else {
      strengths[static_cast<std::size_t>(j)] = kNotFitted;
      offsets[static_cast<std::size_t>(j)] = kNotFitted;
      fit.offset_errors[static_cast<std::size_t>(j)] = kNotFitted;
    }
  for (std::int32_t j = 0; j < correctors && with_offsets; ++j)
    if (corrector_index[static_cast<std::size_t>(j)] >= 0) fit.offset_errors[static_cast<std::size_t>(j)] = *error++;
  fit.strengths.assign(strengths.begin(), strengths.end());
  fit.offsets.assign(offsets.begin(), offsets.end());
  fit.rms_after = std::sqrt(2.0 * summary.final_cost / static_cast<double>(used));
  return fit;
}

}  // namespace respmat::analysis
