#include "binary_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "docstrings.h"
#include "array_view.h"
#include "errors.h"
#include "output_file.h"
#include "python_stream.h"
#include "respmat/owners.hpp"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr const char *kMalformed =
    "not a whole binary matrix (the header is incomplete, a count is negative, or the "
    "elements end early)";

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// The matrix's elements in a new array, copied row by row without the GIL.
py::array to_array(const OwnedMatrix &M) {
  const std::int32_t rows = matrix_rows(M.get());
  const std::int32_t cols = matrix_cols(M.get());
  Float64Array array = new_float64(rows, cols);
  double *data = array.mutable_data();
  py::gil_scoped_release release;
  for (std::int32_t r = 0; r < rows; ++r)
    std::memcpy(data + static_cast<std::ptrdiff_t>(r) * cols, M.get()[r], cols * sizeof(double));
  return array;
}

py::array read_named(const FileName &name) {
  OwnedMatrix M;
  int error = 0;
  bool empty = false;
  {
    py::gil_scoped_release release;
    errno = 0;
    const OwnedFile file(std::fopen(name.native.c_str(), "rb"));
    struct stat info;
    if (!file) {
      error = errno;
    } else if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
      error = EISDIR;
    } else {
      errno = 0;
      M.reset(matrix_read_bin(file.get()));
      if (std::ferror(file.get())) error = errno != 0 ? errno : EIO;
      empty = !M && ftello(file.get()) == 0;
    }
  }
  if (error != 0) raise_os_error(error, name);
  if (empty) raise_content_error(name, "holds no matrix");
  if (!M) raise_content_error(name, kMalformed);
  return to_array(M);
}

py::array read_stream(const py::object &file) {
  PythonStream stream(file, PythonStream::Mode::kRead);
  OwnedMatrix M;
  {
    py::gil_scoped_release release;
    M.reset(matrix_read_bin(stream.get()));
  }
  stream.finish();
  // A stream read to its end is how a sequence of matrices ends.
  if (!M && stream.bytes_read() == 0) {
    PyErr_SetString(PyExc_EOFError, "no matrix left in the file");
    throw py::error_already_set();
  }
  if (!M) throw py::value_error(kMalformed);
  return to_array(M);
}

}  // namespace

py::array read_bin(const py::object &source) {
  return is_file_name(source) ? read_named(file_name(source)) : read_stream(source);
}

void write_bin(const py::handle &array, const py::object &target) {
  const Float64Array values = as_float64(array, 2);
  const RowView view(values);
  if (is_file_name(target)) {
    replace_file(file_name(target), [&](std::FILE *stream) { matrix_write_bin(view.get(), stream); });
    return;
  }
  PythonStream stream(target, PythonStream::Mode::kWrite);
  {
    py::gil_scoped_release release;
    matrix_write_bin(view.get(), stream.get());
  }
  stream.finish();
}

void bind_binary_io(py::module_ &module) {
  module.def("read_bin", &read_bin, py::arg("source"), docs::kReadBin);
  module.def("write_bin", &write_bin, py::arg("array"), py::arg("target"), docs::kWriteBin);
}

}  // namespace respmat::python
