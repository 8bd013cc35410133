// Rows of a matrix written one at a time, for writers that never hold the whole
// matrix: the binary form and text through one reused buffer. Stream errors are left
// in the stream's error indicator.
#ifndef RESPMAT_OUTPUT_ROW_WRITERS_H
#define RESPMAT_OUTPUT_ROW_WRITERS_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "output/row_text.h"

namespace respmat {

// The binary matrix form (rows and cols as little-endian 32-bit integers, then the
// elements as little-endian doubles row by row), written a row at a time: the same
// bytes as matrix_write_bin() of the whole matrix.
void write_bin_header(std::int32_t rows, std::int32_t cols, std::FILE *stream);
void write_bin_row(const std::vector<double> &row, std::FILE *stream);

class RowTextWriter {
 public:
  RowTextWriter(const RowText &text, std::FILE *stream) : text_(text), stream_(stream) {}
  void write(std::int32_t i, const std::vector<double> &row, std::int32_t reach);

 private:
  const RowText &text_;
  std::FILE *stream_;
  std::vector<char> buffer_;
};

}  // namespace respmat

#endif
