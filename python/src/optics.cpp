#include "optics.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "array_view.h"
#include "errors.h"
#include "input/optics_table_model.h"
#include "model/model_matrix.h"

namespace py = pybind11;

namespace respmat::python {
namespace {

constexpr char kOpticsModel[] = R"(optics_model(path, *, plane='x', lattice='line', scale=1.0, monitors_match=None, correctors_match=None, correctors_at_monitors=None, rf='free', momentum_compaction=None, circumference=None)
--

The response matrix of a beam line or ring from its optics table.

Entry (i, j) is the orbit at monitor i per unit kick of corrector j, from the beta
functions and phase advances (in turns) of the chosen plane:
scale * sqrt(beta_i * beta_j) * sin(2*pi*(mu_i - mu_j)) for a line, where monitor i
is downstream of corrector j (0 elsewhere), and
scale * sqrt(beta_i * beta_j) / (2*sin(pi*Q)) * cos(2*pi*|mu_i - mu_j| - pi*Q) for a
ring of tune Q; with rf='fixed', a ring's x plane less
scale * eta_i * eta_j / (alpha_c * C). The matrix is bit for bit what
`respmat model --optics` writes.

Parameters
----------
path : str, bytes or os.PathLike
    An optics table with columns NAME, S, BETX, MUX, BETY, MUY, KEYWORD where
    present, and the tunes Q1, Q2 among its header values.
plane : {'x', 'y'}
    BETX, MUX and Q1, or BETY, MUY and Q2.
lattice : {'line', 'ring'}
scale : float
    A factor on every entry, e.g. the kick per ampere of the correctors.
monitors_match, correctors_match : str or None
    Regular expressions (ECMAScript); the rows whose NAME contains a match are the
    monitors or the correctors. None: the rows whose KEYWORD is MONITOR (or
    HMONITOR for x, VMONITOR for y), or KICKER (or HKICKER, VKICKER).
correctors_at_monitors : bool or None
    A corrector at every monitor; None: so when the table has no corrector.
rf : {'free', 'fixed'}
    'fixed': a ring's x plane at a fixed RF frequency, where a kick moves the
    momentum to keep the path length; eta is the column DX (orbit per unit
    delta = dp/p), alpha_c the header value ALFA and C the header value LENGTH.
momentum_compaction, circumference : float or None
    With rf='fixed': alpha_c and C instead of ALFA and LENGTH (finite, not 0).

Returns
-------
tuple
    (matrix, monitor_names, corrector_names): a float64 array of shape
    (monitors, correctors) and two lists of str.

Raises
------
OSError
    The table cannot be opened or read, with errno and filename set.
ValueError
    The table lacks a column the model needs, has a malformed or non-finite
    value, selects no monitor or no corrector, or a ring's tune is a whole
    number; or an argument is malformed; or rf='fixed' for a line or the y
    plane, or without DX, ALFA or LENGTH (each named); or momentum_compaction
    or circumference without rf='fixed'.)";


Plane plane_argument(const std::string &plane) {
  if (const auto parsed = parse_plane(plane)) return *parsed;
  throw py::value_error("plane must be 'x' or 'y', not '" + plane + "'");
}

Lattice lattice_argument(const std::string &lattice) {
  if (const auto parsed = parse_lattice(lattice)) return *parsed;
  throw py::value_error("lattice must be 'line' or 'ring', not '" + lattice + "'");
}

Rf rf_argument(const std::string &rf) {
  if (const auto parsed = parse_rf(rf)) return *parsed;
  throw py::value_error("rf must be 'free' or 'fixed', not '" + rf + "'");
}

// The matrix of an optics table's model, with its monitors' and correctors' names:
// the same entries as the tool writes for the same table and options.
py::tuple optics_model(const py::object &path, const std::string &plane, const std::string &lattice, double scale,
                       std::optional<std::string> monitors_match, std::optional<std::string> correctors_match,
                       std::optional<bool> correctors_at_monitors, const std::string &rf,
                       std::optional<double> momentum_compaction, std::optional<double> circumference) {
  const OpticsModel model =
      optics_table_model({path, plane, lattice, scale, std::move(monitors_match), std::move(correctors_match),
                          correctors_at_monitors, rf, momentum_compaction, circumference});
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
  options.rf = rf_argument(arguments.rf);
  options.momentum_compaction = arguments.momentum_compaction;
  options.circumference = arguments.circumference;
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
             py::arg("rf") = "free", py::arg("momentum_compaction") = py::none(),
             py::arg("circumference") = py::none(), kOpticsModel);
}

}  // namespace respmat::python
