// numpy arrays as the library's matrices, in both directions, without copying.
#ifndef RESPMAT_PYTHON_SRC_ARRAY_VIEW_H
#define RESPMAT_PYTHON_SRC_ARRAY_VIEW_H

#include <pybind11/numpy.h>

#include <cstdint>
#include <vector>

#include "analysis/dense.h"
#include "respmat/matrix.h"

namespace respmat::python {

using Float64Array = pybind11::array_t<double, pybind11::array::c_style>;

// The caller's array as a C-contiguous float64 array of `ndim` dimensions: the array
// itself when it already is one, otherwise one converted copy (numpy's own rules, so
// numpy's own exceptions for what does not convert). Raises ValueError for another
// number of dimensions and for sizes beyond the library's 32-bit counts.
[[nodiscard]] Float64Array as_float64(const pybind11::handle &array, int ndim);

// A new uninitialised C-contiguous rows x cols float64 array.
[[nodiscard]] Float64Array new_float64(std::int32_t rows, std::int32_t cols);

// A 2-D array's values copied into the analysis's matrix (see as_float64), and back.
[[nodiscard]] analysis::Dense dense_of(const Float64Array &array);
[[nodiscard]] Float64Array array_of(const analysis::Dense &dense);
// A 1-D float64 array of `values`.
[[nodiscard]] pybind11::array_t<double> array_of(const std::vector<double> &values);

// A number as Python shows a result that may be missing: None when not finite.
[[nodiscard]] pybind11::object finite_or_none(double value);

// A Matrix whose row pointers point into a 2-D C-contiguous array, so the library's
// writers can write the array in place. The array must outlive the view.
class RowView {
 public:
  explicit RowView(const Float64Array &array);
  RowView(const RowView &) = delete;
  RowView &operator=(const RowView &) = delete;
  // Releases the row-pointer header alone; the rows belong to the array.
  ~RowView();

  [[nodiscard]] Matrix get() const { return matrix_; }

 private:
  Matrix matrix_;
};

}  // namespace respmat::python

#endif
