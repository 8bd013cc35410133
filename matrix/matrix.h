/* Dense matrices of doubles.
 *
 * A Matrix is handled as an array of row pointers: M[r][c] is element (r, c). Two
 * 32-bit signed header words, `rows` then `cols`, live in the same allocation just
 * before row pointer 0; each row is its own allocation of `cols` doubles:
 *
 *     allocation start                  handle (Matrix)
 *     |                                 |
 *     [ rows (int32) ][ cols (int32) ][ row 0 ][ row 1 ] ... [ row rows-1 ]
 *                                        |
 *                                        +--> [ cols doubles ]
 *
 * The two words make 8 bytes, so row pointer 0 is pointer-aligned on 32- and 64-bit
 * targets alike. Use matrix_rows() and matrix_cols() to read them.
 *
 * Ownership: every operation that returns a Matrix hands the caller a new header
 * allocation and new rows; the caller releases them with matrix_free(). Computing
 * loops run from the last row and column to the first; output runs from the first.
 */
#ifndef RESPMAT_MATRIX_MATRIX_H
#define RESPMAT_MATRIX_MATRIX_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef double **Matrix;

/* ---- Record, delimited load and store ---------------------------------------- */

/* Returns the number of rows of `M`. */
int32_t matrix_rows(const Matrix M);

/* Returns the number of columns of `M`. */
int32_t matrix_cols(const Matrix M);

/* Allocates a rows x cols matrix; element values are not initialised.
 * Returns null when a count is negative or memory runs out (nothing is leaked). */
Matrix matrix_alloc(int32_t rows, int32_t cols);

/* Releases the rows, from the last to the first, then the header. Accepts null. */
void matrix_free(Matrix M);

/* Loads a delimited text file: each row of table_read(path, sep, quote, skip) after
 * the first `drop_rows` becomes a matrix row; the first remaining row sets the
 * column count; every field is converted with atof (an empty or non-numeric field
 * is 0.0). Extra fields are ignored, missing fields of a short row are 0.0, and a
 * `drop_rows` beyond the row count leaves a matrix of no rows. A file without rows
 * loads as a 0 x 0 matrix.
 * Returns the new matrix, or null when the file cannot be opened or read, or memory
 * runs out. */
Matrix matrix_load_text(const char *path, int32_t drop_rows, const char *sep, char quote,
                        const char *skip);

/* Writes `M` as delimited text: one line per row (per column when `transposed` is
 * nonzero), each element printed with the printf format `fmt`, `sep` between
 * elements, a line feed after each line, and one more line feed at the end. A
 * matrix with no rows or no columns gives a single line feed. */
void matrix_write_text(const Matrix M, FILE *stream, char transposed, const char *fmt,
                       const char *sep);

/* Opens `path` with the fopen `mode`, writes `M` tab-separated with "%lg", closes.
 * Returns without writing when the path cannot be opened. */
void matrix_save_text(const Matrix M, const char *path, char transposed, const char *mode);

/* Writes `M` comma-separated with "%.16lg" to an open stream. */
void matrix_write_csv(const Matrix M, FILE *stream, char transposed);

/* Writes `M` comma-separated with "%.16lg" to `path` (text mode), replacing it.
 * Returns without writing when the path cannot be opened. */
void matrix_save_csv(const Matrix M, const char *path, char transposed);

#ifdef __cplusplus
}
#endif

#endif
