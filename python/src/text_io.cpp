#include "text_io.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "docstrings.h"
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
      py::arg("skip") = py::none(), py::arg("skip_blank") = true, docs::kLoadText);
  module.def("save_csv", &save_csv, py::arg("array"), py::arg("path"), docs::kSaveCsv);
}

}  // namespace respmat::python
