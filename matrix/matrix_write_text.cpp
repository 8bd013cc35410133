// Writing a Matrix as delimited text. Every writer reports whether all of its text
// reached the file: a full disk or a failed close is not a success.
#include <cstdint>
#include <cstdio>

#include "matrix/csv_buffer.h"
#include "respmat/matrix.h"
#include "base/number_conventions.h"
#include "base/owned_file.h"

extern "C" int matrix_write_text(const Matrix M, FILE *stream, char transposed, const char *fmt,
                                 const char *sep) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  const std::int32_t lines = transposed ? cols : rows;
  const std::int32_t per_line = transposed ? rows : cols;
  // The text must not depend on the locale or rounding mode the caller runs in.
  const respmat::detail::CNumberConventions conventions;
  for (std::int32_t line = 0; line < lines; ++line) {
    if (per_line == 0) continue;
    for (std::int32_t k = 0; k < per_line; ++k) {
      if (k != 0 && std::fputs(sep, stream) == EOF) return -1;
      if (std::fprintf(stream, fmt, transposed ? M[k][line] : M[line][k]) < 0) return -1;
    }
    if (std::fputc('\n', stream) == EOF) return -1;
  }
  if (std::fputc('\n', stream) == EOF) return -1;
  return std::fflush(stream) == 0 ? 0 : -1;
}

extern "C" int matrix_save_text(const Matrix M, const char *path, char transposed, const char *mode) {
  FILE *file = std::fopen(path, mode);
  if (file == nullptr) return -1;
  return respmat::detail::close_written(file, matrix_write_text(M, file, transposed, "%lg", "\t"));
}

// The same text as matrix_write_text with "%.16lg" and ",", formatted without printf
// and handed to the stream in large blocks.
int respmat::detail::write_csv(const Matrix M, std::FILE *stream, bool transposed, const std::atomic<bool> *stop) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  const std::int32_t lines = transposed ? cols : rows;
  const std::int32_t per_line = transposed ? rows : cols;
  CsvBuffer out(stream);
  for (std::int32_t line = 0; line < lines && per_line != 0 && !out.failed(); ++line) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return -1;
    out.line(static_cast<std::size_t>(per_line), [&](std::size_t k) { return transposed ? M[k][line] : M[line][k]; });
  }
  out.byte('\n');
  out.flush();
  return !out.failed() && std::fflush(stream) == 0 ? 0 : -1;
}

extern "C" int matrix_write_csv(const Matrix M, FILE *stream, char transposed) {
  return respmat::detail::write_csv(M, stream, transposed != 0, nullptr);
}

extern "C" int matrix_save_csv(const Matrix M, const char *path, char transposed) {
  FILE *file = std::fopen(path, "wt");
  if (file == nullptr) return -1;
  return respmat::detail::close_written(file, matrix_write_csv(M, file, transposed));
}
