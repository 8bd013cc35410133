// Loading a Matrix from delimited text: each row its own allocation, filled by the
// shared text loader straight from the file's bytes.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>

#include "base/huge_pages.h"
#include "matrix/matrix_layout.h"
#include "matrix/parallel_load.h"
#include "respmat/matrix.h"

namespace {

using namespace respmat::detail;

// Allocates the matrix once the shape is known, its rows one after another while the
// first ones are already being converted; releases it unless taken.
class MatrixRows final : public RowDestination {
 public:
  MatrixRows() = default;
  MatrixRows(const MatrixRows &) = delete;
  MatrixRows &operator=(const MatrixRows &) = delete;
  ~MatrixRows() override {
    if (matrix_ != nullptr) matrix_free(matrix_);
  }

  bool reserve(std::int32_t rows, std::int32_t cols) override {
    matrix_ = matrix_new_header(rows, cols);
    if (matrix_ == nullptr) return false;
    std::fill(matrix_, matrix_ + rows, nullptr);  // released as they are, however far making them got
    cols_ = cols;
    return true;
  }

  // Rows allocated one after another lie side by side (but for the first few, which may
  // fill holes the heap had). A run of rows side by side is gathered into huge pages as
  // it grows, and only rows below what is gathered are handed out: the converting
  // threads then fill them without a fault per small page.
  bool make_rows(std::int32_t rows, const std::function<void(std::int32_t)> &rows_ready) override {
    const std::size_t row_bytes = static_cast<std::size_t>(cols_) * sizeof(double);
    std::optional<HugePageGatherer> gatherer;
    std::int32_t ready = 0, published = 0;
    for (std::int32_t r = 0; r < rows; ++r) {
      auto *row = static_cast<double *>(matrix_new_row(cols_, sizeof(double)));
      if (row == nullptr) return false;
      matrix_[r] = row;
      if (r == 0 || !follows(matrix_[r - 1], row, row_bytes)) {
        // A new run: the rows before it are handed out as they are.
        ready = r;
        gatherer.reset();
        if (static_cast<std::size_t>(rows - r) * row_bytes >= kWorthHugePages) gatherer.emplace(row);
      }
      if (gatherer) {
        const std::uintptr_t gathered_to = gatherer->reach(row + cols_, false);
        while (ready <= r && end_of(matrix_[ready], row_bytes) <= gathered_to) ++ready;
      } else {
        ready = r + 1;
      }
      if (ready - published >= kPublishStep || (gatherer && ready != published)) rows_ready(published = ready);
    }
    if (gatherer && rows > 0) gatherer->reach(matrix_[rows - 1] + cols_, true);
    rows_ready(rows);
    return true;
  }

  double *row(std::int32_t index) override { return matrix_[index]; }

  Matrix release() {
    Matrix taken = matrix_;
    matrix_ = nullptr;
    return taken;
  }

 private:
  // Rows handed out together when nothing is gathered, so that waiting threads are
  // not woken for every row.
  static constexpr std::int32_t kPublishStep = 64;
  // Room malloc may leave between blocks allocated one after another (its header).
  static constexpr std::size_t kLargestGap = 64;

  static std::uintptr_t end_of(const double *row, std::size_t row_bytes) {
    return reinterpret_cast<std::uintptr_t>(row) + row_bytes;
  }
  static bool follows(const double *previous, const double *row, std::size_t row_bytes) {
    const std::uintptr_t previous_end = end_of(previous, row_bytes), start = reinterpret_cast<std::uintptr_t>(row);
    return start >= previous_end && start - previous_end <= kLargestGap;
  }

  Matrix matrix_ = nullptr;
  std::int32_t cols_ = 0;
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
