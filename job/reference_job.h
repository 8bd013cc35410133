// Test support: the main job done the straightforward way, the oracle of the fast job.
#ifndef RESPMAT_JOB_REFERENCE_JOB_H
#define RESPMAT_JOB_REFERENCE_JOB_H

#include <cstdio>

#include "job/job_report.h"
#include "respmat/matrix.h"

namespace respmat {

// Fills the m x m lower-triangular model matrix G from column 0 of the first m rows
// of `phases` with model_entry(), rows and columns from the last to the first.
void fill_model(Matrix G, const Matrix phases);

// Runs the main job as run_driver() does, with both files loaded whole as matrices,
// the model matrix filled with sinl and written with printf. Same output, slower.
[[nodiscard]] int run_driver_reference(const DriverPaths &paths, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
