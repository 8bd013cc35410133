// The model matrix one row at a time, for writers that take its rows in order and
// never hold the whole matrix: the binary form and the heat map.
#ifndef RESPMAT_JOB_MODEL_ROWS_H
#define RESPMAT_JOB_MODEL_ROWS_H

#include <cstdint>
#include <cstdio>
#include <vector>

namespace respmat {

class ModelRows {
 public:
  // `phases` (at least m values) must outlive the object.
  ModelRows(const double *phases, std::int32_t m);

  // Row i, 0 <= i < m: the entries model_entry() gives up to the diagonal, 0 beyond.
  // Valid until the next call. Rows are cheapest asked for in order.
  [[nodiscard]] const std::vector<double> &row(std::int32_t i);

 private:
  const double *phases_;
  std::vector<double> row_;
  std::size_t computed_ = 0;  // entries of row_ that may be other than 0
};

// The binary matrix form (rows and cols as little-endian 32-bit integers, then the
// elements as little-endian doubles row by row), written a row at a time: the same
// bytes as matrix_write_bin() of the whole matrix. Stream errors are left in the
// stream's error indicator.
void write_bin_header(std::int32_t rows, std::int32_t cols, std::FILE *stream);
void write_bin_row(const std::vector<double> &row, std::FILE *stream);

// The comma-separated text of matrix_write_csv(), a row at a time; finish with
// write_csv_end().
void write_csv_row(const std::vector<double> &row, std::FILE *stream);
void write_csv_end(std::FILE *stream);

}  // namespace respmat

#endif
