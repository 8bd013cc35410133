#include "python_stream.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace py = pybind11;

namespace respmat::python {

namespace {

// Writes reach the file object in blocks of this size rather than one call per row.
constexpr std::size_t kWriteBuffer = 1 << 20;

[[noreturn]] void raise(PyObject *type, const char *message) {
  PyErr_SetString(type, message);
  throw py::error_already_set();
}

}  // namespace

PythonStream::PythonStream(py::object file, Mode mode) : file_(std::move(file)) {
  cookie_io_functions_t functions{};
  if (mode == Mode::kRead) {
    has_readinto_ = py::hasattr(file_, "readinto");
    if (!has_readinto_ && !py::hasattr(file_, "read"))
      throw py::type_error("expected a file name or a binary file object with readinto() or read()");
    transfer_ = file_.attr(has_readinto_ ? "readinto" : "read");
    functions.read = &PythonStream::read;
  } else {
    if (!py::hasattr(file_, "write"))
      throw py::type_error("expected a file name or a binary file object with write()");
    transfer_ = file_.attr("write");
    functions.write = &PythonStream::write;
  }
  stream_ = fopencookie(this, mode == Mode::kRead ? "rb" : "wb", functions);
  if (stream_ == nullptr) throw std::bad_alloc();
  if (mode == Mode::kRead)
    std::setvbuf(stream_, nullptr, _IONBF, 0);
  else
    std::setvbuf(stream_, nullptr, _IOFBF, kWriteBuffer);
}

PythonStream::~PythonStream() { std::fclose(stream_); }

std::size_t PythonStream::transfer_in(char *buffer, std::size_t size) {
  const py::object result =
      has_readinto_ ? transfer_(py::memoryview::from_memory(buffer, static_cast<py::ssize_t>(size)))
                    : transfer_(size);
  if (result.is_none()) raise(PyExc_BlockingIOError, "the file has no data ready");
  if (has_readinto_) {
    const auto got = result.cast<std::size_t>();
    if (got > size) raise(PyExc_ValueError, "readinto() reported more bytes than asked for");
    return got;
  }
  const std::string_view bytes = py::bytes(result);  // TypeError for a text file's str
  if (bytes.size() > size) raise(PyExc_ValueError, "read() returned more bytes than asked for");
  std::memcpy(buffer, bytes.data(), bytes.size());
  return bytes.size();
}

void PythonStream::transfer_out(const char *buffer, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const py::object result = transfer_(
        py::memoryview::from_memory(buffer + done, static_cast<py::ssize_t>(size - done)));
    // Most files take everything and return the count; some return None for that. A
    // raw file may take a part and return how much.
    if (result.is_none()) return;
    const auto wrote = result.cast<std::size_t>();
    if (wrote == 0) raise(PyExc_BlockingIOError, "the file takes no more data");
    done += wrote;
  }
}

ssize_t PythonStream::read(void *cookie, char *buffer, std::size_t size) {
  auto *self = static_cast<PythonStream *>(cookie);
  return self->guarded([&] {
    const std::size_t got = self->transfer_in(buffer, size);
    self->bytes_read_ += got;
    return got;
  });
}

ssize_t PythonStream::write(void *cookie, const char *buffer, std::size_t size) {
  auto *self = static_cast<PythonStream *>(cookie);
  return self->guarded([&] {
    self->transfer_out(buffer, size);
    return size;
  });
}

template <typename Transfer>
ssize_t PythonStream::guarded(Transfer transfer) {
  // After the first failure the library sees only errors, so it stops soon.
  if (!error_) {
    py::gil_scoped_acquire gil;
    try {
      return static_cast<ssize_t>(transfer());
    } catch (py::error_already_set &error) {
      error_.emplace(std::move(error));
    } catch (const std::exception &error) {
      PyErr_SetString(PyExc_ValueError, error.what());
      error_.emplace();
    }
  }
  errno = EIO;
  return -1;
}

void PythonStream::finish() {
  std::fflush(stream_);
  // The exception stays recorded, so closing the stream calls the file no more.
  if (error_) throw *error_;
  if (std::ferror(stream_)) {
    errno = EIO;
    PyErr_SetFromErrno(PyExc_OSError);
    throw py::error_already_set();
  }
}

}  // namespace respmat::python
