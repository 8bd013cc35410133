// Internal: the driver's reporting, shared by the tool's jobs and the straightforward
// job the tests compare them with.
#ifndef RESPMAT_APP_DRIVER_OUTPUT_H
#define RESPMAT_APP_DRIVER_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace respmat::detail {

// Prints "respmat: <file>: <reason>" on `err`. The C-string form needs no memory, so
// it can report memory running out.
void report(std::FILE *err, const char *file, const char *reason);
void report(std::FILE *err, const char *file, const std::string &reason);

// The reason errno gives, or "cannot be read" when it is 0.
[[nodiscard]] std::string errno_reason();

// The reason given when the phases file has fewer than m rows.
[[nodiscard]] std::string too_few_phases(std::int64_t rows, std::int32_t m);

}  // namespace respmat::detail

#endif
