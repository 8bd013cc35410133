// The optics model of an optics table: which rows are the monitors and the
// correctors, their positions, beta functions and phase advances in the chosen
// plane, and a ring's tune from the header values (with the dispersion, momentum
// compaction and circumference of a ring at a fixed RF frequency).
#ifndef RESPMAT_INPUT_OPTICS_TABLE_MODEL_H
#define RESPMAT_INPUT_OPTICS_TABLE_MODEL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  // A ring's x plane at a fixed RF frequency: DX is read, and alpha_c and C come from
  // these or else from the header values ALFA and LENGTH.
  Rf rf = Rf::free;
  std::optional<double> momentum_compaction;
  std::optional<double> circumference;
  // Read DX into each element's dispersion also at a free RF frequency.
  bool read_dispersion = false;
  // alpha_c is wanted for an RF frequency change too, at a free RF frequency as well.
  bool frequency_change = false;
};

// Why the options' RF settings cannot apply (a line, the y plane, alpha_c or C given
// where nothing uses them), as "--option: reason"; nothing when they can.
[[nodiscard]] std::optional<std::string> rf_problem(const OpticsModelOptions &options);

// alpha_c: `options.momentum_compaction`, else the header value ALFA of `table`. A
// usage failure naming ALFA when there is neither, an input failure for 0 or a value
// that is not finite.
[[nodiscard]] std::optional<Failure> momentum_compaction(const OpticsTable &table, const std::string &path,
                                                         const OpticsModelOptions &options, double &alpha);

// The model of `table` (read from `path`, which messages name) into `model`. Fails
// with a usage failure for an option that cannot be applied (a malformed regular
// expression) and an input failure for a table that does not give the model.
[[nodiscard]] std::optional<Failure> optics_table_model(const OpticsTable &table, const std::string &path,
                                                        const OpticsModelOptions &options,
                                                        std::optional<OpticsModel> &model);

// The rows of `table` whose NAME contains a match of `pattern` (read as the
// --monitors-match expressions are) when one is given, else those whose KEYWORD is
// `keyword`, in table order. A malformed pattern is a usage failure naming `option`.
[[nodiscard]] std::optional<Failure> chosen_rows(const OpticsTable &table, const std::optional<std::string> &pattern,
                                                 const char *option, const char *keyword,
                                                 std::vector<std::size_t> &rows);

}  // namespace respmat

#endif
