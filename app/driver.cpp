#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "app/model.h"
#include "app/replace_file.h"
#include "respmat/owners.hpp"

namespace respmat {
namespace {

void report(std::FILE *err, const char *file, const char *reason) {
  std::fprintf(err, "respmat: %s: %s\n", file, reason);
}

OwnedMatrix load_csv(const char *path) {
  return OwnedMatrix(matrix_load_text(path, 0, ",", 0, nullptr));
}

}  // namespace

int run_driver(const DriverPaths &paths, std::FILE *out, std::FILE *err) {
  errno = 0;
  const OwnedMatrix response = load_csv(paths.response);
  if (!response) {
    report(err, paths.response, errno ? std::strerror(errno) : "cannot be read");
    return kExitBadInput;
  }
  errno = 0;
  const OwnedMatrix phases = load_csv(paths.phases);
  if (!phases) {
    report(err, paths.phases, errno ? std::strerror(errno) : "cannot be read");
    return kExitBadInput;
  }
  const std::int32_t m = matrix_cols(response.get());
  if (matrix_rows(phases.get()) < m) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "has %d rows, but the response matrix needs %d phases",
                  matrix_rows(phases.get()), m);
    report(err, paths.phases, reason);
    return kExitBadInput;
  }

  std::fprintf(out, "m=%d\n", m);
  std::fflush(out);

  const OwnedMatrix model(matrix_alloc(m, m));
  if (!model) {
    report(err, paths.output, std::strerror(ENOMEM));
    return kExitWriteFailed;
  }
  fill_model(model.get(), phases.get());

  FileReplacement output(paths.output);
  if (!output.open()) {
    report(err, paths.output, std::strerror(errno));
    return kExitWriteFailed;
  }
  matrix_write_csv(model.get(), output.stream(), 0);
  if (!output.commit()) {
    report(err, paths.output, std::strerror(errno));
    return kExitWriteFailed;
  }
  return kExitOk;
}

}  // namespace respmat
