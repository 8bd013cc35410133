// A measured response matrix against a model: residuals, their sizes by monitor and
// by corrector, and the entries that stand out.
#ifndef RESPMAT_ANALYSIS_COMPARISON_H
#define RESPMAT_ANALYSIS_COMPARISON_H

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/dense.h"

namespace respmat::analysis {

struct Outlier {
  std::int32_t monitor = 0;
  std::int32_t corrector = 0;
  double residual = 0.0;
  double score = 0.0;  // |residual| / sigma
};

// What the outliers were judged against: the uncertainties given, or a robust spread
// of the residuals, from all of them or from those left after the first pass's
// outliers (when the first pass flags every entry, none are left and its spread stands).
enum class OutlierSpread { uncertainties, first_pass, second_pass };

struct OutlierSearch {
  std::vector<Outlier> outliers;
  OutlierSpread spread = OutlierSpread::uncertainties;
  double sigma = 0.0;  // the robust spread used; NaN with uncertainties
};

// "uncertainties", "first pass" or "second pass", as summaries name them.
[[nodiscard]] const char *outlier_spread_name(OutlierSpread spread);

struct Comparison {
  Dense residual;  // measured - model, monitors x correctors
  double rms_measured = 0.0;
  double rms_model = 0.0;
  double rms_residual = 0.0;  // over the entries the model may reach
  double rms_upstream = 0.0;  // over the entries zero by causality (NaN when there are none)
  std::vector<double> per_monitor_rms;    // of the reachable residuals; NaN for a monitor none reaches
  std::vector<double> per_corrector_rms;  // likewise per corrector
  std::optional<double> chi2_reduced;     // with uncertainties only
  std::vector<Outlier> outliers;
  OutlierSpread outlier_spread = OutlierSpread::uncertainties;
  double outlier_sigma = 0.0;  // the robust spread the outliers were judged against; NaN with uncertainties
};

// The scale a normal distribution of sigma 1 gives the median absolute deviation.
inline constexpr double kMadToSigma = 1.4826;

// Compares `measured` with `model` (both monitors x correctors); `reachable` (one per
// entry, row-major) says which entries the model may reach. The residuals are formed
// in `measured`'s storage: callers done with it move it in. An entry is an outlier
// when |residual| / sigma exceeds `outlier_k`, sigma from `sigma` (per entry) or else
// kMadToSigma times the median absolute deviation of the reachable residuals,
// computed again without the first pass's outliers (kept when they are all of them).
[[nodiscard]] Comparison compare(Dense measured, const Dense &model, const std::vector<unsigned char> &reachable,
                                 const Dense *sigma, double outlier_k);

// Outliers alone, as compare() finds them, among the entries `considered`.
[[nodiscard]] OutlierSearch find_outliers(const Dense &residual, const std::vector<unsigned char> &considered,
                                          const Dense *sigma, double outlier_k);

}  // namespace respmat::analysis

#endif
