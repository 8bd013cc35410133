#include "job.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "app/driver.h"
#include "errors.h"
#include "phases.h"

namespace py = pybind11;

namespace respmat::python {

namespace {

// A stream whose text the job writes into memory, for reading back afterwards.
class CapturedStream {
 public:
  CapturedStream() : stream_(open_memstream(&text_, &size_)) {
    if (stream_ == nullptr) throw std::bad_alloc();
  }
  CapturedStream(const CapturedStream &) = delete;
  CapturedStream &operator=(const CapturedStream &) = delete;
  ~CapturedStream() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(text_);
  }

  [[nodiscard]] std::FILE *get() const { return stream_; }
  // Everything written so far.
  [[nodiscard]] std::string text() {
    std::fflush(stream_);
    return {text_, size_};
  }

 private:
  char *text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE *stream_;
};

constexpr std::string_view kPrefix = "respmat: ";
constexpr std::string_view kUsageHint = "; try 'respmat --help'";

// The tool reports a failure as one line "respmat: <file>: <reason>". When the reason
// is the system's message for an errno value, the failure is that error on that file;
// otherwise a failed write is an input/output error on the output file, and any other
// failure a ValueError with the tool's message.
[[noreturn]] void raise_reported(std::string line, const std::string *output) {
  if (line.starts_with(kPrefix)) line.erase(0, kPrefix.size());
  if (line.ends_with(kUsageHint)) line.erase(line.size() - kUsageHint.size());
  for (int error = 1; error < 256; ++error) {
    const std::string reason = std::string(": ") + std::strerror(error);
    const std::size_t at = line.rfind(reason);
    if (at == std::string::npos || at == 0) continue;
    const std::size_t end = at + reason.size();
    if (end != line.size() && line[end] != ';') continue;
    raise_os_error(error, native_file_name(line.substr(0, at)));
  }
  if (output != nullptr) raise_os_error(EIO, native_file_name(*output));
  raise_value_error(line);
}

std::string first_line(const std::string &text) { return text.substr(0, text.find('\n')); }

std::optional<std::string> optional_path(const py::object &path) {
  if (path.is_none()) return std::nullopt;
  return file_name(path).native;
}

}  // namespace

int run(const py::object &response, const py::object &phases, const py::object &output,
        const py::object &monitors, const py::object &column) {
  JobOptions options;
  options.response = optional_path(response);
  options.phases = optional_path(phases);
  options.output = file_name(output).native;
  // The command line's "-" is standard output; here every output is a file.
  if (options.output == "-") options.output = "./-";
  if (!monitors.is_none()) options.monitors = count_argument(monitors, "monitors");
  // Called with nothing but defaults, this is the bare command, which reads its
  // phases as it always has; any option makes it strict, as on the command line.
  const bool bare = response.is_none() && phases.is_none() && monitors.is_none() &&
                    options.output == "er.csv" && py::isinstance<py::int_>(column) &&
                    column.equal(py::int_(0));
  if (!bare) options.column = phase_column(column);
  options.strict_phases = !bare;

  CapturedStream out;
  CapturedStream err;
  int status = kExitOk;
  {
    py::gil_scoped_release release;
    status = run_job(options, out.get(), err.get());
  }
  const std::string report = err.text();
  if (status == kExitOk) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with(kPrefix)) line.erase(0, kPrefix.size());
      if (PyErr_WarnEx(PyExc_RuntimeWarning, line.c_str(), 1) != 0) throw py::error_already_set();
    }
    int m = 0;
    std::sscanf(out.text().c_str(), "m=%d", &m);
    return m;
  }
  raise_reported(first_line(report), status == kExitWriteFailed ? &options.output : nullptr);
}

}  // namespace respmat::python
