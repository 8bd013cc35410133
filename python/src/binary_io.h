// The library's binary matrix form to and from named files and Python file objects.
#ifndef RESPMAT_PYTHON_SRC_BINARY_IO_H
#define RESPMAT_PYTHON_SRC_BINARY_IO_H

#include <pybind11/numpy.h>

namespace respmat::python {

// Reads one matrix: a named file's first, or the next one of an open binary file.
[[nodiscard]] pybind11::array read_bin(const pybind11::object &source);

// Writes one matrix: a named file is replaced whole, an open binary file gets it at
// its position.
void write_bin(const pybind11::handle &array, const pybind11::object &target);

// Adds read_bin and write_bin to the module.
void bind_binary_io(pybind11::module_ &module);

}  // namespace respmat::python

#endif
