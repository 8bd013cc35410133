#include "text_io.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "array_view.h"
#include "errors.h"
#include "base/huge_pages.h"
#include "interruptible.h"
#include "matrix/csv_buffer.h"
#include "matrix/parallel_load.h"
#include "output_file.h"
#include "phases.h"
#include "respmat/matrix.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr char kLoadText[] = R"(load_text(path, *, drop_rows=0, sep=',', quote=None, skip=None, skip_blank=True)
--

Load a delimited text file of numbers into a 2-D float64 array.

The values are bit for bit those of the library's matrix_load_text: the file is cut
into lines (LF, CR or CR LF), each data line into fields, and each field is read
like C's atof (leading blanks, '+', exponents, hex floats, 'inf' and 'nan' are
accepted; an empty or non-numeric field is 0.0). The first data line sets the
number of columns: missing fields of a shorter line are 0.0 and extra fields of a
longer one are ignored. A file without data lines gives shape (0, 0). The file is
read in large blocks and converted on several threads straight into the array.

Parameters
----------
path : str, bytes or os.PathLike
    The file.
drop_rows : int
    Data lines to leave out at the start (a header row, say); comment lines do not
    count. More than the file has leaves shape (0, 0).
sep : str or None
    The field separator, matched as a whole string; None splits at runs of blanks
    (space, tab, ...) instead.
quote : str or None
    One ASCII character between whose pairs a separator does not split; the quote
    characters stay in the field (so a quoted field reads as 0.0). None: no quoting.
skip : str or None
    Lines that start with this text are comments and left out. None: no comments.
skip_blank : bool
    Blank lines (empty, or nothing but spaces and tabs) are left out too, as numpy
    reads them; the tool's er.csv, which ends with an empty line, loads as m x m.
    False keeps the library's rule: a blank line is a row (of 0.0).

Returns
-------
numpy.ndarray
    float64, C-contiguous, shape (rows, cols).

Raises
------
OSError
    The file cannot be opened or read (FileNotFoundError, PermissionError,
    IsADirectoryError, ...), with errno and filename set.
ValueError
    The file has more rows or columns than 2**31 - 1, or an argument is malformed
    (a quote of more than one character, a NUL in sep or skip, a negative drop_rows).
MemoryError
    The array does not fit in memory.)";

constexpr char kSaveCsv[] = R"(save_csv(array, path)
--

Write a 2-D array as comma-separated text, byte for byte as the tool writes er.csv.

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
    missing folder, ...), with errno and filename set.)";


// One contiguous block for the whole result, allocated once the loader knows the
// shape; the rows are converted straight into it and the block becomes the array's
// memory, with no copy.
class ContiguousRows final : public detail::RowDestination {
 public:
  bool reserve(std::int32_t rows, std::int32_t cols) override {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(rows), static_cast<std::size_t>(cols), &bytes) ||
        __builtin_mul_overflow(bytes, sizeof(double), &bytes))
      return false;
    block_.reset(static_cast<double *>(detail::allocate_in_huge_pages(bytes)));
    cols_ = cols;
    return block_ != nullptr;
  }
  double *row(std::int32_t index) override { return block_.get() + static_cast<std::ptrdiff_t>(index) * cols_; }

  // The block as a rows x cols array that owns it.
  py::array take(std::int32_t rows, std::int32_t cols) {
    const py::capsule owner(block_.get(), [](void *block) { std::free(block); });
    block_.release();
    return Float64Array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)},
                        static_cast<const double *>(owner.get_pointer()), owner);
  }

 private:
  detail::HugePageBlock<double> block_;
  std::int32_t cols_ = 0;
};

// A separator or comment prefix as the C side takes it: UTF-8 text without NUL bytes.
std::optional<std::string> text_argument(const py::object &value, const char *what) {
  if (value.is_none()) return std::nullopt;
  if (!py::isinstance<py::str>(value)) throw py::type_error(std::string(what) + " must be a str or None");
  std::string text = value.cast<std::string>();
  if (text.find('\0') != std::string::npos) throw py::value_error(std::string(what) + " holds a NUL character");
  return text;
}

char quote_argument(const py::object &value) {
  const std::optional<std::string> quote = text_argument(value, "quote");
  if (!quote) return '\0';
  if (quote->size() != 1 || static_cast<unsigned char>((*quote)[0]) >= 0x80)
    throw py::value_error("quote must be one ASCII character or None");
  return (*quote)[0];
}

}  // namespace

py::array load_text(const py::object &path, const TextLayout &layout) {
  const FileName name = file_name(path);
  const std::optional<std::string> sep = text_argument(layout.sep, "sep");
  const std::optional<std::string> skip = text_argument(layout.skip, "skip");
  detail::TextLoadOptions options;
  options.drop_rows = count_argument(layout.drop_rows, "drop_rows");
  options.sep = sep ? sep->c_str() : nullptr;
  options.quote = quote_argument(layout.quote);
  options.skip = skip ? skip->c_str() : nullptr;
  options.skip_blank_lines = layout.skip_blank;

  ContiguousRows rows;
  const detail::TextLoadResult result = run_interruptibly([&](const std::atomic<bool> &stop) {
    options.stop = &stop;
    return detail::load_text(name.native.c_str(), options, rows);
  });
  switch (result.status) {
    case detail::TextLoadStatus::kOk:
      return rows.take(result.rows, result.cols);
    case detail::TextLoadStatus::kCannotOpen:
    case detail::TextLoadStatus::kReadError:
      raise_os_error(result.error != 0 ? result.error : EIO, name);
    case detail::TextLoadStatus::kTooLarge:
      raise_content_error(name, "has more rows or columns than a matrix holds (2147483647)");
    case detail::TextLoadStatus::kStopped:  // only once run_interruptibly has raised
    case detail::TextLoadStatus::kNoMemory:
      break;
  }
  throw std::bad_alloc();
}

void save_csv(const py::handle &array, const py::object &path) {
  const Float64Array values = as_float64(array, 2);
  const RowView view(values);
  replace_file(file_name(path), [&](std::FILE *stream, const std::atomic<bool> &stop) {
    static_cast<void>(detail::write_csv(view.get(), stream, false, &stop));
  });
}

void bind_text_io(py::module_ &module) {
  module.def(
      "load_text",
      [](const py::object &path, const py::object &drop_rows, const py::object &sep, const py::object &quote,
         const py::object &skip, bool skip_blank) {
        return load_text(path, TextLayout{drop_rows, sep, quote, skip, skip_blank});
      },
      py::arg("path"), py::kw_only(), py::arg("drop_rows") = 0, py::arg("sep") = ",", py::arg("quote") = py::none(),
      py::arg("skip") = py::none(), py::arg("skip_blank") = true, kLoadText);
  module.def("save_csv", &save_csv, py::arg("array"), py::arg("path"), kSaveCsv);
}

}  // namespace respmat::python
