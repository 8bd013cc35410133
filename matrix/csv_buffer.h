// Internal: collects comma-separated text in a block and hands it to a stream in
// large writes.
#ifndef RESPMAT_MATRIX_CSV_BUFFER_H
#define RESPMAT_MATRIX_CSV_BUFFER_H

#include <atomic>
#include <cstdio>
#include <cstddef>

#include "respmat/matrix.h"

#include "text/number_text.h"

namespace respmat::detail {

class CsvBuffer {
 public:
  explicit CsvBuffer(std::FILE *stream) : stream_(stream) {}
  CsvBuffer(const CsvBuffer &) = delete;
  CsvBuffer &operator=(const CsvBuffer &) = delete;
  ~CsvBuffer() { flush(); }

  void number(double value) {
    reserve(kMaxG16Length);
    end_ = format_g16(value, end_);
  }
  void byte(char c) {
    reserve(1);
    *end_++ = c;
  }
  // One line of the comma-separated form: value(0) … value(count - 1), then a line feed.
  template <typename ValueAt>
  void line(std::size_t count, ValueAt value) {
    for (std::size_t k = 0; k < count; ++k) {
      if (k != 0) byte(',');
      number(value(k));
    }
    byte('\n');
  }
  void flush() {
    write(block_, static_cast<std::size_t>(end_ - block_));
    end_ = block_;
  }
  // True once the stream has refused part of the text.
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kCapacity = 1 << 16;
  void write(const char *text, std::size_t length) {
    if (length != 0 && std::fwrite(text, 1, length, stream_) != length) failed_ = true;
  }
  void reserve(std::size_t length) {
    if (static_cast<std::size_t>(block_ + kCapacity - end_) < length) flush();
  }

  std::FILE *stream_;
  char block_[kCapacity];
  char *end_ = block_;
  bool failed_ = false;
};

// matrix_write_csv(), which this is, ending before the next line once *stop is set
// (then the text is incomplete and the result is -1).
[[nodiscard]] int write_csv(const Matrix M, std::FILE *stream, bool transposed, const std::atomic<bool> *stop);

}  // namespace respmat::detail

#endif
