// The model response matrix as a numpy array.
#ifndef RESPMAT_PYTHON_SRC_MODEL_MATRIX_H
#define RESPMAT_PYTHON_SRC_MODEL_MATRIX_H

#include <pybind11/numpy.h>

namespace respmat::python {

// The m x m model matrix of m phases (a 1-D array), entry for entry what the tool
// writes to er.csv with the same amplitude and offset.
[[nodiscard]] pybind11::array model(const pybind11::handle &phases, double amplitude, double offset);

// Adds model to the module.
void bind_model(pybind11::module_ &module);

}  // namespace respmat::python

#endif
