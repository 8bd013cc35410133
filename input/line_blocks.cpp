#include "input/line_blocks.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/stream_read.h"
#include "text/line_ends.h"

namespace respmat {

LineBlocks::LineBlocks(std::FILE *stream, std::size_t block_bytes, detail::TextGuard *guard)
    : stream_(stream), block_bytes_(block_bytes), guard_(guard) {}

bool LineBlocks::next(std::vector<NumberedLine> &lines) {
  lines.clear();
  for (;;) {
    const char *const data = buffer_.data();
    const char *const stop = data + end_;
    const char *line = data + begin_;
    while (line != stop) {
      const char *const end = detail::find_line_end(line, stop);
      // Unless the input has ended, the line may go on in bytes not read yet, and a
      // line feed may follow a carriage return.
      if ((end == stop || (*end == '\r' && end + 1 == stop)) && !at_end_) break;
      // An empty line ended by a carriage return that is the very last byte is the end
      // of input, as the line reader has it.
      if (end != stop && end == line && *end == '\r' && end + 1 == stop) {
        line = stop;
        break;
      }
      const std::string_view text(line, static_cast<std::size_t>(end - line));
      if (guard_ != nullptr && !guard_->admits_line(text, end == stop ? '\n' : *end)) {
        failed_ = true;
        return false;
      }
      lines.push_back({text, ++number_});
      if (end == stop) {
        line = stop;
        break;
      }
      line = end + 1;
      if (*end == '\r' && line != stop && *line == '\n') ++line;
    }
    begin_ = static_cast<std::size_t>(line - data);
    if (!lines.empty()) return true;
    if (at_end_ || failed_ || !read_more()) return false;
  }
}

bool LineBlocks::read_more() {
  const std::size_t kept = end_ - begin_;
  // A carriage return at the end of the kept bytes may end the line yet.
  if (guard_ != nullptr && !guard_->admits_open_line(kept - (kept != 0 && buffer_[end_ - 1] == '\r'))) {
    failed_ = true;
    return false;
  }
  if (kept != 0 && begin_ != 0) std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
  begin_ = 0;
  end_ = kept;
  // Small inputs get small blocks: the room doubles with every read up to the block
  // size, and past it while a single line fills it.
  constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
  std::size_t capacity = std::max(std::min(std::max(kFirstBlock, 2 * buffer_.size()), block_bytes_), buffer_.size());
  if (kept == capacity) capacity = 2 * kept;
  try {
    buffer_.resize(capacity);
  } catch (const std::bad_alloc &) {
    failed_ = true;
    return false;
  }
  const std::size_t wanted = capacity - end_;
  const std::size_t got = detail::read_fully(buffer_.data() + end_, 1, wanted, stream_);
  end_ += got;
  if (guard_ != nullptr && !guard_->admits_read(got)) {
    failed_ = true;
    return false;
  }
  if (got < wanted) {
    failed_ = std::ferror(stream_) != 0;
    at_end_ = !failed_;
  }
  return !failed_;
}

}  // namespace respmat
