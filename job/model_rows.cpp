#include "job/model_rows.h"

#include <bit>

#include "job/model.h"
#include "matrix/csv_buffer.h"

namespace respmat {

static_assert(std::endian::native == std::endian::little,
              "the binary form is the in-memory form of a little-endian host");

ModelRows::ModelRows(const double *phases, std::int32_t m)
    : phases_(phases), row_(static_cast<std::size_t>(m), 0.0) {}

const std::vector<double> &ModelRows::row(std::int32_t i) {
  const std::size_t diagonal = static_cast<std::size_t>(i);
  for (std::size_t j = diagonal + 1; j < computed_; ++j) row_[j] = 0.0;
  computed_ = diagonal + 1;
  model_row(phases_, i, row_.data());
  return row_;
}

void write_bin_header(std::int32_t rows, std::int32_t cols, std::FILE *stream) {
  const std::int32_t header[2] = {rows, cols};
  std::fwrite(header, sizeof header, 1, stream);
}

void write_bin_row(const std::vector<double> &row, std::FILE *stream) {
  if (!row.empty()) std::fwrite(row.data(), sizeof(double), row.size(), stream);
}

void write_csv_row(const std::vector<double> &row, std::FILE *stream) {
  detail::CsvBuffer out(stream);
  out.line(row.size(), [&](std::size_t j) { return row[j]; });
}

void write_csv_end(std::FILE *stream) { std::fputc('\n', stream); }

}  // namespace respmat
