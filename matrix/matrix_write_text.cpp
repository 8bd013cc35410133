// Writing a Matrix as delimited text.
#include <cstdint>
#include <cstdio>

#include "matrix/matrix.h"

extern "C" void matrix_write_text(const Matrix M, FILE *stream, char transposed, const char *fmt,
                                  const char *sep) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  const std::int32_t lines = transposed ? cols : rows;
  const std::int32_t per_line = transposed ? rows : cols;
  for (std::int32_t line = 0; line < lines; ++line) {
    if (per_line == 0) continue;
    for (std::int32_t k = 0; k < per_line; ++k) {
      if (k != 0) std::fputs(sep, stream);
      std::fprintf(stream, fmt, transposed ? M[k][line] : M[line][k]);
    }
    std::fputc('\n', stream);
  }
  std::fputc('\n', stream);
}

extern "C" void matrix_save_text(const Matrix M, const char *path, char transposed,
                                 const char *mode) {
  FILE *file = std::fopen(path, mode);
  if (file == nullptr) return;
  matrix_write_text(M, file, transposed, "%lg", "\t");
  std::fclose(file);
}

extern "C" void matrix_write_csv(const Matrix M, FILE *stream, char transposed) {
  matrix_write_text(M, stream, transposed, "%.16lg", ",");
}

extern "C" void matrix_save_csv(const Matrix M, const char *path, char transposed) {
  FILE *file = std::fopen(path, "wt");
  if (file == nullptr) return;
  matrix_write_csv(M, file, transposed);
  std::fclose(file);
}
