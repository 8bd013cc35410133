// Internal: table_read() on a stream the caller has opened (and may have looked into),
// for readers that must read their input once, a pipe's included.
#ifndef RESPMAT_TEXT_TABLE_READ_STREAM_H
#define RESPMAT_TEXT_TABLE_READ_STREAM_H

#include <cstdio>

#include "respmat/text.h"
#include "text/text_bounds.h"

namespace respmat::detail {

// The table of the lines from the stream's position on, as table_read() makes it of a
// file; the caller keeps and closes the stream. With a `guard`, null as well for a text
// beyond its bounds, which the guard then names.
[[nodiscard]] StringTable table_read_stream(std::FILE *stream, const char *sep, char quote, const char *skip,
                                            TextGuard *guard = nullptr);

}  // namespace respmat::detail

#endif
