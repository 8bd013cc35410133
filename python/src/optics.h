// The model of an optics table, for Python callers.
#ifndef RESPMAT_PYTHON_SRC_OPTICS_H
#define RESPMAT_PYTHON_SRC_OPTICS_H

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "model/optics_model.h"

namespace respmat::python {

// An optics table and how to make its model: the arguments of optics_model().
struct OpticsArguments {
  pybind11::object path;
  std::string plane = "x";
  std::string lattice = "line";
  double scale = 1.0;
  std::optional<std::string> monitors_match;
  std::optional<std::string> correctors_match;
  std::optional<bool> correctors_at_monitors;
  std::string rf = "free";
  std::optional<double> momentum_compaction;
  std::optional<double> circumference;
};

// Reads the table (with the GIL released) and makes its model, as the tool does.
// Raises OSError when the table cannot be read and ValueError for malformed content
// or arguments.
[[nodiscard]] OpticsModel optics_table_model(const OpticsArguments &arguments);

// Adds optics_model to the module.
void bind_optics(pybind11::module_ &module);

}  // namespace respmat::python

#endif
