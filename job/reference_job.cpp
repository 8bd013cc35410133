#include "job/reference_job.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "job/model.h"
#include "job/replace_file.h"
#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"

namespace respmat {
namespace {

JobError failure(JobError::Kind kind, const std::string &path, int error_number) {
  return {kind, path, error_number,
          path + ": " + (error_number != 0 ? std::strerror(error_number) : "cannot be read")};
}

// Replaces the output file through a temporary file renamed over it.
std::optional<JobError> write_output(const std::string &path, const Matrix phases, std::int32_t m) {
  FileReplacement output(path);
  if (!output.open()) return failure(JobError::Kind::output, output.failed_path(), errno);
  const OwnedMatrix model(matrix_alloc(m, m));
  if (!model) return failure(JobError::Kind::output, path, ENOMEM);
  fill_model(model.get(), phases);
  detail::write_csv_reference(model.get(), output.stream(), 0);
  if (!output.commit()) return failure(JobError::Kind::output, path, errno);
  return std::nullopt;
}

JobResult run_reference_job(const DriverPaths &paths, const JobHooks &hooks) {
  JobResult result;
  errno = 0;
  const OwnedMatrix response(detail::load_text_reference(paths.response, 0, ",", 0, nullptr));
  if (!response) {
    result.error = failure(JobError::Kind::input, paths.response, errno);
    return result;
  }
  errno = 0;
  const OwnedMatrix phases(detail::load_text_reference(paths.phases, 0, ",", 0, nullptr));
  if (!phases) {
    result.error = failure(JobError::Kind::input, paths.phases, errno);
    return result;
  }
  const std::int32_t m = matrix_cols(response.get());
  if (matrix_rows(phases.get()) < m) {
    result.error = {JobError::Kind::input, paths.phases, 0,
                    std::string(paths.phases) + ": " + detail::too_few_phases(matrix_rows(phases.get()), m)};
    return result;
  }
  result.m = m;
  hooks.inputs_read(result);
  // Memory running out on the way is a failed write like any other; the temporary
  // file goes away with its owner.
  try {
    result.error = write_output(paths.output, phases.get(), m);
  } catch (const std::bad_alloc &) {
    result.error = failure(JobError::Kind::output, paths.output, ENOMEM);
  }
  return result;
}

}  // namespace

void fill_model(Matrix G, const Matrix phases) {
  const std::int32_t m = matrix_rows(G);
  for (std::int32_t i = m; i-- > 0;)
    for (std::int32_t j = m; j-- > 0;)
      G[i][j] = i < j ? 0.0 : model_entry(phases[i][0], phases[j][0]);
}

int run_driver_reference(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  try {
    return run_reported([&](const JobHooks &hooks) { return run_reference_job(paths, hooks); }, false, out, err);
  } catch (const std::bad_alloc &) {
    std::fprintf(err, "respmat: %s: %s\n", paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
