// respmat.correct and respmat.svd: orbit correction and the singular value
// decomposition over numpy arrays.
#ifndef RESPMAT_PYTHON_SRC_CORRECTION_H
#define RESPMAT_PYTHON_SRC_CORRECTION_H

#include <pybind11/pybind11.h>

namespace respmat::python {

void bind_correction(pybind11::module_ &module);

}  // namespace respmat::python

#endif
