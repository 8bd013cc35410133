// Internal: reading untrusted streams. The readers of the library share these so that
// none asks for memory that its data do not back, and none takes a signal for a read
// error: a process that handles a signal without SA_RESTART sees a blocked read fail
// with EINTR, and the stream then reports an error although no data were lost.
#ifndef RESPMAT_BASE_STREAM_READ_H
#define RESPMAT_BASE_STREAM_READ_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace respmat::detail {

// True, with the stream's error indicator cleared, when the last read failed only
// because a signal interrupted it.
inline bool clear_interruption(std::FILE *stream) {
  if (!std::ferror(stream) || errno != EINTR) return false;
  std::clearerr(stream);
  return true;
}

// std::fread, retried after interruptions. Counts bytes, not items, so that an item
// cut in half by a signal is completed rather than dropped.
inline std::size_t read_fully(void *buffer, std::size_t size, std::size_t count,
                              std::FILE *stream) {
  if (size == 0 || count == 0) return 0;
  auto *bytes = static_cast<unsigned char *>(buffer);
  const std::size_t total = size * count;
  std::size_t done = 0;
  do done += std::fread(bytes + done, 1, total - done, stream);
  while (done != total && clear_interruption(stream));
  return done / size;
}

// std::getc, retried after interruptions.
inline int get_byte(std::FILE *stream) {
  int c;
  while ((c = std::getc(stream)) == EOF && clear_interruption(stream)) {
  }
  return c;
}

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
