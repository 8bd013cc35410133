// Internal: files the library opens, owned for a scope or closed with their result.
#ifndef RESPMAT_BASE_OWNED_FILE_H
#define RESPMAT_BASE_OWNED_FILE_H

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

namespace respmat::detail {

struct FileCloser {
  void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};

// A stream closed when it goes out of scope, for files that are only read.
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// An input opened for reading: "-" is the process's standard input, read through a
// stream of its own over a copy of the descriptor, so that closing it leaves
// descriptor 0 open. Null, with errno set, when it cannot be opened.
[[nodiscard]] inline OwnedFile open_input(const std::string &path) {
  if (path != "-") return OwnedFile(std::fopen(path.c_str(), "rb"));
  const int copy = ::dup(0);
  if (copy < 0) return nullptr;
  OwnedFile stream(::fdopen(copy, "rb"));
  if (!stream) ::close(copy);
  return stream;
}

// Closes a file that was written. The close hands over the last buffered block, so
// it can fail as a write can. Returns 0 when `written` is 0 and the close succeeds,
// otherwise -1.
[[nodiscard]] inline int close_written(std::FILE *file, int written) {
  const bool closed = std::fclose(file) == 0;
  return written == 0 && closed ? 0 : -1;
}

}  // namespace respmat::detail

#endif
