// Test support: the model done the straightforward way, the oracle of the fast
// paths, and the free-standing pair transform that shares its amplitude.
#ifndef RESPMAT_TESTS_SUPPORT_REFERENCE_MODEL_H
#define RESPMAT_TESTS_SUPPORT_REFERENCE_MODEL_H

#include "respmat/matrix.h"

/* Scales a by the model's amplitude factor (stored as a double), then sets
 * b = b x 0.340975131 - a x 0.633062082, formed in extended precision and rounded
 * once. `a` and `b` must be distinct. */
extern "C" void transform_pair(double *a, double *b);

namespace respmat {

// Entry (i, j) on or below the diagonal for the phases pi and pj: sinl of the
// model's argument times the amplitude, every step in extended precision, only the
// final product rounded to double.
[[nodiscard]] double model_entry(double phase_i, double phase_j);

// Fills the m x m lower-triangular model matrix G from column 0 of the first m rows
// of `phases` with model_entry(), rows and columns from the last to the first.
void fill_model(Matrix G, const Matrix phases);

}  // namespace respmat

#endif
