#include "run.h"

#include <optional>
#include <string>

#include "errors.h"
#include "commands/model_command.h"
#include "phases.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr char kRun[] = R"(run(response=None, phases=None, output='er.csv', monitors=None, column=0)
--

Run the respmat tool's job: read m and the phases, write the model matrix.

With no arguments this is the bare tool: m is the number of fields of the first line
of ../reponsematx_H0.1A.csv, the phases are column 0 of the first m rows of
../realmachinephases.csv (read like C's atof; a non-numeric phase is 0.0 and
reported as a RuntimeWarning), and the model matrix is written to er.csv. Any
argument makes it the tool with options, which refuses a phase that is not a
finite number.

Parameters
----------
response : str, bytes, os.PathLike or None
    The measured response matrix; only the number of fields of its first line is
    used, as m. None: the default beside the working folder, unless `phases` is
    given, in which case m is the number of rows of the phase table.
phases : str, bytes, os.PathLike or None
    The phase table, comma-separated or an optics table (see load_phases).
output : str, bytes or os.PathLike
    The comma-separated model matrix, replaced whole or not at all.
monitors : int or None
    m itself, overriding the response file.
column : int, str or None
    The phase column, as for load_phases.

Returns
-------
int
    m, the order of the matrix written.

Raises
------
OSError
    An input cannot be opened or read, or the output cannot be written
    (FileNotFoundError, PermissionError, ...), with errno and filename set; the
    output file then keeps its previous contents.
ValueError
    The phase table holds too few phases or a malformed one, the column is not in
    the table, or the options contradict each other (an output that would
    overwrite an input).)";


std::optional<std::string> optional_path(const py::object &path) {
  if (path.is_none()) return std::nullopt;
  return file_name(path).native;
}

}  // namespace

int run(const py::object &response, const py::object &phases, const py::object &output,
        const py::object &monitors, const py::object &column) {
  ModelOptions options;
  options.source.response = optional_path(response);
  options.source.phases = optional_path(phases);
  options.output = file_name(output).native;
  if (!monitors.is_none()) options.source.monitors = count_argument(monitors, "monitors");
  // Called with nothing but defaults, this is the bare command, which reads its
  // phases as it always has; any option makes it strict, as on the command line.
  const bool bare = response.is_none() && phases.is_none() && monitors.is_none() &&
                    options.output == "er.csv" && py::isinstance<py::int_>(column) &&
                    column.equal(py::int_(0));
  if (!bare) options.source.column = phase_column(column);
  options.source.strict_phases = !bare;

  CommandResult result;
  {
    py::gil_scoped_release release;
    result = run_model(options);
  }
  if (result.error) raise_failure(*result.error);
  for (const std::string &warning : result.warnings)
    if (PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 1) != 0) throw py::error_already_set();
  return *result.m;
}

void bind_run(py::module_ &module) {
  module.def("run", &run, py::arg("response") = py::none(), py::arg("phases") = py::none(),
             py::arg("output") = "er.csv", py::arg("monitors") = py::none(), py::arg("column") = 0, kRun);
}

}  // namespace respmat::python
