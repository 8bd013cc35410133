#include "binary_io.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "array_view.h"
#include "errors.h"
#include "output_file.h"
#include "python_stream.h"
#include "respmat/owners.hpp"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr char kReadBin[] = R"(read_bin(source)
--

Read a matrix in the library's binary form.

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
    raised.)";

constexpr char kWriteBin[] = R"(write_bin(array, target)
--

Write a 2-D array in the library's binary form (see read_bin).

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
    the file object raised.)";


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

// As matrix_read_bin: a header claiming more rows than this without columns is refused.
constexpr std::int32_t kMaxRowsWithoutColumns = 1 << 16;
// The elements are read in chunks that start at this size and double, so that a
// header claiming more than the file holds costs no more memory than the file does.
constexpr std::size_t kFirstChunk = std::size_t{1} << 20;

// The matrix's shape from the header at the start of `reader`; EOFError when the
// file has no bytes left, nothing when the header is not a whole, valid one.
std::optional<std::pair<std::int32_t, std::int32_t>> read_shape(PythonReader &reader) {
  const py::object header = new_bytearray(2 * sizeof(std::int32_t));
  const std::size_t got = reader.fill(header);
  // A stream read to its end is how a sequence of matrices ends.
  if (got == 0) {
    PyErr_SetString(PyExc_EOFError, "no matrix left in the file");
    throw py::error_already_set();
  }
  std::int32_t shape[2];
  if (got != sizeof shape) return std::nullopt;
  std::memcpy(shape, PyByteArray_AS_STRING(header.ptr()), sizeof shape);
  if (shape[0] < 0 || shape[1] < 0 || (shape[1] == 0 && shape[0] > kMaxRowsWithoutColumns)) return std::nullopt;
  return std::pair{shape[0], shape[1]};
}

// The next `size` bytes of `reader`, in as few calls as the file allows, in chunks
// that end to end hold them; nothing when the file ends first.
std::optional<std::vector<py::object>> read_chunks(PythonReader &reader, std::uint64_t size) {
  std::vector<py::object> chunks;
  std::uint64_t chunk = kFirstChunk;
  for (std::uint64_t done = 0; done < size; chunk *= 2) {
    const std::uint64_t want = std::min(chunk, size - done);
    chunks.push_back(new_bytearray(want));
    if (reader.fill(chunks.back()) != want) return std::nullopt;
    done += want;
  }
  return chunks;
}

py::array read_stream(const py::object &file) {
  PythonReader reader(file);
  const auto shape = read_shape(reader);
  if (!shape) throw py::value_error(kMalformed);
  const auto [rows, cols] = *shape;
  const std::uint64_t elements = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
  if (elements > PTRDIFF_MAX / sizeof(double)) throw py::value_error(kMalformed);
  const auto chunks = read_chunks(reader, elements * sizeof(double));
  if (!chunks) throw py::value_error(kMalformed);
  Float64Array array = new_float64(rows, cols);
  auto *out = reinterpret_cast<char *>(array.mutable_data());
  for (const py::object &chunk : *chunks) {
    const auto length = static_cast<std::size_t>(PyByteArray_GET_SIZE(chunk.ptr()));
    std::memcpy(out, PyByteArray_AS_STRING(chunk.ptr()), length);
    out += length;
  }
  return array;
}

}  // namespace

py::array read_bin(const py::object &source) {
  return is_file_name(source) ? read_named(file_name(source)) : read_stream(source);
}

void write_bin(const py::handle &array, const py::object &target) {
  const Float64Array values = as_float64(array, 2);
  const RowView view(values);
  if (is_file_name(target)) {
    replace_file(file_name(target),
                 [&](std::FILE *stream, const std::atomic<bool> &) { matrix_write_bin(view.get(), stream); });
    return;
  }
  PythonWriter stream(target);
  {
    py::gil_scoped_release release;
    matrix_write_bin(view.get(), stream.get());
  }
  stream.finish();
}

void bind_binary_io(py::module_ &module) {
  module.def("read_bin", &read_bin, py::arg("source"), kReadBin);
  module.def("write_bin", &write_bin, py::arg("array"), py::arg("target"), kWriteBin);
}

}  // namespace respmat::python
