#include "analysis/comparison.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/median.h"
#include "analysis/parallel_blocks.h"

namespace respmat::analysis {
namespace {

using detail::block_count;
using detail::for_each_block;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using detail::kRowsPerBlock;

// Columns per block of the pass down the columns.
constexpr std::size_t kColumnsPerBlock = 512;

double rms(double sum_of_squares, std::size_t count) {
  return count == 0 ? kNaN : std::sqrt(sum_of_squares / static_cast<double>(count));
}

std::size_t entry(std::size_t i, std::size_t j, std::size_t cols) { return i * cols + j; }

// kMadToSigma times the median absolute deviation of the residuals of the entries
// `included`.
double robust_sigma(const Dense &residual, const std::vector<unsigned char> &included) {
  const double *values = residual.values.data();
  const std::size_t count = residual.values.size();
  const double centre = detail::masked_median(values, included.data(), count);
  return kMadToSigma * detail::masked_median_distance(values, included.data(), count, centre);
}

std::vector<Outlier> outliers_with(const Dense &residual, const std::vector<unsigned char> &considered,
                                   const Dense *sigma, double uniform_sigma, double outlier_k) {
  const auto rows = static_cast<std::size_t>(residual.rows), cols = static_cast<std::size_t>(residual.cols);
  std::vector<std::vector<Outlier>> found_in_block(block_count(rows, kRowsPerBlock));
  for_each_block(rows, kRowsPerBlock, [&](std::size_t block, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i)
      for (std::size_t j = 0; j < cols; ++j) {
        const std::size_t k = entry(i, j, cols);
        if (!considered[k]) continue;
        const double r = residual.values[k];
        const double s = sigma != nullptr ? sigma->values[k] : uniform_sigma;
        const double score = std::fabs(r) / s;
        if (score > outlier_k)
          found_in_block[block].push_back({static_cast<std::int32_t>(i), static_cast<std::int32_t>(j), r, score});
      }
  });
  std::vector<Outlier> found;
  for (const std::vector<Outlier> &block : found_in_block) found.insert(found.end(), block.begin(), block.end());
  return found;
}

// A monitor's sums of squares along its row, in column order.
struct RowSums {
  double measured = 0.0, model = 0.0, reached = 0.0, upstream = 0.0, chi2 = 0.0;
  std::size_t reached_count = 0;
};

}  // namespace

const char *outlier_spread_name(OutlierSpread spread) {
  switch (spread) {
    case OutlierSpread::uncertainties:
      return "uncertainties";
    case OutlierSpread::first_pass:
      return "first pass";
    case OutlierSpread::second_pass:
      break;
  }
  return "second pass";
}

OutlierSearch find_outliers(const Dense &residual, const std::vector<unsigned char> &considered, const Dense *sigma,
                            double outlier_k) {
  if (sigma != nullptr) return {outliers_with(residual, considered, sigma, 0.0, outlier_k), OutlierSpread::uncertainties, kNaN};
  // Two passes: outliers inflate the spread they are measured against.
  OutlierSearch first{{}, OutlierSpread::first_pass, robust_sigma(residual, considered)};
  first.outliers = outliers_with(residual, considered, nullptr, first.sigma, outlier_k);
  if (first.outliers.empty()) return first;  // the second pass would measure the same spread
  std::vector<unsigned char> kept = considered;
  for (const Outlier &o : first.outliers)
    kept[entry(static_cast<std::size_t>(o.monitor), static_cast<std::size_t>(o.corrector),
               static_cast<std::size_t>(residual.cols))] = 0;
  // With every entry flagged there is no spread left to measure: the first stands.
  if (first.outliers.size() == static_cast<std::size_t>(
                                   std::count_if(considered.begin(), considered.end(), [](unsigned char c) { return c != 0; })))
    return first;
  OutlierSearch second{{}, OutlierSpread::second_pass, robust_sigma(residual, kept)};
  second.outliers = outliers_with(residual, considered, nullptr, second.sigma, outlier_k);
  return second;
}

Comparison compare(Dense measured, const Dense &model, const std::vector<unsigned char> &reachable, const Dense *sigma,
                   double outlier_k) {
  // Every sum has a fixed order, a monitor's along its row and a corrector's down its
  // column, the totals over the monitors' sums in turn: the same on any number of
  // threads. The residuals take the measured matrix's place.
  const auto rows = static_cast<std::size_t>(measured.rows), cols = static_cast<std::size_t>(measured.cols);
  std::vector<RowSums> row_sums(rows);
  for_each_block(rows, kRowsPerBlock, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      RowSums sums;
      for (std::size_t j = 0; j < cols; ++j) {
        const std::size_t k = entry(i, j, cols);
        const double m = measured.values[k], g = model.values[k];
        const double r = m - g;
        measured.values[k] = r;
        sums.measured += m * m;
        sums.model += g * g;
        if (!reachable[k]) {
          sums.upstream += r * r;
          continue;
        }
        ++sums.reached_count;
        sums.reached += r * r;
        if (sigma != nullptr) sums.chi2 += (r / sigma->values[k]) * (r / sigma->values[k]);
      }
      row_sums[i] = sums;
    }
  });
  Comparison result;
  result.residual = std::move(measured);
  const Dense &residual = result.residual;
  std::vector<double> corrector_sums(cols);
  std::vector<std::size_t> corrector_counts(cols);
  for_each_block(cols, kColumnsPerBlock, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t i = 0; i < rows; ++i)
      for (std::size_t j = begin; j < end; ++j) {
        const std::size_t k = entry(i, j, cols);
        if (!reachable[k]) continue;
        corrector_sums[j] += residual.values[k] * residual.values[k];
        ++corrector_counts[j];
      }
  });
  RowSums total;
  for (const RowSums &sums : row_sums) {
    total.measured += sums.measured;
    total.model += sums.model;
    total.reached += sums.reached;
    total.upstream += sums.upstream;
    total.chi2 += sums.chi2;
    total.reached_count += sums.reached_count;
    result.per_monitor_rms.push_back(rms(sums.reached, sums.reached_count));
  }
  for (std::size_t j = 0; j < cols; ++j)
    result.per_corrector_rms.push_back(rms(corrector_sums[j], corrector_counts[j]));
  const std::size_t entries = residual.values.size();
  result.rms_measured = rms(total.measured, entries);
  result.rms_model = rms(total.model, entries);
  result.rms_residual = rms(total.reached, total.reached_count);
  result.rms_upstream = rms(total.upstream, entries - total.reached_count);
  if (sigma != nullptr && total.reached_count != 0)
    result.chi2_reduced = total.chi2 / static_cast<double>(total.reached_count);
  OutlierSearch search = find_outliers(residual, reachable, sigma, outlier_k);
  result.outliers = std::move(search.outliers);
  result.outlier_spread = search.spread;
  result.outlier_sigma = search.sigma;
  return result;
}

}  // namespace respmat::analysis
