// The inputs of an orbit correction read from files: the response matrix (CSV, CSV
// with names, the binary form, an optics-style table), values per monitor (an orbit,
// weights) and the correctors' limits. Every number must be finite; failures come
// back as the job's, naming the file.
#ifndef RESPMAT_JOB_CORRECTION_INPUTS_H
#define RESPMAT_JOB_CORRECTION_INPUTS_H

#include <optional>
#include <string>
#include <vector>

#include "analysis/correction.h"
#include "analysis/dense.h"
#include "job/job.h"
#include "job/measured_matrix.h"
#include "job/optics_model.h"
#include "job/phase_table.h"

namespace respmat {

// A response matrix, monitors by correctors, with the names the file gives (empty
// when it gives none).
struct NamedMatrix {
  analysis::Dense values;
  std::vector<std::string> monitor_names;
  std::vector<std::string> corrector_names;
};

// A file ending in ".bin" holds the binary form; one starting with '@' or '*' is an
// optics-style table (a NAME column and one column per corrector); any other is CSV,
// with names when its first cell is empty.
[[nodiscard]] std::optional<JobError> read_response_matrix(const std::string &path, MatrixLayout layout,
                                                           NamedMatrix &matrix);

// One value per monitor and, where the file gives them, the monitors' names: a
// column of a CSV table (names in its first column when that column is not numbers)
// or of an optics-style table (names in NAME; the column defaults to X or Y by plane).
struct MonitorValues {
  std::vector<double> values;
  std::vector<std::string> names;
};
[[nodiscard]] std::optional<JobError> read_monitor_values(const std::string &path,
                                                          const std::optional<PhaseColumn> &column, Plane plane,
                                                          MonitorValues &values);

// Lines "lower,upper", one per corrector, lower ≤ upper.
[[nodiscard]] std::optional<JobError> read_change_limits(const std::string &path,
                                                         std::vector<analysis::ChangeLimits> &limits);

}  // namespace respmat

#endif
