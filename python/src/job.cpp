#include "job.h"

#include <optional>
#include <string>

#include "docstrings.h"
#include "errors.h"
#include "commands/model_command.h"
#include "phases.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

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
  // The command line's "-" is standard output; here every output is a file.
  if (options.output == "-") options.output = "./-";
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

void bind_job(py::module_ &module) {
  module.def("run", &run, py::arg("response") = py::none(), py::arg("phases") = py::none(),
             py::arg("output") = "er.csv", py::arg("monitors") = py::none(), py::arg("column") = 0, docs::kRun);
}

}  // namespace respmat::python
