#include "job/response_fit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

#include "analysis/calibration_fit.h"
#include "analysis/comparison.h"
#include "analysis/linear_fit.h"
#include "base/worker_threads.h"
#include "job/model.h"
#include "job/optics_model.h"

namespace respmat {
namespace {

using analysis::Dense;

// The basis of the linear fit at every entry the model reaches: columns whose
// combination is the model with the fitted constants.
struct Basis {
  Dense columns;                     // a row per reachable entry
  std::vector<std::size_t> entries;  // the entry of each row
  // The model's amplitude factor and phase advance (radians) at each row, for the
  // calibrations (a phase model or a line).
  std::vector<double> factors, angles;
};

// `calibration_terms`: also the factors and angles the calibrations fit needs.
Basis fit_basis(const MeasuredResponse &c, bool calibration_terms) {
  Basis basis;
  const ResponseModel *model = c.inputs.model.get();
  const auto *optics = dynamic_cast<const OpticsModel *>(model);
  const bool ring = optics != nullptr && optics->lattice() == Lattice::ring;
  const auto cols = static_cast<std::size_t>(c.measured.cols);
  const std::size_t width = ring ? 1 : 2;
  // Where each monitor's points begin, so that rows can be filled on any thread.
  std::vector<std::size_t> first_point(static_cast<std::size_t>(c.measured.rows) + 1, 0);
  for (std::size_t i = 0; i + 1 < first_point.size(); ++i)
    first_point[i + 1] = first_point[i] + static_cast<std::size_t>(std::count(
                                              c.reachable.begin() + static_cast<std::ptrdiff_t>(i * cols),
                                              c.reachable.begin() + static_cast<std::ptrdiff_t>((i + 1) * cols), 1));
  const std::size_t points = first_point.back();
  basis.columns.rows = static_cast<std::int32_t>(points);
  basis.columns.cols = static_cast<std::int32_t>(width);
  basis.columns.values.resize(points * width);
  basis.entries.resize(points);
  const bool terms = calibration_terms && !ring;
  if (terms) {
    basis.factors.resize(points);
    basis.angles.resize(points);
  }
  const auto fill_row = [&](std::int32_t i) {
    std::size_t p = first_point[static_cast<std::size_t>(i)];
    for (std::size_t j = 0; j < cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * cols + j;
      if (!c.reachable[k]) continue;
      basis.entries[p] = k;
      double *const values = &basis.columns.values[p * width];
      const auto column = static_cast<std::size_t>(c.corrector_columns[j]);
      if (optics == nullptr) {
        // The phase advance as the model forms it, rounded once; the basis is a fit's
        // design, where double precision is plenty.
        const auto angle = static_cast<double>((static_cast<long double>(c.inputs.phases[static_cast<std::size_t>(i)]) -
                                                c.inputs.phases[column]) * static_cast<long double>(kFullTurn));
        values[0] = std::sin(angle);
        values[1] = std::cos(angle);
        if (terms) {
          basis.factors[p] = 1.0;
          basis.angles[p] = angle;
        }
        ++p;
        continue;
      }
      const OpticsElement &mon = optics->monitors()[static_cast<std::size_t>(i)];
      const OpticsElement &cor = optics->correctors()[column];
      const double root = std::sqrt(mon.beta) * std::sqrt(cor.beta);
      if (ring) {
        const double q = optics->tune();
        values[0] = root / (2.0 * std::sin(std::numbers::pi * q)) *
                    std::cos(std::numbers::pi * (2.0 * std::fabs(mon.mu - cor.mu) - q));
        ++p;
        continue;
      }
      const double turns = mon.mu - cor.mu - std::nearbyint(mon.mu - cor.mu);
      values[0] = root * std::sin(2.0 * std::numbers::pi * turns);
      values[1] = root * std::cos(2.0 * std::numbers::pi * turns);
      if (terms) {
        basis.factors[p] = root;
        basis.angles[p] = 2.0 * std::numbers::pi * turns;
      }
      ++p;
    }
  };
  // Each point depends on its own entry alone: the same basis on any number of threads.
  std::atomic<std::int32_t> next_row{0};
  detail::run_workers(detail::choose_threads(0), [&] {
    for (std::int32_t i; (i = next_row.fetch_add(1, std::memory_order_relaxed)) < c.measured.rows;) fill_row(i);
  });
  return basis;
}

double weight(const MeasuredResponse &c, std::size_t entry) {
  return 1.0 / (c.sigma->values[entry] * c.sigma->values[entry]);
}

// Which rows of the basis the fit uses: the reachable entries, less the outliers when asked.
std::vector<unsigned char> used_points(const MeasuredResponse &c, const Basis &basis, const FitSettings &settings) {
  std::vector<unsigned char> used(basis.entries.size(), 1);
  if (!settings.exclude_outliers) return used;
  const analysis::Comparison before =
      analysis::compare(c.measured, c.model, c.reachable, c.sigma ? &*c.sigma : nullptr, settings.outlier_k);
  for (const analysis::Outlier &o : before.outliers) {
    const std::size_t k = static_cast<std::size_t>(o.monitor) * static_cast<std::size_t>(c.measured.cols) +
                          static_cast<std::size_t>(o.corrector);
    used[static_cast<std::size_t>(std::lower_bound(basis.entries.begin(), basis.entries.end(), k) -
                                  basis.entries.begin())] = 0;
  }
  return used;
}

// The constants and their errors from the covariance of the linear coefficients.
std::vector<FitParameter> linear_parameters(const analysis::LinearFit &fit, bool optics) {
  if (fit.coefficients.size() == 1) return {{"scale", fit.coefficients[0], std::sqrt(fit.covariance.at(0, 0)), {}}};
  const double a = fit.coefficients[0], b = fit.coefficients[1];
  const double amplitude = std::hypot(a, b), offset = std::atan2(b, a);
  const double caa = fit.covariance.at(0, 0), cbb = fit.covariance.at(1, 1), cab = fit.covariance.at(0, 1);
  const double var_amplitude = (a * a * caa + 2 * a * b * cab + b * b * cbb) / (amplitude * amplitude);
  const double var_offset = (b * b * caa - 2 * a * b * cab + a * a * cbb) / std::pow(amplitude, 4);
  return {{optics ? "scale" : "amplitude", amplitude, std::sqrt(var_amplitude), {}},
          {"offset", offset, std::sqrt(var_offset), {}}};
}

Dense linear_fitted(const MeasuredResponse &c, const Basis &basis, const analysis::LinearFit &fit) {
  Dense fitted(c.measured.rows, c.measured.cols);
  for (std::size_t p = 0; p < basis.entries.size(); ++p) {
    double value = 0.0;
    for (std::int32_t col = 0; col < basis.columns.cols; ++col)
      value += basis.columns.at(static_cast<std::int32_t>(p), col) * fit.coefficients[static_cast<std::size_t>(col)];
    fitted.values[basis.entries[p]] = value;
  }
  return fitted;
}

// Replaces the amplitude-offset fit's parameters and fitted model by the calibrations,
// started from its amplitude and offset.
bool fit_calibrations(const MeasuredResponse &c, const Basis &basis, const std::vector<unsigned char> &used,
                      ResponseFit &fit, FitFailure &failure) {
  if (basis.factors.empty() && !basis.entries.empty()) {
    failure = {FitFailure::Kind::needs_phase_advances, {}};
    return false;
  }
  std::vector<analysis::CalibrationPoint> points;
  const auto cols = static_cast<std::size_t>(c.measured.cols);
  for (std::size_t p = 0; p < basis.entries.size(); ++p) {
    if (!used[p]) continue;
    const std::size_t k = basis.entries[p];
    points.push_back({static_cast<std::int32_t>(k / cols), static_cast<std::int32_t>(k % cols), c.measured.values[k],
                      c.sigma ? weight(c, k) : 1.0, basis.factors[p], basis.angles[p]});
  }
  const std::optional<analysis::CalibrationFit> calibrations =
      analysis::fit_calibrations(points, c.measured.rows, c.measured.cols, fit.parameters[0].value,
                                 fit.parameters[1].value, c.sigma.has_value(), failure.reason);
  if (!calibrations) return false;
  fit.parameters.clear();
  for (std::int32_t i = 0; i < c.measured.rows; ++i) {
    const auto k = static_cast<std::size_t>(i);
    fit.parameters.push_back(
        {"monitor_gain", calibrations->gains[k], calibrations->gain_errors[k], c.monitor_names[k]});
  }
  for (std::size_t j = 0; j < cols; ++j)
    fit.parameters.push_back(
        {"corrector_strength", calibrations->strengths[j], calibrations->strength_errors[j], c.corrector_names[j]});
  for (std::size_t j = 0; j < cols; ++j)
    fit.parameters.push_back(
        {"corrector_offset", calibrations->offsets[j], calibrations->offset_errors[j], c.corrector_names[j]});
  for (const std::int32_t j : calibrations->left_out)
    fit.left_out.push_back(c.corrector_names[static_cast<std::size_t>(j)]);
  for (std::size_t p = 0; p < basis.entries.size(); ++p) {
    const std::size_t k = basis.entries[p];
    fit.fitted.values[k] = calibrations->gains[k / cols] * calibrations->strengths[k % cols] * basis.factors[p] *
                           std::sin(basis.angles[p] + calibrations->offsets[k % cols]);
  }
  fit.chi2_reduced = calibrations->chi2_reduced;
  fit.iterations = calibrations->iterations;
  return true;
}

}  // namespace

std::optional<ResponseFit> fit_response(const MeasuredResponse &c, const FitSettings &settings, FitFailure &failure) {
  const Basis basis = fit_basis(c, settings.kind == FitKind::calibrations);
  const std::vector<unsigned char> used = used_points(c, basis, settings);
  // The basis at the points used: the whole of it unless outliers are left out.
  const auto used_count = static_cast<std::size_t>(std::count(used.begin(), used.end(), 1));
  const bool every_point = used_count == basis.entries.size();
  Dense picked(0, basis.columns.cols);
  std::vector<double> target, weights;
  target.reserve(used_count);
  if (c.sigma) weights.reserve(used_count);
  if (!every_point) picked.values.reserve(used_count * static_cast<std::size_t>(basis.columns.cols));
  double before = 0.0;
  for (std::size_t p = 0; p < basis.entries.size(); ++p) {
    if (!used[p]) continue;
    const std::size_t k = basis.entries[p];
    if (!every_point) {
      for (std::int32_t col = 0; col < basis.columns.cols; ++col)
        picked.values.push_back(basis.columns.at(static_cast<std::int32_t>(p), col));
      ++picked.rows;
    }
    target.push_back(c.measured.values[k]);
    if (c.sigma) weights.push_back(weight(c, k));
    before += (c.measured.values[k] - c.model.values[k]) * (c.measured.values[k] - c.model.values[k]);
  }
  failure = {};
  const std::optional<analysis::LinearFit> linear =
      analysis::fit_linear(every_point ? basis.columns : picked, target, c.sigma ? &weights : nullptr, failure.reason);
  if (!linear) return std::nullopt;

  ResponseFit fit;
  fit.parameters = linear_parameters(*linear, dynamic_cast<const OpticsModel *>(c.inputs.model.get()) != nullptr);
  fit.fitted = linear_fitted(c, basis, *linear);
  fit.chi2_reduced = linear->chi2_reduced;
  fit.points = linear->points;
  if (settings.kind == FitKind::calibrations && !fit_calibrations(c, basis, used, fit, failure)) return std::nullopt;

  double after = 0.0;
  for (std::size_t p = 0; p < basis.entries.size(); ++p)
    if (used[p]) {
      const double r = c.measured.values[basis.entries[p]] - fit.fitted.values[basis.entries[p]];
      after += r * r;
    }
  const double count = static_cast<double>(fit.points);
  fit.rms_before = std::sqrt(before / count);
  fit.rms_after = std::sqrt(after / count);
  return fit;
}

}  // namespace respmat
