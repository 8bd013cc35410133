#include "phases.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "docstrings.h"
#include "input/phase_table.h"
#include "errors.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

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
  module.def("load_phases", &load_phases, py::arg("path"), py::arg("column") = 0, docs::kLoadPhases);
}

}  // namespace respmat::python
