// Test support: the main job done the straightforward way, the oracle of the fast job.
#ifndef RESPMAT_TESTS_SUPPORT_REFERENCE_JOB_H
#define RESPMAT_TESTS_SUPPORT_REFERENCE_JOB_H

#include <cstdio>

#include "app/report.h"
#include "reference_model.h"

namespace respmat {

// Runs the main job as run_driver() does, with both files loaded whole as matrices,
// the model matrix filled with sinl and written with printf. Same output, slower.
[[nodiscard]] int run_driver_reference(const DriverPaths &paths, std::FILE *out, std::FILE *err);

}  // namespace respmat

#endif
