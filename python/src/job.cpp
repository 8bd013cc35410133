#include "job.h"

#include <cerrno>
#include <optional>
#include <string>

#include "docstrings.h"
#include "errors.h"
#include "job/job.h"
#include "phases.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

// A failure the system explains is that OSError on that file; a failed write
// without the system's reason an input/output error on the output; any other failure
// a ValueError with the job's message.
[[noreturn]] void raise_failure(const JobError &error) {
  if (error.error_number != 0) raise_os_error(error.error_number, native_file_name(error.path));
  if (error.kind == JobError::Kind::output || error.kind == JobError::Kind::standard_output)
    raise_os_error(EIO, native_file_name(error.path));
  raise_value_error(error.message);
}

std::optional<std::string> optional_path(const py::object &path) {
  if (path.is_none()) return std::nullopt;
  return file_name(path).native;
}

}  // namespace

int run(const py::object &response, const py::object &phases, const py::object &output,
        const py::object &monitors, const py::object &column) {
  JobOptions options;
  options.response = optional_path(response);
  options.phases = optional_path(phases);
  options.output = file_name(output).native;
  // The command line's "-" is standard output; here every output is a file.
  if (options.output == "-") options.output = "./-";
  if (!monitors.is_none()) options.monitors = count_argument(monitors, "monitors");
  // Called with nothing but defaults, this is the bare command, which reads its
  // phases as it always has; any option makes it strict, as on the command line.
  const bool bare = response.is_none() && phases.is_none() && monitors.is_none() &&
                    options.output == "er.csv" && py::isinstance<py::int_>(column) &&
                    column.equal(py::int_(0));
  if (!bare) options.column = phase_column(column);
  options.strict_phases = !bare;

  JobResult result;
  {
    py::gil_scoped_release release;
    result = run_job(options);
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
