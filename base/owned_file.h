// Internal: files the library opens, owned for a scope or closed with their result.
#ifndef RESPMAT_BASE_OWNED_FILE_H
#define RESPMAT_BASE_OWNED_FILE_H

#include <cstdio>
#include <memory>

namespace respmat::detail {

struct FileCloser {
  void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};

// A stream closed when it goes out of scope, for files that are only read.
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// Closes a file that was written. The close hands over the last buffered block, so
// it can fail as a write can. Returns 0 when `written` is 0 and the close succeeds,
// otherwise -1.
[[nodiscard]] inline int close_written(std::FILE *file, int written) {
  const bool closed = std::fclose(file) == 0;
  return written == 0 && closed ? 0 : -1;
}

}  // namespace respmat::detail

#endif
