// Gradient errors of an optics table's quadrupoles fitted to measured arrays, for
// Python callers: respmat.fit(..., kind="quadrupoles").
#ifndef RESPMAT_PYTHON_SRC_QUADRUPOLE_FIT_H
#define RESPMAT_PYTHON_SRC_QUADRUPOLE_FIT_H

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "commands/quadrupole_response_fit.h"

namespace respmat::python {

// The fit of `planes` (their models made from `optics`, which is read again for the
// quadrupoles, with their dispersion at a fixed RF frequency, `fixed_rf`), as the tool
// fits: the same numbers, bit for bit. The GIL is released while it runs; ValueError
// names a fit that fails.
[[nodiscard]] pybind11::dict fit_quadrupoles(const std::vector<PlaneResponse> &planes, const pybind11::object &optics,
                                             double scale, const std::optional<std::string> &match, bool fixed_rf,
                                             const QuadrupoleSettings &settings);

}  // namespace respmat::python

#endif
