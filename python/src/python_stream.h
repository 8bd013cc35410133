// Python binary file objects (open files, io.BytesIO, sockets' files and the like) for
// the library: a reader that fills buffers Python owns, and a C stream over write().
//
// The memory a file object is handed is Python's own, in a memoryview released when
// the call returns: a callee that keeps the view gets ValueError when it touches it,
// and one that kept a buffer of it still holds memory that stays valid.
#ifndef RESPMAT_PYTHON_SRC_PYTHON_STREAM_H
#define RESPMAT_PYTHON_SRC_PYTHON_STREAM_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdio>
#include <optional>

namespace respmat::python {

// A bytearray of `size` bytes, not yet written.
[[nodiscard]] pybind11::object new_bytearray(std::size_t size);

// Reads a binary file object through its readinto() or, lacking that, its read().
// Nothing is read ahead, so the file's position afterwards is just past the bytes
// asked for and the next reader starts where this one stopped. Needs the GIL.
class PythonReader {
 public:
  // Raises TypeError when `file` has neither method.
  explicit PythonReader(pybind11::object file);

  // Fills `buffer`, a bytearray, calling the file until it is full or the file
  // reports its end; returns how many bytes it now holds. Raises what the file
  // raised, BlockingIOError when it has no data ready, and ValueError or TypeError
  // naming the method when a call returns something other than a count it could have.
  std::size_t fill(const pybind11::object &buffer);
  // Bytes read so far.
  [[nodiscard]] std::uint64_t bytes_read() const { return bytes_read_; }

 private:
  std::size_t read_part(const pybind11::object &buffer, std::size_t begin, std::size_t end);

  pybind11::object transfer_;  // the bound readinto or read method
  bool has_readinto_ = false;
  std::uint64_t bytes_read_ = 0;
};

// A C stream over a binary file object's write(), so the library's writers write to
// it; writes reach the file in blocks rather than one call per row.
class PythonWriter {
 public:
  // Needs the GIL; the stream may then be used without it. Raises TypeError when
  // `file` has no write().
  explicit PythonWriter(pybind11::object file);
  PythonWriter(const PythonWriter &) = delete;
  PythonWriter &operator=(const PythonWriter &) = delete;
  // Needs the GIL. Writes out what is still buffered; call finish() first to learn
  // whether that worked.
  ~PythonWriter();

  [[nodiscard]] std::FILE *get() const { return stream_; }
  // Needs the GIL. Flushes the writes and re-raises the first exception the file
  // object raised, or raises OSError when it stopped taking bytes.
  void finish();

 private:
  static ssize_t write(void *cookie, const char *buffer, std::size_t size);
  // Runs under the GIL; raises what the file object raised.
  void transfer_out(const char *buffer, std::size_t size);

  pybind11::object file_;
  pybind11::object write_;  // the bound write method
  std::FILE *stream_ = nullptr;
  std::optional<pybind11::error_already_set> error_;
};

}  // namespace respmat::python

#endif
