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
// column of a CSV table or of an optics-style table (the column defaults to
// `default_table_column` there). Names come from `names_column` when it is given,
// else from a column NAME or name (the header's, in a CSV table) wherever it stands,
// else, in a CSV table whose values are in another column, from the first column
// when it is not numbers. A column chosen that the file lacks is a usage failure.
struct MonitorValues {
  std::vector<double> values;
  std::vector<std::string> names;
};
[[nodiscard]] std::optional<Failure> read_monitor_values(const std::string &path,
                                                         const std::optional<PhaseColumn> &column,
                                                         const std::string &default_table_column,
                                                         MonitorValues &values,
                                                         const std::optional<PhaseColumn> &names_column = std::nullopt);

// A range per corrector, lower ≤ upper: lines "lower,upper", one per corrector in
// order; or lines "name,lower,upper", or a table whose header names its columns
// lower, upper and NAME or name (or else a column of names beside them, as a frame
// with an index writes it), each matched to its corrector by name.
struct CorrectorLimits {
  std::vector<analysis::ChangeLimits> limits;
  std::vector<std::string> names;  // empty: a range per corrector, in order
};
[[nodiscard]] std::optional<Failure> read_change_limits(const std::string &path, CorrectorLimits &limits);

}  // namespace respmat

#endif
