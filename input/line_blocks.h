// The lines of an input a block at a time, split as the library's line reader splits
// them (a line feed, a carriage return with a line feed right after it, a lone
// carriage return or a NUL ends a line), for readers that work on many lines at once:
// every line of a block stays valid until the next block is read.
#ifndef RESPMAT_INPUT_LINE_BLOCKS_H
#define RESPMAT_INPUT_LINE_BLOCKS_H

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "text/text_bounds.h"

namespace respmat {

struct NumberedLine {
  std::string_view text;  // without its line end
  std::int64_t number;    // counted from 1
};

class LineBlocks {
 public:
  // Reads from `stream` (which the caller keeps) from its current position; blocks
  // hold about `block_bytes`, more when a single line is longer. With a `guard`
  // (which the caller keeps), the input ends at the first line or read beyond its
  // bounds: failed() is then true and the guard says why.
  explicit LineBlocks(std::FILE *stream, std::size_t block_bytes = std::size_t{32} << 20,
                      detail::TextGuard *guard = nullptr);

  // The whole lines of the next block, in order; false at the end of input, on a read
  // error (see failed()) or when memory runs out.
  [[nodiscard]] bool next(std::vector<NumberedLine> &lines);

  // True when the input ended by a read error or a failed allocation.
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  // Keeps the bytes not yet split and reads more after them; false when none came.
  bool read_more();

  std::FILE *stream_;
  std::size_t block_bytes_;
  detail::TextGuard *guard_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first byte not yet split into lines
  std::size_t end_ = 0;    // one past the last byte read
  std::int64_t number_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

}  // namespace respmat

#endif
