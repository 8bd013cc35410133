// The Python module respmat._respmat: the library and the tool's job over numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdio>

#include "array_view.h"
#include "binary_io.h"
#include "errors.h"
#include "output_file.h"
#include "respmat/matrix.h"
#include "respmat/version.h"

namespace py = pybind11;
using namespace respmat::python;

namespace {

void save_csv(const py::handle &array, const py::object &path) {
  const Float64Array values = as_float64(array, 2);
  const RowView view(values);
  replace_file(file_name(path), [&](std::FILE *stream) { matrix_write_csv(view.get(), stream, 0); });
}

}  // namespace

PYBIND11_MODULE(_respmat, m) {
  m.doc() = "Model orbit response matrices and the respmat matrix library over numpy arrays.";
  m.attr("__version__") = respmat_version();

  m.def("save_csv", &save_csv, py::arg("array"), py::arg("path"),
        R"(Write a 2-D array as comma-separated text, byte for byte as the tool writes er.csv.

Each row becomes one line of its values printed like C's "%.16g" (16 significant
digits, shortest form) separated by ",", each line ends with a line feed, and one
more line feed ends the text. An array with no rows or no columns gives a single
line feed.

Parameters
----------
array : array_like
    Two-dimensional; converted once to C-contiguous float64 if it is not already.
path : str, bytes or os.PathLike
    The file to write. It is replaced whole: the text goes to a temporary file
    beside it that is renamed over it only when complete, so on failure the file
    keeps its previous contents.

Raises
------
ValueError
    The array is not two-dimensional or has more than 2**31 - 1 rows or columns.
OSError
    The file cannot be created or written (PermissionError, FileNotFoundError for a
    missing folder, ...), with errno and filename set.)");

  m.def("read_bin", &read_bin, py::arg("source"),
        R"(Read a matrix in the library's binary form.

The form is the row count and the column count as little-endian 32-bit integers,
then the elements as little-endian float64 values row by row, nothing before or
after, so several matrices can follow one another in one file.

Parameters
----------
source : str, bytes, os.PathLike or binary file object
    A file name gives the file's first matrix. An open binary file (anything with
    readinto() or read(), such as open(name, "rb") or io.BytesIO) gives the next
    matrix from its current position and leaves it just past that matrix, so
    repeated calls read a sequence of matrices.

Returns
-------
numpy.ndarray
    float64, C-contiguous, shape (rows, cols); every element bit for bit as stored.

Raises
------
EOFError
    The open file is at its end: no matrix is left.
ValueError
    The data are not a whole matrix: an incomplete header, a negative count, or
    elements ending early (or a named file that is empty).
OSError
    The file cannot be opened or read (FileNotFoundError, PermissionError,
    IsADirectoryError, ...), with errno and filename set; or what the file object
    raised.)");

  m.def("write_bin", &write_bin, py::arg("array"), py::arg("target"),
        R"(Write a 2-D array in the library's binary form (see read_bin).

Parameters
----------
array : array_like
    Two-dimensional; converted once to C-contiguous float64 if it is not already.
target : str, bytes, os.PathLike or binary file object
    A file name is replaced whole by a file holding this one matrix (through a
    temporary file renamed over it, so on failure it keeps its previous contents).
    An open binary file (anything with write(), such as open(name, "wb") or
    io.BytesIO) receives the matrix at its current position, after any written
    before; there a failure may leave part of it written.

Raises
------
ValueError
    The array is not two-dimensional or has more than 2**31 - 1 rows or columns.
OSError
    The file cannot be created or written, with errno and filename set; or what
    the file object raised.)");
}
