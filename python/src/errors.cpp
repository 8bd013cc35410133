#include "errors.h"

#include <cerrno>

namespace py = pybind11;

namespace respmat::python {

bool is_file_name(const py::handle &object) {
  return py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object) ||
         py::hasattr(object, "__fspath__");
}

FileName file_name(const py::handle &path) {
  PyObject *encoded = nullptr;
  if (PyUnicode_FSConverter(path.ptr(), &encoded) == 0) throw py::error_already_set();
  const auto bytes = py::reinterpret_steal<py::bytes>(encoded);
  std::string native = bytes;
  // A file name cannot hold a NUL byte; the C library would cut it short there.
  if (native.find('\0') != std::string::npos) throw py::value_error("embedded null byte in file name");
  // Exceptions name the file as a str, the way open() does for any kind of path.
  auto given = py::reinterpret_steal<py::object>(
      PyUnicode_DecodeFSDefaultAndSize(native.data(), static_cast<Py_ssize_t>(native.size())));
  if (!given) throw py::error_already_set();
  return {std::move(given), std::move(native)};
}

void raise_os_error(int error, const FileName &file) {
  errno = error;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file.given.ptr());
  throw py::error_already_set();
}

void raise_content_error(const FileName &file, const std::string &reason) {
  const py::str message = py::str("{}: {}").format(file.given, reason);
  PyErr_SetObject(PyExc_ValueError, message.ptr());
  throw py::error_already_set();
}

}  // namespace respmat::python
