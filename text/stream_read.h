// Internal: reading untrusted streams without asking for memory that their data do
// not back. The line reader, the binary matrix reader and the serialized-form readers
// share these.
#ifndef RESPMAT_TEXT_STREAM_READ_H
#define RESPMAT_TEXT_STREAM_READ_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace respmat::detail {

// Bytes from the stream's position to the end of its file, or nothing when the stream
// is not a regular file and so has no length to know in advance.
[[nodiscard]] std::optional<std::uint64_t> bytes_left(std::FILE *stream);

// Moves the first `used` bytes of `block` (from malloc, or null) into a new block of
// `capacity` bytes from malloc (at least one byte) and releases `block`. Returns the
// new block, or null when memory runs out, leaving `block` as it was.
[[nodiscard]] void *regrow(void *block, std::size_t used, std::size_t capacity);

// Reads exactly `bytes` bytes into a new block from malloc that starts at
// `first_piece` bytes and doubles only once the data have filled it, so a length
// claimed by a stream of unknown length costs memory only as the data arrive.
// Returns the block (a real allocation even for 0 bytes), or null when the data end
// early or memory runs out.
[[nodiscard]] void *read_growing(std::FILE *stream, std::size_t bytes, std::size_t first_piece);

}  // namespace respmat::detail

#endif
