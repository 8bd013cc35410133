#include "analysis/comparison.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace respmat::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double rms(double sum_of_squares, std::size_t count) {
  return count == 0 ? kNaN : std::sqrt(sum_of_squares / static_cast<double>(count));
}

// The median of `values`, which it reorders.
double median(std::vector<double> &values) {
  if (values.empty()) return kNaN;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  const double upper = *middle;
  return (*std::max_element(values.begin(), middle) + upper) / 2.0;
}

// kMadToSigma times the median absolute deviation of the residuals of the entries
// `included`.
double robust_sigma(const Dense &residual, const std::vector<unsigned char> &included) {
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(std::count(included.begin(), included.end(), 1)));
  for (std::size_t k = 0; k < residual.values.size(); ++k)
    if (included[k]) values.push_back(residual.values[k]);
  const double centre = median(values);
  for (double &value : values) value = std::fabs(value - centre);
  return kMadToSigma * median(values);
}

std::vector<Outlier> outliers_with(const Dense &residual, const std::vector<unsigned char> &considered,
                                   const Dense *sigma, double uniform_sigma, double outlier_k) {
  std::vector<Outlier> found;
  for (std::int32_t i = 0; i < residual.rows; ++i)
    for (std::int32_t j = 0; j < residual.cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * static_cast<std::size_t>(residual.cols) + static_cast<std::size_t>(j);
      if (!considered[k]) continue;
      const double r = residual.values[k];
      const double s = sigma != nullptr ? sigma->values[k] : uniform_sigma;
      const double score = std::fabs(r) / s;
      if (score > outlier_k) found.push_back({i, j, r, score});
    }
  return found;
}

}  // namespace

std::vector<Outlier> find_outliers(const Dense &residual, const std::vector<unsigned char> &considered,
                                   const Dense *sigma, double outlier_k) {
  if (sigma != nullptr) return outliers_with(residual, considered, sigma, 0.0, outlier_k);
  // Two passes: outliers inflate the spread they are measured against.
  std::vector<Outlier> first = outliers_with(residual, considered, nullptr, robust_sigma(residual, considered),
                                             outlier_k);
  if (first.empty()) return first;  // the second pass would measure the same spread
  std::vector<unsigned char> kept = considered;
  for (const Outlier &o : first)
    kept[static_cast<std::size_t>(o.monitor) * static_cast<std::size_t>(residual.cols) + static_cast<std::size_t>(o.corrector)] = 0;
  return outliers_with(residual, considered, nullptr, robust_sigma(residual, kept), outlier_k);
}

Comparison compare(const Dense &measured, const Dense &model, const std::vector<unsigned char> &reachable,
                   const Dense *sigma, double outlier_k) {
  Comparison result;
  result.residual = Dense(measured.rows, measured.cols);
  std::vector<double> monitor_sums(static_cast<std::size_t>(measured.rows)), corrector_sums(static_cast<std::size_t>(measured.cols));
  std::vector<std::size_t> monitor_counts(monitor_sums.size()), corrector_counts(corrector_sums.size());
  double measured_sum = 0.0, model_sum = 0.0, reached_sum = 0.0, upstream_sum = 0.0, chi2 = 0.0;
  std::size_t reached = 0;
  for (std::int32_t i = 0; i < measured.rows; ++i)
    for (std::int32_t j = 0; j < measured.cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * static_cast<std::size_t>(measured.cols) + static_cast<std::size_t>(j);
      const double r = measured.values[k] - model.values[k];
      result.residual.values[k] = r;
      measured_sum += measured.values[k] * measured.values[k];
      model_sum += model.values[k] * model.values[k];
      if (!reachable[k]) {
        upstream_sum += r * r;
        continue;
      }
      ++reached;
      reached_sum += r * r;
      monitor_sums[static_cast<std::size_t>(i)] += r * r;
      ++monitor_counts[static_cast<std::size_t>(i)];
      corrector_sums[static_cast<std::size_t>(j)] += r * r;
      ++corrector_counts[static_cast<std::size_t>(j)];
      if (sigma != nullptr) chi2 += (r / sigma->values[k]) * (r / sigma->values[k]);
    }
  const std::size_t entries = measured.values.size();
  result.rms_measured = rms(measured_sum, entries);
  result.rms_model = rms(model_sum, entries);
  result.rms_residual = rms(reached_sum, reached);
  result.rms_upstream = rms(upstream_sum, entries - reached);
  for (std::size_t i = 0; i < monitor_sums.size(); ++i) result.per_monitor_rms.push_back(rms(monitor_sums[i], monitor_counts[i]));
  for (std::size_t j = 0; j < corrector_sums.size(); ++j)
    result.per_corrector_rms.push_back(rms(corrector_sums[j], corrector_counts[j]));
  if (sigma != nullptr && reached != 0) result.chi2_reduced = chi2 / static_cast<double>(reached);
  result.outliers = find_outliers(result.residual, reachable, sigma, outlier_k);
  return result;
}

}  // namespace respmat::analysis
