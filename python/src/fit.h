// The model's constants fitted to a measured response matrix, for Python callers.
#ifndef RESPMAT_PYTHON_SRC_FIT_H
#define RESPMAT_PYTHON_SRC_FIT_H

#include <pybind11/pybind11.h>

namespace respmat::python {

// Adds fit to the module.
void bind_fit(pybind11::module_ &module);

}  // namespace respmat::python

#endif
