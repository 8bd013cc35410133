// Internal: the number of comma-separated fields of a stream's first line, counted
// while the bytes stream past, so that memory stays the same however long the line.
#ifndef RESPMAT_TEXT_FIRST_LINE_FIELDS_H
#define RESPMAT_TEXT_FIRST_LINE_FIELDS_H

#include <cstdint>
#include <cstdio>
#include <optional>

#include "text/text_bounds.h"

namespace respmat::detail {

// The fields (commas + 1, no quoting) of the first line that text_read_line() would
// return from `stream`, or 0 when it would return none. Reads from the stream's
// position up to the end of that line, in blocks. Returns nothing when a read fails
// (errno tells why), or when the line grows past the bounds of a `guard`, which then
// says so.
[[nodiscard]] std::optional<std::int64_t> count_first_line_fields(std::FILE *stream, TextGuard *guard = nullptr);

}  // namespace respmat::detail

#endif
