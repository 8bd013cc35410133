// Internal: reads the lines of a stream in large blocks. Yields exactly the lines that
// text_read_line() yields on the same bytes, without a read call per character.
#ifndef RESPMAT_TEXT_LINE_SOURCE_H
#define RESPMAT_TEXT_LINE_SOURCE_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

#include "text/text_bounds.h"

namespace respmat::detail {

class LineSource {
 public:
  // Reads from `stream` (which the caller keeps), starting at its current position.
  // With a `guard` (which the caller keeps), the input ends at the first line or read
  // beyond its bounds: failed() is then true and the guard says why.
  explicit LineSource(std::FILE *stream, std::size_t block_size = 1 << 20, TextGuard *guard = nullptr);

  // Sets `line` to the next line, without its line end. The byte just past the line
  // is a NUL, so the line can also be used as a C string. The line stays valid until
  // the next call. Returns false at the end of input, on a read error (see failed())
  // or when memory runs out.
  [[nodiscard]] bool next(std::string_view &line);

  // True when the input ended by a read error or a failed allocation rather than
  // its end.
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  bool refill();

  // The line of `length` bytes at `begin_`, ended by `end`, if the guard admits it.
  bool admits(std::size_t length, char end);

  std::FILE *stream_;
  std::size_t block_size_;
  TextGuard *guard_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first unconsumed byte
  std::size_t end_ = 0;    // one past the last byte read
  bool at_eof_ = false;
  bool failed_ = false;
};

}  // namespace respmat::detail

#endif
