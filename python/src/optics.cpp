#include "optics.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "array_view.h"
#include "docstrings.h"
#include "errors.h"
#include "input/optics_table_model.h"
#include "model/model_matrix.h"

namespace py = pybind11;

namespace respmat::python {
namespace {

Plane plane_argument(const std::string &plane) {
  if (const auto parsed = parse_plane(plane)) return *parsed;
  throw py::value_error("plane must be 'x' or 'y', not '" + plane + "'");
}

Lattice lattice_argument(const std::string &lattice) {
  if (const auto parsed = parse_lattice(lattice)) return *parsed;
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
  if (table.failure) raise_failure(*table.failure);
  std::optional<OpticsModel> made;
  if (const auto failure = optics_table_model(table.table, name.native, options, made)) raise_failure(*failure);
  return std::move(*made);
}

void bind_optics(py::module_ &module) {
  module.def("optics_model", &optics_model, py::arg("path"), py::kw_only(), py::arg("plane") = "x",
             py::arg("lattice") = "line", py::arg("scale") = 1.0, py::arg("monitors_match") = py::none(),
             py::arg("correctors_match") = py::none(), py::arg("correctors_at_monitors") = py::none(),
             docs::kOpticsModel);
}

}  // namespace respmat::python
