// The tool's phase tables and its whole job, for Python callers.
#ifndef RESPMAT_PYTHON_SRC_PHASES_H
#define RESPMAT_PYTHON_SRC_PHASES_H

#include <pybind11/numpy.h>

#include <cstdint>
#include <optional>

#include "input/phase_table.h"

namespace respmat::python {

// The phase column of a comma-separated or optics table, read by the tool's reader;
// `column` is an index (int) or a name (str).
[[nodiscard]] pybind11::array load_phases(const pybind11::object &path, const pybind11::object &column);

// The column a Python caller chose: an int index, a str name or None for the reader's
// default. Raises TypeError or ValueError for anything else.
[[nodiscard]] std::optional<PhaseColumn> phase_column(const pybind11::object &column);

// A count or index argument (an int or anything with __index__) as a 32-bit count;
// raises ValueError, naming `what`, for one below 0 or beyond 2**31 - 1.
[[nodiscard]] std::int32_t count_argument(const pybind11::handle &value, const char *what);

// Adds load_phases to the module.
void bind_phases(pybind11::module_ &module);

}  // namespace respmat::python

#endif
