#include "phases.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/phase_table.h"
#include "errors.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

std::optional<PhaseColumn> phase_column(const py::object &column) {
  if (column.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(column)) {
    PhaseColumn chosen{column.cast<std::string>()};
    if (chosen.name.empty()) throw py::value_error("column name is empty");
    return chosen;
  }
  if (!py::isinstance<py::int_>(column) || py::isinstance<py::bool_>(column))
    throw py::type_error("column must be an int (index), a str (name) or None");
  const auto index = column.cast<long long>();
  if (index < 0 || index > INT32_MAX)
    throw py::value_error("column index " + std::to_string(index) + " is out of range");
  return PhaseColumn{{}, static_cast<std::int32_t>(index)};
}

py::array to_array(const std::vector<double> &values) {
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  return array;
}

}  // namespace

void raise_phase_table_error(const PhaseTableError &error) {
  if (error.kind == PhaseTableError::Kind::io) raise_os_error(error.error_number, native_file_name(error.file));
  raise_value_error(error.message());
}

py::array load_phases(const py::object &path, const py::object &column) {
  const FileName name = file_name(path);
  const std::optional<PhaseColumn> chosen = phase_column(column);
  PhaseTableResult result;
  {
    py::gil_scoped_release release;
    result = load_phase_table(name.native, chosen);
  }
  if (result.error) raise_phase_table_error(*result.error);
  return to_array(result.phases);
}

}  // namespace respmat::python
