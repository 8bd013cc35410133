// Delimited text to and from numpy arrays.
#ifndef RESPMAT_PYTHON_SRC_TEXT_IO_H
#define RESPMAT_PYTHON_SRC_TEXT_IO_H

#include <pybind11/numpy.h>

namespace respmat::python {

// How a delimited text file is cut into fields, as the caller gave it.
struct TextLayout {
  pybind11::object drop_rows;
  pybind11::object sep;
  pybind11::object quote;
  pybind11::object skip;
  bool skip_blank = true;
};

// Loads a delimited text file into a new C-contiguous float64 array, every value
// as matrix_load_text() gives it.
[[nodiscard]] pybind11::array load_text(const pybind11::object &path, const TextLayout &layout);

// Writes a 2-D array as the tool writes er.csv, replacing the file whole.
void save_csv(const pybind11::handle &array, const pybind11::object &path);

// Adds load_text and save_csv to the module.
void bind_text_io(pybind11::module_ &module);

}  // namespace respmat::python

#endif
