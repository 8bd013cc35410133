// The tool's whole job, for Python callers.
#ifndef RESPMAT_PYTHON_SRC_RUN_H
#define RESPMAT_PYTHON_SRC_RUN_H

#include <pybind11/pybind11.h>

namespace respmat::python {

// Runs the job the command line would run with these options and returns m; the
// tool's failures become exceptions and its warnings Python warnings.
[[nodiscard]] int run(const pybind11::object &response, const pybind11::object &phases,
                      const pybind11::object &output, const pybind11::object &monitors,
                      const pybind11::object &column);

// Adds run to the module.
void bind_run(pybind11::module_ &module);

}  // namespace respmat::python

#endif
