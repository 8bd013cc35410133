// Loading a Matrix from delimited text: each row its own allocation, filled by the
// shared text loader straight from the file's bytes.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>

#include "matrix/huge_pages.h"
#include "matrix/matrix_layout.h"
#include "matrix/text_load.h"
#include "respmat/matrix.h"

namespace {

using namespace respmat::detail;

// Allocates the whole matrix once the shape is known; releases it unless taken.
class MatrixRows final : public RowDestination {
 public:
  MatrixRows() = default;
  MatrixRows(const MatrixRows &) = delete;
  MatrixRows &operator=(const MatrixRows &) = delete;
  ~MatrixRows() override {
    if (matrix_ != nullptr) matrix_free(matrix_);
  }

  bool reserve(std::int32_t rows, std::int32_t cols) override {
    Matrix header = matrix_new_header(rows, cols);
    matrix_ = header != nullptr ? matrix_fill_rows(header, sizeof(double)) : nullptr;
    if (matrix_ != nullptr) gather_rows_into_huge_pages(rows, cols);
    return matrix_ != nullptr;
  }
  double *row(std::int32_t index) override { return matrix_[index]; }

  Matrix release() {
    Matrix taken = matrix_;
    matrix_ = nullptr;
    return taken;
  }

 private:
  // Rows allocated one after another lie side by side; their span then holds little
  // else, and gathering it into huge pages spares the converting threads most of the
  // faults of touching the rows first.
  void gather_rows_into_huge_pages(std::int32_t rows, std::int32_t cols) const {
    if (rows == 0) return;
    const std::size_t row_bytes = static_cast<std::size_t>(cols) * sizeof(double);
    const auto [lowest, highest] = std::minmax_element(matrix_, matrix_ + rows, std::less<>());
    const auto begin = reinterpret_cast<std::uintptr_t>(*lowest);
    const auto end = reinterpret_cast<std::uintptr_t>(*highest) + row_bytes;
    const std::size_t filled = static_cast<std::size_t>(rows) * row_bytes;
    if (end - begin <= filled + filled / 8)
      gather_into_huge_pages(reinterpret_cast<const void *>(begin), reinterpret_cast<const void *>(end));
  }

  Matrix matrix_ = nullptr;
};

}  // namespace

extern "C" Matrix matrix_load_text(const char *path, int32_t drop_rows, const char *sep,
                                   char quote, const char *skip) {
  TextLoadOptions options;
  options.drop_rows = drop_rows;
  options.sep = sep;
  options.quote = quote;
  options.skip = skip;
  MatrixRows rows;
  const TextLoadResult result = load_text(path, options, rows);
  if (result.status != TextLoadStatus::kOk) {
    errno = result.error;
    return nullptr;
  }
  return rows.release();
}
