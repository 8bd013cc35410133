// Internal: the driver's reporting and its one way of writing the output, shared by
// every job that produces the model file.
#ifndef RESPMAT_APP_DRIVER_OUTPUT_H
#define RESPMAT_APP_DRIVER_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "app/driver.h"

namespace respmat::detail {

// Prints "respmat: <file>: <reason>" on `err`. The C-string form needs no memory, so
// it can report memory running out.
void report(std::FILE *err, const char *file, const char *reason);
void report(std::FILE *err, const char *file, const std::string &reason);

// The reason errno gives, or "cannot be read" when it is 0.
[[nodiscard]] std::string errno_reason();

// The reason given when the phases file has fewer than m rows.
[[nodiscard]] std::string too_few_phases(std::int64_t rows, std::int32_t m);

// Prints "m=<m>" on `out`, then replaces the output file atomically with what
// `write_model` writes to the stream it is given; `write_model` returns false when
// memory runs out. Returns kExitOk, or kExitWriteFailed after reporting on `err`
// with the output left as it was.
[[nodiscard]] int write_output(const DriverPaths &paths, std::int32_t m, std::FILE *out, std::FILE *err,
                               const std::function<bool(std::FILE *)> &write_model);

}  // namespace respmat::detail

#endif
