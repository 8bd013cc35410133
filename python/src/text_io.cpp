#include "text_io.h"

#include <cstdio>

#include "array_view.h"
#include "errors.h"
#include "output_file.h"
#include "respmat/matrix.h"

namespace py = pybind11;

namespace respmat::python {

void save_csv(const py::handle &array, const py::object &path) {
  const Float64Array values = as_float64(array, 2);
  const RowView view(values);
  replace_file(file_name(path), [&](std::FILE *stream) { matrix_write_csv(view.get(), stream, 0); });
}

}  // namespace respmat::python
