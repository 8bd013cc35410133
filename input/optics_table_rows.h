// The optics of chosen rows of an optics table in both planes at once: the
// quadrupoles of a fit of gradient errors (rows of KEYWORD QUADRUPOLE, or those a
// pattern names), and the monitors where the beta-beating is reported.
#ifndef RESPMAT_INPUT_OPTICS_TABLE_ROWS_H
#define RESPMAT_INPUT_OPTICS_TABLE_ROWS_H

#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "input/optics_table.h"
#include "model/optics_model.h"

namespace respmat {

struct OpticsRows {
  std::vector<OpticsElement> x, y;  // the same rows (name, S) with each plane's beta and phase
  // The design integrated strength K1L of each, where the table has that column.
  std::vector<std::optional<double>> k1l;
};

// The quadrupoles: rows whose NAME matches `match` (as --quadrupoles-match), else
// whose KEYWORD is QUADRUPOLE, with their dispersion DX in x when `dispersion` (a ring
// at a fixed RF frequency). A table without the optics of both planes, or with a
// field that is not a finite number, is refused.
[[nodiscard]] std::optional<Failure> optics_table_quadrupoles(const OpticsTable &table, const std::string &path,
                                                              const std::optional<std::string> &match, bool dispersion,
                                                              OpticsRows &quadrupoles);

// The rows named `names`, the first row of each name.
[[nodiscard]] std::optional<Failure> optics_table_named_rows(const OpticsTable &table, const std::string &path,
                                                             const std::vector<std::string> &names, OpticsRows &rows);

}  // namespace respmat

#endif
