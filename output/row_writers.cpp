#include "output/row_writers.h"

#include <bit>

namespace respmat {

static_assert(std::endian::native == std::endian::little,
              "the binary form is the in-memory form of a little-endian host");

void write_bin_header(std::int32_t rows, std::int32_t cols, std::FILE *stream) {
  const std::int32_t header[2] = {rows, cols};
  std::fwrite(header, sizeof header, 1, stream);
}

void write_bin_row(const std::vector<double> &row, std::FILE *stream) {
  if (!row.empty()) std::fwrite(row.data(), sizeof(double), row.size(), stream);
}

void RowTextWriter::write(std::int32_t i, const std::vector<double> &row, std::int32_t reach) {
  buffer_.resize(text_.bound(i, static_cast<std::int32_t>(row.size())));
  const char *end = text_.write(i, row.data(), reach, buffer_.data());
  std::fwrite(buffer_.data(), 1, static_cast<std::size_t>(end - buffer_.data()), stream_);
}

}  // namespace respmat
