// A model matrix one row at a time, for writers that take its rows in order and never
// hold the whole matrix: the binary form, the heat map, and text beside a heat map.
#ifndef RESPMAT_JOB_MODEL_ROWS_H
#define RESPMAT_JOB_MODEL_ROWS_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "job/response_model.h"
#include "job/row_text.h"

namespace respmat {

class ModelRows {
 public:
  // `model` must outlive the object.
  explicit ModelRows(const ResponseModel &model);

  // Row i, 0 <= i < rows: the model's entries, 0 past its reach. Valid until the next
  // call. Rows are cheapest asked for in order.
  [[nodiscard]] const std::vector<double> &row(std::int32_t i);
  // How many leading entries of the last row the model reaches.
  [[nodiscard]] std::int32_t reach() const { return reach_; }

 private:
  const ResponseModel &model_;
  std::vector<double> row_;
  std::int32_t reach_ = 0;
  std::size_t computed_ = 0;  // entries of row_ that may be other than 0
};

// The binary matrix form (rows and cols as little-endian 32-bit integers, then the
// elements as little-endian doubles row by row), written a row at a time: the same
// bytes as matrix_write_bin() of the whole matrix. Stream errors are left in the
// stream's error indicator.
void write_bin_header(std::int32_t rows, std::int32_t cols, std::FILE *stream);
void write_bin_row(const std::vector<double> &row, std::FILE *stream);

// Writes rows as text, a row at a time, through one reused buffer. Stream errors are
// left in the stream's error indicator.
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
