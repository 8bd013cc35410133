#include "heat_map.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "array_view.h"
#include "errors.h"
#include "picture/heat_map.h"
#include "output_file.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

constexpr char kHeatmap[] = R"(heatmap(matrix, path, *, title='', row_names=None, column_names=None, range=None, units='')
--

Draw a 2-D array as a heat map picture, as the tool's --heatmap draws the model.

The file name's extension chooses the format: '.svg' gives SVG, '.pdf' PDF (in any
case), anything else PNG. Entries are blocks of one colour, at least 600 pixels
(points for SVG and PDF) to a side of the plot; beyond 2048 rows or columns each
block is the mean of several entries. Colours run from blue (-range) through white
(0) to red (+range), entries beyond the range take the colour of its end, and a
block with a NaN among its entries is black. A colour bar with its values at round
numbers and its label (the units) stands beside the plot; rows (row 0 at the top)
and columns are labelled with their names or 0-based indices, as many as fit without
overlapping. Up to 300 rows and columns, SVG and PDF draw each block as a filled
rectangle; beyond, as one image.

Parameters
----------
matrix : array_like
    Two-dimensional; converted once to C-contiguous float64 if it is not already.
path : str, bytes or os.PathLike
    The file to write. It is replaced whole: the picture goes to a temporary file
    beside it that is renamed over it only when complete, so on failure the file
    keeps its previous contents.
title : str
    Drawn above the plot; empty for none.
row_names, column_names : sequence of str or None
    One name per row or column; None labels them with their indices.
range : float or None
    The bound of the colour scale, a positive finite number. None: the largest
    finite magnitude among the entries (1 when there is none but 0).
units : str
    The entries' units, the colour bar's label ("mm/mrad"); empty for none.

Raises
------
ValueError
    The array is not two-dimensional or has more than 2**31 - 1 rows or columns,
    a sequence of names is not as long as the rows or columns, or the range is not
    a positive finite number.
TypeError
    The names are not a sequence of str, or the range is not a number.
OSError
    The file cannot be created or written (PermissionError, FileNotFoundError for a
    missing folder, ...), with errno and filename set.)";


// Names for `count` rows or columns: None for none, else a sequence of that many str.
std::vector<std::string> names_argument(const py::object &names, py::ssize_t count, const std::string &what) {
  if (names.is_none()) return {};
  if (py::isinstance<py::str>(names) || py::isinstance<py::bytes>(names) || !py::isinstance<py::sequence>(names))
    throw py::type_error(what + " must be a sequence of str or None");
  const auto sequence = py::reinterpret_borrow<py::sequence>(names);
  if (static_cast<py::ssize_t>(sequence.size()) != count)
    throw py::value_error(what + " holds " + std::to_string(sequence.size()) + " names for " + std::to_string(count));
  std::vector<std::string> result;
  result.reserve(sequence.size());
  for (const py::handle name : sequence) {
    if (!py::isinstance<py::str>(name)) throw py::type_error(what + " must hold str alone");
    result.push_back(name.cast<std::string>());
  }
  return result;
}

// A range as the caller gave it: None, or a number (an object with __float__ or __index__).
std::optional<double> range_argument(const py::object &range) {
  if (range.is_none()) return std::nullopt;
  const double value = PyFloat_AsDouble(range.ptr());
  if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  if (!(std::isfinite(value) && value > 0)) throw py::value_error("range must be a positive finite number or None");
  return value;
}

// The picture on the caller's scale, row by row.
bool draw_on_scale(std::FILE *stream, PictureFormat format, const Float64Array &values, double range,
                   const HeatMapStyle &style) {
  const auto rows = static_cast<std::int32_t>(values.shape(0));
  const auto cols = static_cast<std::int32_t>(values.shape(1));
  HeatMap map(stream, format, rows, cols, range, style);
  if (!map.start()) return false;
  std::vector<double> row(static_cast<std::size_t>(cols));
  for (std::int32_t i = 0; i < rows; ++i) {
    std::copy_n(values.data(i, 0), cols, row.begin());
    if (!map.add_row(row, cols)) return false;
  }
  return map.finish();
}

}  // namespace

void heatmap(const py::handle &matrix, const py::object &path, const HeatMapArguments &arguments) {
  const Float64Array values = as_float64(matrix, 2);
  const FileName name = file_name(path);
  const std::optional<double> range = range_argument(arguments.range);
  HeatMapStyle style;
  style.title = arguments.title;
  style.units = arguments.units;
  style.row_names = names_argument(arguments.row_names, values.shape(0), "row_names");
  style.column_names = names_argument(arguments.column_names, values.shape(1), "column_names");
  const PictureFormat format = picture_format(name.native);
  replace_file(name, [&](std::FILE *stream, const std::atomic<bool> &) {
    if (range) return draw_on_scale(stream, format, values, *range, style);
    return draw_heat_map(stream, format, values.data(), static_cast<std::int32_t>(values.shape(0)),
                         static_cast<std::int32_t>(values.shape(1)), style);
  });
}

void bind_heat_map(py::module_ &module) {
  module.def(
      "heatmap",
      [](const py::handle &matrix, const py::object &path, std::string title, const py::object &row_names,
         const py::object &column_names, const py::object &range, std::string units) {
        heatmap(matrix, path,
                HeatMapArguments{std::move(title), row_names, column_names, range, std::move(units)});
      },
      py::arg("matrix"), py::arg("path"), py::kw_only(), py::arg("title") = "", py::arg("row_names") = py::none(),
      py::arg("column_names") = py::none(), py::arg("range") = py::none(), py::arg("units") = "", kHeatmap);
}

}  // namespace respmat::python
