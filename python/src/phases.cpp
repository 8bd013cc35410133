#include "phases.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/phase_table.h"
#include "errors.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr char kLoadPhases[] = R"(load_phases(path, column=0)
--

Read a column of phases from a comma-separated table or an optics table.

The same reader, with the same rules, as the respmat tool's --phases and --column.
A comma-separated table holds one phase per line in the chosen column; when the
column is chosen by name, its first line is a header naming the columns (matched
without regard to case). An optics table (first byte '@' or '*') has '@' header
lines, a '*' line naming the columns, a '$' line of their types and blank-separated
rows; only a numeric column may be chosen there, by name or by its index among the
named columns. Every phase must be a finite number.

Parameters
----------
path : str, bytes or os.PathLike
    The table.
column : int, str or None
    The 0-based index or the name of the column. None takes column 0 of a
    comma-separated table; for an optics table it fails listing the columns that
    can be chosen.

Returns
-------
numpy.ndarray
    float64, shape (rows,): the phases in turns, in file order.

Raises
------
OSError
    The table cannot be opened or read (FileNotFoundError, PermissionError, ...),
    with errno and filename set.
ValueError
    A field is not a finite number (the message names file, line and column), or
    the column is not in the table.
TypeError
    column is neither an int, a str nor None.)";


py::array to_array(const std::vector<double> &values) {
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  return array;
}

}  // namespace

std::optional<PhaseColumn> phase_column(const py::object &column) {
  if (column.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(column)) {
    PhaseColumn chosen{column.cast<std::string>()};
    if (chosen.name.empty()) throw py::value_error("column name is empty");
    return chosen;
  }
  if (py::isinstance<py::bool_>(column) || !py::hasattr(column, "__index__"))
    throw py::type_error("column must be an int (index), a str (name) or None");
  return PhaseColumn{{}, count_argument(column, "column")};
}

std::int32_t count_argument(const py::handle &value, const char *what) {
  const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long count = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0 || count < 0 || count > INT32_MAX)
    throw py::value_error(std::string(what) + " must be between 0 and 2147483647");
  return static_cast<std::int32_t>(count);
}

py::array load_phases(const py::object &path, const py::object &column) {
  const FileName name = file_name(path);
  const std::optional<PhaseColumn> chosen = phase_column(column);
  PhaseTableResult result;
  {
    py::gil_scoped_release release;
    result = load_phase_table(name.native, chosen);
  }
  if (result.error) raise_failure(result.error->failure());
  return to_array(result.phases);
}

void bind_phases(py::module_ &module) {
  module.def("load_phases", &load_phases, py::arg("path"), py::arg("column") = 0, kLoadPhases);
}

}  // namespace respmat::python
