// Failures of the library and the tool as the Python exceptions their callers expect.
#ifndef RESPMAT_PYTHON_SRC_ERRORS_H
#define RESPMAT_PYTHON_SRC_ERRORS_H

#include <pybind11/pybind11.h>

#include <string>

#include "base/failure.h"

namespace respmat::python {

// A file name as Python shows it (a str) and as the C library takes it (encoded the
// way the operating system names files).
struct FileName {
  pybind11::object given;
  std::string native;
};

// Converts a str, bytes or os.PathLike; raises TypeError for anything else.
[[nodiscard]] FileName file_name(const pybind11::handle &path);

// A file name the C side produced.
[[nodiscard]] FileName native_file_name(std::string native);

// True for what file_name() accepts.
[[nodiscard]] bool is_file_name(const pybind11::handle &object);

// Raises the OSError subclass that matches `error` (FileNotFoundError,
// PermissionError, IsADirectoryError, …), carrying errno, its message and the file.
[[noreturn]] void raise_os_error(int error, const FileName &file);

// Raises ValueError for malformed content, naming the file it came from.
[[noreturn]] void raise_content_error(const FileName &file, const std::string &reason);

// Raises ValueError with a message from the C side.
[[noreturn]] void raise_value_error(const std::string &message);

// Raises what a command's failure is to Python: the OSError of the system's reason
// when it gave one (an input/output error for a failed write without one), else
// ValueError with the tool's message.
[[noreturn]] void raise_failure(const Failure &failure);

}  // namespace respmat::python

#endif
