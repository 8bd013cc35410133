#include "input/response_matrix.h"

#include <cerrno>
#include <cmath>
#include <utility>

#include "respmat/owners.hpp"

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

std::optional<Failure> read_binary_matrix(const std::string &path, NamedMatrix &matrix) {
  errno = 0;
  const OwnedMatrix stored(matrix_load_bin(path.c_str()));
  if (!stored) {
    if (errno == ENOENT || errno == EACCES || errno == EISDIR) return unreadable(path, errno);
    return content_failure(path, "is not a matrix in the binary form");
  }
  matrix.values = Dense(matrix_rows(stored.get()), matrix_cols(stored.get()));
  for (std::int32_t i = 0; i < matrix.values.rows; ++i)
    for (std::int32_t j = 0; j < matrix.values.cols; ++j) {
      const double value = stored.get()[i][j];
      if (!std::isfinite(value))
        return content_failure(path, "entry (" + std::to_string(i) + ", " + std::to_string(j) +
                                         ") is not a finite number");
      matrix.values.at(i, j) = value;
    }
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
