#include "text/line_source.h"

#include <cstring>
#include <new>

#include "base/stream_read.h"
#include "text/line_ends.h"

namespace respmat::detail {

LineSource::LineSource(std::FILE *stream, std::size_t block_size, TextGuard *guard)
    : stream_(stream), block_size_(block_size), guard_(guard) {}

bool LineSource::admits(std::size_t length, char end) {
  if (guard_ == nullptr || guard_->admits_line(std::string_view(buffer_.get() + begin_, length), end)) return true;
  failed_ = true;
  return false;
}

// Moves the unconsumed bytes to the front, makes room for a block (growing when a
// single line fills the buffer), and reads. Returns false when nothing more came.
bool LineSource::refill() {
  if (at_eof_) return false;
  const std::size_t pending = end_ - begin_;
  // A carriage return at the end of the pending bytes may end the line yet.
  if (guard_ != nullptr && !guard_->admits_open_line(pending - (pending != 0 && buffer_[end_ - 1] == '\r'))) {
    failed_ = true;
    return false;
  }
  // One spare byte always remains for the NUL after a line.
  if (capacity_ < pending + block_size_ + 1) {
    const std::size_t grown = pending + block_size_ + 1 > 2 * capacity_ ? pending + block_size_ + 1
                                                                        : 2 * capacity_;
    std::unique_ptr<char[]> bigger(new (std::nothrow) char[grown]);
    if (!bigger) {
      failed_ = true;
      return false;
    }
    if (pending != 0) std::memcpy(bigger.get(), buffer_.get() + begin_, pending);
    buffer_ = std::move(bigger);
    capacity_ = grown;
  } else if (begin_ != 0 && pending != 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, pending);
  }
  begin_ = 0;
  end_ = pending;
  const std::size_t got = read_fully(buffer_.get() + end_, 1, capacity_ - 1 - end_, stream_);
  end_ += got;
  if (guard_ != nullptr && !guard_->admits_read(got)) {
    failed_ = true;
    return false;
  }
  if (got == 0) {
    at_eof_ = true;
    failed_ = std::ferror(stream_) != 0;
  }
  return got != 0;
}

bool LineSource::next(std::string_view &line) {
  std::size_t scanned = 0;  // bytes after begin_ known not to end a line
  if (!buffer_ && !refill()) return false;
  for (;;) {
    if (failed_) return false;
    char *const start = buffer_.get() + begin_;
    char *const stop = buffer_.get() + end_;
    char *const terminator = const_cast<char *>(find_line_end(start + scanned, stop));
    if (terminator == stop) {
      scanned = static_cast<std::size_t>(terminator - start);
      if (refill()) continue;
      if (failed_ || scanned == 0 || !admits(scanned, '\n')) return false;  // nothing but the end of input
      // A last line without a line end; refill() may have moved the bytes.
      char *const last = buffer_.get() + begin_;
      last[scanned] = '\0';
      line = std::string_view(last, scanned);
      begin_ = end_;
      return true;
    }
    // A carriage return takes a line feed right after it along; that byte may not
    // have been read yet.
    if (*terminator == '\r' && terminator + 1 == stop && !at_eof_) {
      scanned = static_cast<std::size_t>(terminator - start);
      if (refill() || !failed_) continue;
      return false;
    }
    const std::size_t length = static_cast<std::size_t>(terminator - start);
    // An empty line ended by a carriage return that is the very last byte counts as
    // the end of input, as the line reader has it: looking for a line feed after
    // the return reached the end.
    if (length == 0 && *terminator == '\r' && terminator + 1 == stop) {
      begin_ = end_;
      return false;
    }
    if (!admits(length, *terminator)) return false;
    std::size_t consumed = length + 1;
    if (*terminator == '\r' && terminator + 1 != stop && terminator[1] == '\n') ++consumed;
    *terminator = '\0';
    line = std::string_view(start, length);
    begin_ += consumed;
    return true;
  }
}

}  // namespace respmat::detail
