#include "errors.h"

#include <cerrno>

namespace py = pybind11;

namespace respmat::python {

namespace {

// Text from the C side (file names, messages that quote them) as a str; bytes that are
// not valid in the file system's encoding survive as surrogate escapes, as in os.fsdecode.
py::str decoded(const std::string &text) {
  auto result = py::reinterpret_steal<py::str>(
      PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!result) throw py::error_already_set();
  return result;
}

}  // namespace

bool is_file_name(const py::handle &object) {
  return py::isinstance<py::str>(object) || py::isinstance<py::bytes>(object) ||
         py::hasattr(object, "__fspath__");
}

FileName file_name(const py::handle &path) {
  // Refuses a name holding a NUL byte, which the C library would cut short there.
  PyObject *encoded = nullptr;
  if (PyUnicode_FSConverter(path.ptr(), &encoded) == 0) throw py::error_already_set();
  const auto bytes = py::reinterpret_steal<py::bytes>(encoded);
  std::string native = bytes;
  FileName name = native_file_name(std::move(native));
  // The tool's "-" is a standard stream; a name given here is always a file.
  if (name.native == "-") name.native = "./-";
  return name;
}

FileName native_file_name(std::string native) {
  // Exceptions name the file as a str, the way open() does for any kind of path.
  py::object given = decoded(native);
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

void raise_failure(const Failure &failure) {
  if (failure.error_number != 0) raise_os_error(failure.error_number, native_file_name(failure.path));
  if (failure.kind == Failure::Kind::output || failure.kind == Failure::Kind::standard_output)
    raise_os_error(EIO, native_file_name(failure.path));
  raise_value_error(failure.message);
}

void raise_value_error(const std::string &message) {
  PyErr_SetObject(PyExc_ValueError, decoded(message).ptr());
  throw py::error_already_set();
}

}  // namespace respmat::python
