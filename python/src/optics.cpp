#include "optics.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "array_view.h"
#include "docstrings.h"
#include "errors.h"
#include "job/model.h"
#include "job/optics_model.h"

namespace py = pybind11;

namespace respmat::python {
namespace {

Plane plane_argument(const std::string &plane) {
  if (plane == "x") return Plane::x;
  if (plane == "y") return Plane::y;
  throw py::value_error("plane must be 'x' or 'y', not '" + plane + "'");
}

Lattice lattice_argument(const std::string &lattice) {
  if (lattice == "line") return Lattice::line;
  if (lattice == "ring") return Lattice::ring;
  throw py::value_error("lattice must be 'line' or 'ring', not '" + lattice + "'");
}

// The matrix of an optics table's model, with its monitors' and correctors' names:
// the same entries as the tool writes for the same table and options.
py::tuple optics_model(const py::object &path, const std::string &plane, const std::string &lattice, double scale,
                       std::optional<std::string> monitors_match, std::optional<std::string> correctors_match,
                       std::optional<bool> correctors_at_monitors) {
  const OpticsModel model = optics_table_model({path, plane, lattice, scale, std::move(monitors_match),
                                                std::move(correctors_match), correctors_at_monitors});
  Float64Array matrix = new_float64(model.rows(), model.cols());
  {
    py::gil_scoped_release release;
    model_matrix(model, matrix.mutable_data());
  }
  return py::make_tuple(matrix, model.monitor_names(), model.corrector_names());
}

}  // namespace

OpticsModel optics_table_model(const OpticsArguments &arguments) {
  const FileName name = file_name(arguments.path);
  OpticsModelOptions options;
  options.plane = plane_argument(arguments.plane);
  options.lattice = lattice_argument(arguments.lattice);
  options.scale = arguments.scale;
  options.monitors_match = arguments.monitors_match;
  options.correctors_match = arguments.correctors_match;
  options.correctors_at_monitors = arguments.correctors_at_monitors;
  OpticsTableResult table;
  {
    py::gil_scoped_release release;
    table = read_optics_table(name.native);
  }
  if (table.error_number != 0) raise_os_error(table.error_number, name);
  if (!table.error.empty()) raise_value_error(table.error);
  OpticsModelResult made = respmat::optics_model(table.table, name.native, options);
  if (!made.model) raise_value_error(made.error);
  return std::move(*made.model);
}

void bind_optics(py::module_ &module) {
  module.def("optics_model", &optics_model, py::arg("path"), py::kw_only(), py::arg("plane") = "x",
             py::arg("lattice") = "line", py::arg("scale") = 1.0, py::arg("monitors_match") = py::none(),
             py::arg("correctors_match") = py::none(), py::arg("correctors_at_monitors") = py::none(),
             docs::kOpticsModel);
}

}  // namespace respmat::python
