// The model of an optics table, for Python callers.
#ifndef RESPMAT_PYTHON_SRC_OPTICS_H
#define RESPMAT_PYTHON_SRC_OPTICS_H

#include <pybind11/pybind11.h>

namespace respmat::python {

// Adds optics_model to the module.
void bind_optics(pybind11::module_ &module);

}  // namespace respmat::python

#endif
