// Heat-map pictures of numpy arrays.
#ifndef RESPMAT_PYTHON_SRC_HEAT_MAP_H
#define RESPMAT_PYTHON_SRC_HEAT_MAP_H

#include <pybind11/pybind11.h>

#include <string>

namespace respmat::python {

// The words and the scale of a picture, as the caller gave them.
struct HeatMapArguments {
  std::string title;
  pybind11::object row_names;
  pybind11::object column_names;
  pybind11::object range;
  std::string units;
};

// Draws a 2-D array as a heat map (PNG, SVG or PDF by the file name's extension),
// replacing the file whole.
void heatmap(const pybind11::handle &matrix, const pybind11::object &path, const HeatMapArguments &arguments);

// Adds heatmap to the module.
void bind_heat_map(pybind11::module_ &module);

}  // namespace respmat::python

#endif
