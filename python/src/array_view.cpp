#include "array_view.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

namespace py = pybind11;

namespace respmat::python {

Float64Array as_float64(const py::handle &array, int ndim) {
  const py::object numpy = py::module_::import("numpy");
  py::object converted = numpy.attr("ascontiguousarray")(array, py::arg("dtype") = numpy.attr("float64"));
  auto result = py::reinterpret_steal<Float64Array>(converted.release());
  if (result.ndim() != ndim)
    throw py::value_error("expected a " + std::to_string(ndim) + "-D array, got " +
                          std::to_string(result.ndim()) + "-D");
  for (int axis = 0; axis < ndim; ++axis)
    if (result.shape(axis) > INT32_MAX)
      throw py::value_error("array dimension " + std::to_string(result.shape(axis)) +
                            " exceeds the 2147483647 rows or columns of a matrix");
  return result;
}

Float64Array new_float64(std::int32_t rows, std::int32_t cols) {
  return Float64Array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
}

RowView::RowView(const Float64Array &array)
    : matrix_(matrix_alloc_header(static_cast<std::int32_t>(array.shape(0)),
                                  static_cast<std::int32_t>(array.shape(1)))) {
  if (matrix_ == nullptr) throw std::bad_alloc();
  // A const view: the library's writers take a Matrix but only read through it.
  auto *data = const_cast<double *>(array.data());
  const std::int32_t rows = matrix_rows(matrix_);
  const std::int32_t cols = matrix_cols(matrix_);
  for (std::int32_t r = 0; r < rows; ++r) matrix_[r] = data + static_cast<std::ptrdiff_t>(r) * cols;
}

RowView::~RowView() {
  for (std::int32_t r = 0; r < matrix_rows(matrix_); ++r) matrix_[r] = nullptr;
  matrix_free(matrix_);
}

analysis::Dense dense_of(const Float64Array &array) {
  analysis::Dense dense(static_cast<std::int32_t>(array.shape(0)), static_cast<std::int32_t>(array.shape(1)));
  std::copy_n(array.data(), dense.values.size(), dense.values.begin());
  return dense;
}

Float64Array array_of(const analysis::Dense &dense) {
  Float64Array array = new_float64(dense.rows, dense.cols);
  std::copy(dense.values.begin(), dense.values.end(), array.mutable_data());
  return array;
}

pybind11::array_t<double> array_of(const std::vector<double> &values) {
  return pybind11::array_t<double>(static_cast<pybind11::ssize_t>(values.size()), values.data());
}

pybind11::object finite_or_none(double value) {
  return std::isfinite(value) ? pybind11::object(pybind11::float_(value)) : pybind11::none();
}

}  // namespace respmat::python
