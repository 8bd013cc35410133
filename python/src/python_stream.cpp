#include "python_stream.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace py = pybind11;

namespace respmat::python {

namespace {

// Writes reach the file object in blocks of this size rather than one call per row.
constexpr std::size_t kWriteBuffer = 1 << 20;

[[noreturn]] void raise(PyObject *type, const std::string &message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

// Bytes [begin, end) of `owner` (Python's memory, which the view keeps alive), lent
// to a file object for one call and released when the call returns.
class LentView {
 public:
  LentView(const py::object &owner, std::size_t begin, std::size_t end) {
    const py::memoryview whole(owner);
    view_ = whole[py::slice(static_cast<py::ssize_t>(begin), static_cast<py::ssize_t>(end), 1)];
    release(whole);
  }
  LentView(const LentView &) = delete;
  LentView &operator=(const LentView &) = delete;
  ~LentView() { release(view_); }
  [[nodiscard]] const py::object &get() const { return view_; }

 private:
  // A view the callee made a buffer of cannot be released (BufferError); its memory
  // stays valid for as long as that buffer lives.
  static void release(const py::handle &view) {
    PyObject *done = PyObject_CallMethod(view.ptr(), "release", nullptr);
    if (done == nullptr) PyErr_Clear();
    Py_XDECREF(done);
  }

  py::object view_;
};

// The count of bytes a readinto() or write() call returned, which must lie in
// [0, offered].
std::size_t checked_count(const py::object &result, std::size_t offered, const char *method) {
  if (!PyLong_Check(result.ptr()))
    raise(PyExc_TypeError, std::string(method) + " returned " + Py_TYPE(result.ptr())->tp_name +
                               ", not a count of bytes");
  int overflow = 0;
  const long long count = PyLong_AsLongLongAndOverflow(result.ptr(), &overflow);
  const std::string said = py::str(result);
  if (overflow != 0 || count < 0)
    raise(PyExc_ValueError, std::string(method) + " returned " + said + ", not a count of bytes");
  if (static_cast<unsigned long long>(count) > offered)
    raise(PyExc_ValueError, std::string(method) + " reported " + said + " bytes: more bytes than asked for (" +
                                std::to_string(offered) + ")");
  return static_cast<std::size_t>(count);
}

}  // namespace

py::object new_bytearray(std::size_t size) {
  auto bytes = py::reinterpret_steal<py::object>(PyByteArray_FromStringAndSize(nullptr, static_cast<py::ssize_t>(size)));
  if (!bytes) throw py::error_already_set();
  return bytes;
}

PythonReader::PythonReader(py::object file) {
  has_readinto_ = py::hasattr(file, "readinto");
  if (!has_readinto_ && !py::hasattr(file, "read"))
    throw py::type_error("expected a file name or a binary file object with readinto() or read()");
  transfer_ = file.attr(has_readinto_ ? "readinto" : "read");
}

std::size_t PythonReader::fill(const py::object &buffer) {
  const auto size = static_cast<std::size_t>(PyByteArray_Size(buffer.ptr()));
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = read_part(buffer, done, size);
    if (got == 0) break;
    done += got;
    bytes_read_ += got;
  }
  return done;
}

std::size_t PythonReader::read_part(const py::object &buffer, std::size_t begin, std::size_t end) {
  const std::size_t asked = end - begin;
  if (has_readinto_) {
    const LentView view(buffer, begin, end);
    const py::object result = transfer_(view.get());
    if (result.is_none()) raise(PyExc_BlockingIOError, "the file has no data ready");
    return checked_count(result, asked, "readinto()");
  }
  const py::object result = transfer_(asked);
  if (result.is_none()) raise(PyExc_BlockingIOError, "the file has no data ready");
  if (!PyBytes_Check(result.ptr()))
    raise(PyExc_TypeError, std::string("read() returned ") + Py_TYPE(result.ptr())->tp_name + ", not bytes");
  const auto got = static_cast<std::size_t>(PyBytes_GET_SIZE(result.ptr()));
  if (got > asked) raise(PyExc_ValueError, "read() returned more bytes than asked for");
  std::memcpy(PyByteArray_AS_STRING(buffer.ptr()) + begin, PyBytes_AS_STRING(result.ptr()), got);
  return got;
}

PythonWriter::PythonWriter(py::object file) : file_(std::move(file)) {
  if (!py::hasattr(file_, "write")) throw py::type_error("expected a file name or a binary file object with write()");
  write_ = file_.attr("write");
  cookie_io_functions_t functions{};
  functions.write = &PythonWriter::write;
  stream_ = fopencookie(this, "wb", functions);
  if (stream_ == nullptr) throw std::bad_alloc();
  std::setvbuf(stream_, nullptr, _IOFBF, kWriteBuffer);
}

PythonWriter::~PythonWriter() { std::fclose(stream_); }

void PythonWriter::transfer_out(const char *buffer, std::size_t size) {
  // The block goes to the file as a bytes object of its own, so that nothing the
  // file keeps can reach the stream's buffer once it is reused.
  const auto block = py::reinterpret_steal<py::object>(PyBytes_FromStringAndSize(buffer, static_cast<py::ssize_t>(size)));
  if (!block) throw py::error_already_set();
  for (std::size_t done = 0; done < size;) {
    const LentView view(block, done, size);
    const py::object result = write_(view.get());
    // Most files take everything and return the count; some return None for that. A
    // raw file may take a part and return how much.
    if (result.is_none()) return;
    const std::size_t wrote = checked_count(result, size - done, "write()");
    if (wrote == 0) raise(PyExc_BlockingIOError, "the file takes no more data");
    done += wrote;
  }
}

ssize_t PythonWriter::write(void *cookie, const char *buffer, std::size_t size) {
  auto *self = static_cast<PythonWriter *>(cookie);
  // After the first failure the library sees only errors, so it stops soon.
  if (!self->error_) {
    py::gil_scoped_acquire gil;
    try {
      self->transfer_out(buffer, size);
      return static_cast<ssize_t>(size);
    } catch (py::error_already_set &error) {
      self->error_.emplace(std::move(error));
    } catch (const std::exception &error) {
      PyErr_SetString(PyExc_ValueError, error.what());
      self->error_.emplace();
    }
  }
  errno = EIO;
  return -1;
}

void PythonWriter::finish() {
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
