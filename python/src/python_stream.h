// A C stream over a Python binary file object, so the library's stream readers and
// writers work on open files, io.BytesIO, sockets' files and the like.
#ifndef RESPMAT_PYTHON_SRC_PYTHON_STREAM_H
#define RESPMAT_PYTHON_SRC_PYTHON_STREAM_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdio>
#include <optional>

namespace respmat::python {

class PythonStream {
 public:
  enum class Mode { kRead, kWrite };

  // Wraps `file`, whose readinto() or read() (reading) or write() (writing) takes and
  // gives bytes. Reading is unbuffered, so the file's position afterwards is just past
  // the bytes the library consumed and the next reader starts where this one stopped.
  // Needs the GIL; the stream may then be used without it.
  PythonStream(pybind11::object file, Mode mode);
  PythonStream(const PythonStream &) = delete;
  PythonStream &operator=(const PythonStream &) = delete;
  // Needs the GIL. Writes out what is still buffered; call finish() first to learn
  // whether that worked.
  ~PythonStream();

  [[nodiscard]] std::FILE *get() const { return stream_; }
  // Bytes handed to the library so far.
  [[nodiscard]] std::uint64_t bytes_read() const { return bytes_read_; }
  // Needs the GIL. Flushes the writes and re-raises the first exception the file
  // object raised, or raises OSError when it stopped taking or giving bytes.
  void finish();

 private:
  static ssize_t read(void *cookie, char *buffer, std::size_t size);
  static ssize_t write(void *cookie, const char *buffer, std::size_t size);
  // Run under the GIL; they raise what the file object raised.
  std::size_t transfer_in(char *buffer, std::size_t size);
  void transfer_out(const char *buffer, std::size_t size);
  // Runs a transfer under the GIL and turns an exception into the C stream's error,
  // keeping the exception for finish().
  template <typename Transfer>
  ssize_t guarded(Transfer transfer);

  pybind11::object file_;
  pybind11::object transfer_;  // the bound readinto, read or write method
  bool has_readinto_ = false;
  std::FILE *stream_ = nullptr;
  std::uint64_t bytes_read_ = 0;
  std::optional<pybind11::error_already_set> error_;
};

}  // namespace respmat::python

#endif
