// The small inputs of an orbit correction: one value per monitor (an orbit, weights)
// and a range per corrector (the limits of its change). Each is read whole, once, so
// that it may come through a pipe, and refused past a size no such input reaches.
// Every number must be finite; failures name the file.
#ifndef RESPMAT_INPUT_CORRECTION_VECTORS_H
#define RESPMAT_INPUT_CORRECTION_VECTORS_H

#include <optional>
#include <string>
#include <vector>

#include "analysis/correction.h"
#include "base/failure.h"
#include "input/phase_table.h"

namespace respmat {

// One value per monitor and, where the file gives them, the monitors' names: a
// column of a CSV table (names in its first column when that column is not numbers)
// or of an optics-style table (names in NAME; the column defaults to
// `default_table_column`).
struct MonitorValues {
  std::vector<double> values;
  std::vector<std::string> names;
};
[[nodiscard]] std::optional<Failure> read_monitor_values(const std::string &path,
                                                         const std::optional<PhaseColumn> &column,
                                                         const std::string &default_table_column,
                                                         MonitorValues &values);

// Lines "lower,upper", one per corrector, lower ≤ upper.
[[nodiscard]] std::optional<Failure> read_change_limits(const std::string &path,
                                                        std::vector<analysis::ChangeLimits> &limits);

}  // namespace respmat

#endif
