// Orbit correction: the corrector changes that bring a measured orbit back, from the
// singular values of the weighted response matrix (with cuts and Tikhonov
// regularisation), or from a bounded least-squares problem when the correctors have
// limits.
#ifndef RESPMAT_ANALYSIS_CORRECTION_H
#define RESPMAT_ANALYSIS_CORRECTION_H

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/dense.h"

namespace respmat::analysis {

// The range a corrector's change must stay in.
struct ChangeLimits {
  double lower = 0.0;
  double upper = 0.0;
};

struct CorrectionSettings {
  // Which singular values are kept: the `singular_values` largest, or those above
  // rcond times the largest (0 ≤ rcond < 1; 0 keeps every non-zero one); by default
  // those above max(rows, cols) ε s₁. Neither applies with limits.
  std::optional<std::int32_t> singular_values;
  std::optional<double> rcond;
  double tikhonov = 0.0;                        // α: filter s / (s² + α²); 0 is the pseudo-inverse
  std::vector<double> weights;                  // one per monitor; empty: all 1
  std::vector<std::int32_t> excluded_monitors;  // 0-based; their rows take no part
  std::vector<std::int32_t> excluded_correctors;  // 0-based; their changes are 0
  std::vector<ChangeLimits> limits;             // one per corrector; empty: unbounded
};

struct Correction {
  std::vector<double> change;           // per corrector
  std::vector<double> predicted;        // per monitor: the orbit after the change, x + R Δθ
  std::vector<double> singular_values;  // of the weighted matrix in use, largest first
  std::int32_t kept = 0;                // how many of them the correction uses (none when bounded)
  bool bounded = false;                 // solved with limits: no cut, so no kept count nor condition
  std::int32_t rows = 0;                // monitors in use
  std::int32_t cols = 0;                // correctors in use
  double rms_before = 0.0;              // of the orbit at the monitors in use
  double rms_after_predicted = 0.0;     // of the predicted orbit there
  double max_change = 0.0;              // the largest |change|
  std::optional<double> condition_number;  // largest over smallest kept singular value
};

// Throws std::invalid_argument, naming the argument, for sizes that do not agree,
// numbers that are not finite, indices out of range, a negative α or weight, an
// rcond outside [0, 1), a cut with limits, or limits with lower > upper; std::runtime_error when LAPACK does not
// converge or a bounded problem does not settle on its optimum. Any shape of matrix
// is welcome, a rank-deficient one included.
[[nodiscard]] Correction correct_orbit(const Dense &response, const std::vector<double> &orbit,
                                       const CorrectionSettings &settings);

// The weights 1/σ of monitors whose orbit has the uncertainties `sigma`. Throws
// std::invalid_argument for a σ that is not a finite number above 0, or so small
// that 1/σ is past the range of doubles.
[[nodiscard]] std::vector<double> weights_of_uncertainties(const std::vector<double> &sigma);

// The number of threads the linear algebra runs on; 0 leaves OpenBLAS's choice.
void set_linear_algebra_threads(int threads);

}  // namespace respmat::analysis

#endif
