// The optics model of an optics table: which rows are the monitors and the
// correctors, their positions, beta functions and phase advances in the chosen
// plane, and a ring's tune from the header values.
#ifndef RESPMAT_INPUT_OPTICS_TABLE_MODEL_H
#define RESPMAT_INPUT_OPTICS_TABLE_MODEL_H

#include <cstdint>
#include <optional>
#include <string>

#include "base/failure.h"
#include "input/optics_table.h"
#include "model/optics_model.h"

namespace respmat {

struct OpticsModelOptions {
  Plane plane = Plane::x;
  Lattice lattice = Lattice::line;
  double scale = 1.0;  // kick per unit of the corrector's setting, for instance
  // Rows whose NAME contains a match of these (regular expressions, see name_pattern.h) are
  // the monitors or the correctors, instead of the rows of the plane's keywords.
  std::optional<std::string> monitors_match;
  std::optional<std::string> correctors_match;
  // A corrector at every monitor; unset: so only when the table has no correctors.
  std::optional<bool> correctors_at_monitors;
  // Only the first this many monitors (and correctors at them), when set.
  std::optional<std::int32_t> monitor_count;
};

// The model of `table` (read from `path`, which messages name) into `model`. Fails
// with a usage failure for an option that cannot be applied (a malformed regular
// expression) and an input failure for a table that does not give the model.
[[nodiscard]] std::optional<Failure> optics_table_model(const OpticsTable &table, const std::string &path,
                                                        const OpticsModelOptions &options,
                                                        std::optional<OpticsModel> &model);

}  // namespace respmat

#endif
