// Delimited text to and from numpy arrays.
#ifndef RESPMAT_PYTHON_TEXT_IO_H
#define RESPMAT_PYTHON_TEXT_IO_H

#include <pybind11/numpy.h>

namespace respmat::python {

// Writes a 2-D array as the tool writes er.csv, replacing the file whole.
void save_csv(const pybind11::handle &array, const pybind11::object &path);

}  // namespace respmat::python

#endif
