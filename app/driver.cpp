#include "app/driver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/model.h"
#include "app/model_writer.h"
#include "app/replace_file.h"
#include "matrix/matrix_reference.h"
#include "text/number_text.h"
#include "respmat/owners.hpp"
#include "text/line_source.h"

namespace respmat {
namespace {

// Takes C strings, so that reporting memory running out needs no memory.
void report(std::FILE *err, const char *file, const char *reason) {
  std::fprintf(err, "respmat: %s: %s\n", file, reason);
}
void report(std::FILE *err, const char *file, const std::string &reason) {
  report(err, file, reason.c_str());
}

std::string errno_reason() { return errno != 0 ? std::strerror(errno) : "cannot be read"; }

// What the model depends on: m and the first m phases.
struct Inputs {
  std::int32_t m = 0;
  std::vector<double> phases;
};

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

OwnedFile open_input(const char *path, std::FILE *err) {
  errno = 0;
  OwnedFile file(std::fopen(path, "rb"));
  if (!file) report(err, path, errno_reason());
  return file;
}

std::string too_few_phases(std::int64_t rows, std::int32_t m) {
  return "has " + std::to_string(rows) + " rows, but the response matrix needs " +
         std::to_string(m) + " phases";
}

// m is the number of fields of the response file's first line (0 without lines).
std::optional<Inputs> read_inputs(const DriverPaths &paths, std::FILE *err) {
  Inputs inputs;
  {
    const OwnedFile file = open_input(paths.response, err);
    if (!file) return std::nullopt;
    detail::LineSource lines(file.get());
    std::string_view first;
    errno = 0;
    if (lines.next(first)) {
      std::int64_t fields = 1;
      for (const char c : first) fields += c == ',';
      if (fields > INT32_MAX) {
        report(err, paths.response, "has more columns than the tool can handle");
        return std::nullopt;
      }
      inputs.m = static_cast<std::int32_t>(fields);
    } else if (lines.failed()) {
      report(err, paths.response, errno_reason());
      return std::nullopt;
    }
  }
  const OwnedFile file = open_input(paths.phases, err);
  if (!file) return std::nullopt;
  detail::LineSource lines(file.get());
  std::string_view line;
  errno = 0;
  while (static_cast<std::int64_t>(inputs.phases.size()) < inputs.m && lines.next(line)) {
    const std::size_t comma = line.find(',');
    const char *end = line.data() + (comma == std::string_view::npos ? line.size() : comma);
    inputs.phases.push_back(detail::parse_number(line.data(), end));
  }
  // Even when no phase is needed, a phases file that cannot be read is reported.
  if (inputs.m == 0) static_cast<void>(lines.next(line));
  if (lines.failed()) {
    report(err, paths.phases, errno_reason());
    return std::nullopt;
  }
  if (static_cast<std::int64_t>(inputs.phases.size()) < inputs.m) {
    report(err, paths.phases, too_few_phases(static_cast<std::int64_t>(inputs.phases.size()), inputs.m));
    return std::nullopt;
  }
  return inputs;
}

// Prints m, then writes the output through a temporary file renamed over it.
// write_model(stream) returns 0, or the errno of what stopped it.
template <typename WriteModel>
int write_output(const DriverPaths &paths, std::int32_t m, std::FILE *out, std::FILE *err,
                 WriteModel write_model) {
  std::fprintf(out, "m=%d\n", m);
  std::fflush(out);
  // Memory running out on the way is a failed write like any other; the temporary
  // file goes away with `output`.
  try {
    FileReplacement output(paths.output);
    if (!output.open()) {
      report(err, paths.output, std::strerror(errno));
      return kExitWriteFailed;
    }
    if (const int error = write_model(output.stream())) {
      report(err, paths.output, std::strerror(error));
      return kExitWriteFailed;
    }
    if (!output.commit()) {
      report(err, paths.output, std::strerror(errno));
      return kExitWriteFailed;
    }
  } catch (const std::bad_alloc &) {
    report(err, paths.output, std::strerror(ENOMEM));
    return kExitWriteFailed;
  }
  return kExitOk;
}

int run_reference_job(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  errno = 0;
  const OwnedMatrix response(detail::load_text_reference(paths.response, 0, ",", 0, nullptr));
  if (!response) {
    report(err, paths.response, errno_reason());
    return kExitBadInput;
  }
  errno = 0;
  const OwnedMatrix phases(detail::load_text_reference(paths.phases, 0, ",", 0, nullptr));
  if (!phases) {
    report(err, paths.phases, errno_reason());
    return kExitBadInput;
  }
  const std::int32_t m = matrix_cols(response.get());
  if (matrix_rows(phases.get()) < m) {
    report(err, paths.phases, too_few_phases(matrix_rows(phases.get()), m));
    return kExitBadInput;
  }
  return write_output(paths, m, out, err, [&](std::FILE *stream) {
    const OwnedMatrix model(matrix_alloc(m, m));
    if (!model) return ENOMEM;
    fill_model(model.get(), phases.get());
    detail::write_csv_reference(model.get(), stream, 0);
    return 0;
  });
}


}  // namespace

int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  std::optional<Inputs> inputs;
  try {
    inputs = read_inputs(paths, err);
  } catch (const std::bad_alloc &) {
    report(err, paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
  if (!inputs) return kExitBadInput;
  return write_output(paths, inputs->m, out, err, [&](std::FILE *stream) {
    return write_model_csv(inputs->phases.data(), inputs->m, stream, 0);
  });
}

int run_driver_reference(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  try {
    return run_reference_job(paths, out, err);
  } catch (const std::bad_alloc &) {
    report(err, paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
