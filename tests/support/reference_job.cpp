#include "reference_job.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "output/replace_file.h"
#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"

namespace respmat {
namespace {

// Replaces the output file through a temporary file renamed over it.
std::optional<Failure> write_output(const std::string &path, const Matrix phases, std::int32_t m) {
  FileReplacement output(path);
  if (!output.open()) return unwritable(output.failed_path(), errno);
  const OwnedMatrix model(matrix_alloc(m, m));
  if (!model) return unwritable(path, ENOMEM);
  fill_model(model.get(), phases);
  detail::write_csv_reference(model.get(), output.stream(), 0);
  if (!output.commit()) return unwritable(path, errno);
  return std::nullopt;
}

CommandResult run_reference_job(const DriverPaths &paths, const CommandHooks &hooks) {
  CommandResult result;
  errno = 0;
  const OwnedMatrix response(detail::load_text_reference(paths.response, 0, ",", 0, nullptr));
  if (!response) {
    result.error = unreadable(paths.response, errno);
    return result;
  }
  errno = 0;
  const OwnedMatrix phases(detail::load_text_reference(paths.phases, 0, ",", 0, nullptr));
  if (!phases) {
    result.error = unreadable(paths.phases, errno);
    return result;
  }
  const std::int32_t m = matrix_cols(response.get());
  if (matrix_rows(phases.get()) < m) {
    result.error = content_failure(paths.phases, "has " + std::to_string(matrix_rows(phases.get())) +
                                                     " rows, but the response matrix needs " + std::to_string(m) +
                                                     " phases");
    return result;
  }
  result.m = m;
  hooks.inputs_read(result);
  // Memory running out on the way is a failed write like any other; the temporary
  // file goes away with its owner.
  try {
    result.error = write_output(paths.output, phases.get(), m);
  } catch (const std::bad_alloc &) {
    result.error = unwritable(paths.output, ENOMEM);
  }
  return result;
}

}  // namespace

int run_driver_reference(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  try {
    return report_model_run([&](const CommandHooks &hooks) { return run_reference_job(paths, hooks); }, false, out, err);
  } catch (const std::bad_alloc &) {
    std::fprintf(err, "respmat: %s: %s\n", paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
