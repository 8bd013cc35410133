// Internal: exact medians of the large, masked sets of residuals a comparison
// measures its spread with, on every core.
#ifndef RESPMAT_ANALYSIS_MEDIAN_H
#define RESPMAT_ANALYSIS_MEDIAN_H

#include <cstddef>

namespace respmat::analysis::detail {

// The median of values[k] over the k < count where included[k] is non-zero: the
// middle value, or the mean of the middle two, (a + b) / 2 with a <= b; NaN when none
// is included. The values must not be NaN.
[[nodiscard]] double masked_median(const double *values, const unsigned char *included, std::size_t count);

// The median of |values[k] - centre| over the same entries.
[[nodiscard]] double masked_median_distance(const double *values, const unsigned char *included, std::size_t count,
                                            double centre);

}  // namespace respmat::analysis::detail

#endif
