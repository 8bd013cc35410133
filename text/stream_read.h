// Internal: stream reads that go on when a signal interrupts them. A process that
// handles a signal without SA_RESTART sees a blocked read fail with EINTR, and the
// stream then reports an error although no data were lost; every reader of the
// library reads through these so that such a signal is not taken for a read error.
#ifndef RESPMAT_TEXT_STREAM_READ_H
#define RESPMAT_TEXT_STREAM_READ_H

#include <cerrno>
#include <cstddef>
#include <cstdio>

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

}  // namespace respmat::detail

#endif
