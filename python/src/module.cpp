// The Python module respmat._respmat: the library and the tool's job over numpy arrays.
// Each area adds its own functions.
#include <pybind11/pybind11.h>

#include "binary_io.h"
#include "comparison.h"
#include "correction.h"
#include "fit.h"
#include "heat_map.h"
#include "run.h"
#include "model_matrix.h"
#include "optics.h"
#include "phases.h"
#include "respmat/version.h"
#include "text_io.h"

namespace py = pybind11;

PYBIND11_MODULE(_respmat, module) {
  // The docstrings open with the signatures, in the interpreter's own form.
  py::options options;
  options.disable_function_signatures();
  module.doc() = "Model orbit response matrices and the respmat matrix library over numpy arrays.";
  module.attr("__version__") = respmat_version();
  respmat::python::bind_text_io(module);
  respmat::python::bind_model(module);
  respmat::python::bind_optics(module);
  respmat::python::bind_phases(module);
  respmat::python::bind_run(module);
  respmat::python::bind_binary_io(module);
  respmat::python::bind_comparison(module);
  respmat::python::bind_fit(module);
  respmat::python::bind_heat_map(module);
  respmat::python::bind_correction(module);
}
