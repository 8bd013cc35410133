// A measured response matrix against a model, for Python callers.
#ifndef RESPMAT_PYTHON_SRC_COMPARISON_H
#define RESPMAT_PYTHON_SRC_COMPARISON_H

#include <pybind11/pybind11.h>

namespace respmat::python {

// Adds compare to the module.
void bind_comparison(pybind11::module_ &module);

}  // namespace respmat::python

#endif
