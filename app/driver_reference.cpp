#include "app/driver_reference.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "app/driver_output.h"
#include "app/model.h"
#include "app/replace_file.h"
#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"

namespace respmat {
namespace {

using detail::report;

// Prints "m=<m>", then replaces the output file through a temporary file renamed over it.
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
    if (!write_model(output.stream())) {
      report(err, paths.output, std::strerror(ENOMEM));
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
    report(err, paths.response, detail::errno_reason());
    return kExitBadInput;
  }
  errno = 0;
  const OwnedMatrix phases(detail::load_text_reference(paths.phases, 0, ",", 0, nullptr));
  if (!phases) {
    report(err, paths.phases, detail::errno_reason());
    return kExitBadInput;
  }
  const std::int32_t m = matrix_cols(response.get());
  if (matrix_rows(phases.get()) < m) {
    report(err, paths.phases, detail::too_few_phases(matrix_rows(phases.get()), m));
    return kExitBadInput;
  }
  return write_output(paths, m, out, err, [&](std::FILE *stream) {
    const OwnedMatrix model(matrix_alloc(m, m));
    if (!model) return false;
    fill_model(model.get(), phases.get());
    detail::write_csv_reference(model.get(), stream, 0);
    return true;
  });
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
    return run_reference_job(paths, out, err);
  } catch (const std::bad_alloc &) {
    detail::report(err, paths.phases, std::strerror(ENOMEM));
    return kExitBadInput;
  }
}

}  // namespace respmat
