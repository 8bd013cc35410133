// The model response matrix: constants, one entry, and the whole matrix.
#ifndef RESPMAT_APP_MODEL_H
#define RESPMAT_APP_MODEL_H

#include <cstdint>

#include "respmat/matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scales a by the model's amplitude factor (stored as a double), then sets
 * b = b x 0.340975131 - a x 0.633062082, formed in extended precision and rounded
 * once. `a` and `b` must be distinct. */
void transform_pair(double *a, double *b);

#ifdef __cplusplus
}
#endif

namespace respmat {

inline constexpr double kFullTurn = 6.283185307179586;        // 2 pi as a double
inline constexpr double kPhaseOffset = 0.1696;
inline constexpr double kAmplitude = 0.47247222310000003;     // one ulp above 0.4724722231
inline constexpr double kPairFactorB = 0.340975131;
inline constexpr double kPairCrossFactor = 0.633062082;

// Entry (i, j) on or below the diagonal for the phases pi = P[i][0] and pj = P[j][0]:
// every step in extended precision, only the final product rounded to double.
[[nodiscard]] double model_entry(double phase_i, double phase_j);

// Entries 0..i of row i of the model matrix, phases[i] against phases[0..i], into
// out[0..i]: bit-identical to model_entry() and to the values written to er.csv, in
// a fraction of its time. `phases` holds at least i + 1 values. Safe to call from
// several threads at once.
void model_row(const double *phases, std::int32_t i, double *out);

// Fills the m x m lower-triangular model matrix G from column 0 of the first m rows
// of `phases`, rows and columns from the last to the first.
void fill_model(Matrix G, const Matrix phases);

}  // namespace respmat

#endif
