#include "input/response_matrix.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "base/owned_file.h"
#include "base/stream_read.h"
#include "text/text_bounds.h"

namespace respmat {
namespace {

using analysis::Dense;

// Comma-separated or optics-style, by the reader of measured matrices. Names count
// only when both the monitors and the correctors have them.
std::optional<Failure> read_text_matrix(const std::string &path, NamedMatrix &matrix) {
  MeasuredMatrixResult read = read_measured_matrix(path);
  if (read.failure) return std::move(read.failure);
  matrix.values = std::move(read.matrix.values);
  if (!read.matrix.row_names.empty() && !read.matrix.column_names.empty()) {
    matrix.monitor_names = std::move(read.matrix.row_names);
    matrix.corrector_names = std::move(read.matrix.column_names);
  }
  return std::nullopt;
}

// The binary form: two 32-bit counts, rows then columns, then the values row by row.
// The counts are checked against the bound of a matrix before any value is read, so
// a stream that claims more (a pipe, a FIFO) is refused at once rather than read as
// far as it claims; the values take memory only as they arrive.
std::optional<Failure> read_binary_matrix(const std::string &path, NamedMatrix &matrix) {
  const auto not_binary = [&] { return content_failure(path, "is not a matrix in the binary form"); };
  errno = 0;
  const detail::OwnedFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return unreadable(path, errno);
  std::int32_t counts[2];
  const std::size_t got = detail::read_fully(counts, sizeof counts[0], 2, file.get());
  if (std::ferror(file.get())) return unreadable(path, errno);
  if (got != 2 || counts[0] < 0 || counts[1] < 0) return not_binary();
  const std::uint64_t bytes = std::uint64_t(counts[0]) * std::uint64_t(counts[1]) * sizeof(double);
  if (bytes > detail::kMatrixBounds.largest_input)
    return content_failure(path, "claims " + std::to_string(counts[0]) + " x " + std::to_string(counts[1]) +
                                     " values, more than " + std::to_string(detail::kMatrixBounds.largest_input >> 30) +
                                     " GiB, which no response matrix takes");
  const std::unique_ptr<void, decltype(&std::free)> values(
      detail::read_growing(file.get(), static_cast<std::size_t>(bytes), std::size_t{1} << 20), &std::free);
  if (std::ferror(file.get())) return unreadable(path, errno);
  if (!values) return not_binary();
  matrix.values = Dense(counts[0], counts[1]);
  if (bytes != 0) std::memcpy(matrix.values.values.data(), values.get(), static_cast<std::size_t>(bytes));
  for (std::int32_t i = 0; i < matrix.values.rows; ++i)
    for (std::int32_t j = 0; j < matrix.values.cols; ++j)
      if (!std::isfinite(matrix.values.at(i, j)))
        return content_failure(path, "entry (" + std::to_string(i) + ", " + std::to_string(j) +
                                         ") is not a finite number");
  return std::nullopt;
}

void transpose(NamedMatrix &matrix) {
  analysis::transpose(matrix.values);
  std::swap(matrix.monitor_names, matrix.corrector_names);
}

}  // namespace

std::optional<Failure> read_response_matrix(const std::string &path, MatrixLayout layout, NamedMatrix &matrix) {
  if (auto failure = path.ends_with(".bin") ? read_binary_matrix(path, matrix) : read_text_matrix(path, matrix))
    return failure;
  if (matrix.values.rows == 0 || matrix.values.cols == 0) return content_failure(path, "holds no matrix");
  if (layout == MatrixLayout::correctors_by_monitors) transpose(matrix);
  return std::nullopt;
}

}  // namespace respmat
