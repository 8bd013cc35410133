// Loading a Matrix from delimited text: each row its own allocation, filled by the
// shared text loader straight from the file's bytes.
#include <cerrno>
#include <cstdint>

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
    return matrix_ != nullptr;
  }
  double *row(std::int32_t index) override { return matrix_[index]; }

  Matrix release() {
    Matrix taken = matrix_;
    matrix_ = nullptr;
    return taken;
  }

 private:
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
