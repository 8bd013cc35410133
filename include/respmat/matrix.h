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
 *
 * Number text: loading, writing and printing use the "C" locale's conventions (a "."
 * decimal point, no grouping) and round to nearest, whatever locale (setlocale,
 * uselocale) and rounding mode (fesetround) the calling thread has set; those are
 * left as they were. So "atof" and "printf" below mean those functions in the "C"
 * locale rounding to nearest. Readers go on after a signal interrupts a read.
 */
#ifndef RESPMAT_MATRIX_H
#define RESPMAT_MATRIX_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library hides everything but these declarations. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
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
 * Large files are converted on every core the process may run on, or on as many
 * threads as the environment variable RESPMAT_THREADS says; the result is the same
 * whatever the number. A regular file is read whole into memory; a file larger than a
 * quarter of the machine's memory is read twice instead, a window of lines at a time
 * (counting rows, then converting them). A file that another process truncates while
 * it loads fails as a read error (errno EIO).
 * Returns the new matrix, or null (with errno set) when the file cannot be opened or
 * read, has more rows or columns than an int32_t counts, or memory runs out. */
Matrix matrix_load_text(const char *path, int32_t drop_rows, const char *sep, char quote,
                        const char *skip);

/* Writes `M` as delimited text: one line per row (per column when `transposed` is
 * nonzero), each element printed with the printf format `fmt`, `sep` between
 * elements, a line feed after each line, and one more line feed at the end. A
 * matrix with no rows or no columns gives a single line feed. The stream is flushed.
 * Returns 0, or -1 when a write or the flush fails (writing stops there; the stream
 * keeps what it took). */
int matrix_write_text(const Matrix M, FILE *stream, char transposed, const char *fmt,
                      const char *sep);

/* Opens `path` with the fopen `mode`, writes `M` tab-separated with "%lg", closes.
 * Returns 0, or -1 when the path cannot be opened or a write or the close fails
 * (the file may then hold part of the text). */
int matrix_save_text(const Matrix M, const char *path, char transposed, const char *mode);

/* Writes `M` comma-separated with "%.16lg" to an open stream and flushes it.
 * Returns 0, or -1 when a write or the flush fails. */
int matrix_write_csv(const Matrix M, FILE *stream, char transposed);

/* Writes `M` comma-separated with "%.16lg" to `path` (text mode), replacing it.
 * Returns 0, or -1 when the path cannot be opened or a write or the close fails
 * (the file may then hold part of the text). */
int matrix_save_csv(const Matrix M, const char *path, char transposed);

/* ---- Construction, copying and transposition --------------------------------- */

/* Allocates a rows x cols record whose rows each hold cols elements of elem_size
 * bytes; the header keeps the element count, and the element size is recorded
 * nowhere. With elem_size 8 the result is an ordinary Matrix; otherwise only
 * matrix_rows(), matrix_cols() and matrix_free() apply to it.
 * Returns null when a count or the size is negative or memory runs out. */
Matrix matrix_alloc_sized(int32_t rows, int32_t cols, int32_t elem_size);

/* Allocates a rows x cols matrix with every element +0.0.
 * Returns null when a count is negative or memory runs out. */
Matrix matrix_alloc_zeroed(int32_t rows, int32_t cols);

/* Allocates the header and the rows row-pointer slots alone; every slot starts
 * null. matrix_free() releases whatever the slots hold, so it fits once each slot
 * is null or holds a block of its own from malloc.
 * Returns null when a count is negative or memory runs out. */
Matrix matrix_alloc_header(int32_t rows, int32_t cols);

/* Sets every element of `M` to +0.0. */
void matrix_zero(Matrix M);

/* Returns a new matrix of M's shape holding a byte-for-byte copy of its elements
 * (signed zeros and NaN payloads included), or null when memory runs out. */
Matrix matrix_clone(const Matrix M);

/* Copies src's elements byte for byte over the top-left block of `dst`; the rest of
 * dst keeps its values. `dst` may be `src`.
 * Requires: dst has at least src's rows, each of at least src's cols elements. */
void matrix_copy(Matrix dst, const Matrix src);

/* Returns a new cols x rows matrix T with T[i][j] = M[j][i] (bits preserved), or
 * null when memory runs out. */
Matrix matrix_transpose(const Matrix M);

/* ---- Element-wise arithmetic ------------------------------------------------- */
/* Each operation overwrites A in place over A's rows x cols. Every new value is
 * computed in long double and rounded to double once, when it is stored.
 * Requires: B has at least A's rows, each of at least A's cols elements (a larger B
 * is read only in that block). B may be A. */

/* A[r][c] = A[r][c] * x. */
void matrix_scale(Matrix A, double x);

/* A[r][c] = A[r][c] + B[r][c]. */
void matrix_add(Matrix A, const Matrix B);

/* A[r][c] = A[r][c] - B[r][c]. */
void matrix_sub(Matrix A, const Matrix B);

/* A[r][c] = x * B[r][c] + A[r][c]; the product is not rounded on its own. */
void matrix_add_scaled(Matrix A, double x, const Matrix B);

/* A[r][c] = A[r][c] * B[r][c]. */
void matrix_mul_elem(Matrix A, const Matrix B);

/* ---- Reductions and norms ---------------------------------------------------- */
/* Elements are visited from the last row to the first and, within a row, from the
 * last column to the first. Totals are carried in long double. */

/* Returns a when a >= b, otherwise b: equal operands give a, and a NaN on either
 * side gives b. */
double matrix_dmax2(double a, double b);

/* Returns the largest element: seeded with M[0][0], the running value is replaced
 * by each element visited (M[0][0] last) unless it is >= that element, so a NaN is
 * kept only when it is the last one visited. Returns NaN for an empty matrix. */
double matrix_max(const Matrix M);

/* Like matrix_max() with the opposite test: returns the smallest element. */
double matrix_min(const Matrix M);

/* Like matrix_max() over the absolute values. */
double matrix_max_abs(const Matrix M);

/* Returns the sum of the elements; 0 for an empty matrix. */
double matrix_sum(const Matrix M);

/* Returns the sum divided by the element count rows * cols, taken as an unsigned
 * 32-bit product; NaN for an empty matrix. */
double matrix_mean(const Matrix M);

/* Returns the sum of the squares of the elements; 0 for an empty matrix. */
double matrix_sum_sq(const Matrix M);

/* Returns the square root of the sum of squares; 0 for an empty matrix. */
double matrix_norm(const Matrix M);

/* Returns the square root of the sum of squares divided by the unsigned 32-bit
 * element count; NaN for an empty matrix. */
double matrix_rms(const Matrix M);

/* ---- Console display --------------------------------------------------------- */

/* Prints every element with printf(fmt, M[r][c]), a line feed after each row and
 * one more at the end. Nothing goes between elements unless fmt writes it.
 * Requires: fmt consumes exactly one double. */
void matrix_print(const Matrix M, const char *fmt);

/* Prints one character per element, a line feed after each row and one more at the
 * end. For an element v the character is the first that applies: "." when
 * x > |v|, "*" when |v| * x > 1 (the product in long double), "+" when v > 0,
 * "-" when v < 0, otherwise "#" (a NaN, or a zero when x <= 0). */
void matrix_print_map(const Matrix M, double x);

/* ---- Binary format ----------------------------------------------------------- */
/* A stored matrix is its rows then its cols as little-endian 32-bit integers,
 * followed by the elements as little-endian binary64 values, row by row: exactly
 * 8 + 8 * rows * cols bytes, nothing else. The stream operations start at the
 * stream's position and leave it just past the matrix, so matrices can follow one
 * another in one stream. */

/* Writes `M` to a stream open for binary writing and flushes it.
 * Returns 0, or -1 when a write or the flush fails. */
int matrix_write_bin(const Matrix M, FILE *stream);

/* Writes `M` to `path`, replacing it.
 * Returns 0, or -1 when the path cannot be opened or a write or the close fails
 * (the file may then hold part of the matrix). */
int matrix_save_bin(const Matrix M, const char *path);

/* Reads the next stored matrix from a stream open for binary reading.
 * Returns the new matrix, or null (nothing leaked) when the header is incomplete,
 * rows or cols is negative, the data end before rows * cols elements, or memory
 * runs out; after a failure the stream position is unspecified. Memory is never
 * asked for ahead of the data: on a regular file the remaining size is checked
 * before allocating, and on other streams rows grow as data arrives. A header of
 * R x 0 describes R empty rows and needs no data; above 65536 such rows it is
 * refused (null), since each row is an allocation that no data backs. */
Matrix matrix_read_bin(FILE *stream);

/* Reads the next stored matrix from `stream` into `M`: the block that the stored
 * matrix and M share is overwritten, every other element of M keeps its value, and
 * the stream is left just past the stored matrix. An incomplete header, a negative
 * count or data that end early stop the reading; elements not read keep their
 * values. */
void matrix_read_bin_into(FILE *stream, Matrix M);

/* Reads the first stored matrix of the file at `path`.
 * Returns it, or null as matrix_read_bin() does or when the path cannot be opened. */
Matrix matrix_load_bin(const char *path);

/* ---- Bilinear interpolation and clamps --------------------------------------- */

/* Returns a when a <= b, otherwise b. */
int32_t matrix_imin2(int32_t a, int32_t b);

/* Returns a when a >= 0, otherwise 0. */
int32_t matrix_iclamp0(int32_t a);

/* Returns x when x >= 0, otherwise 0.0: a NaN gives 0.0 and -0.0 stays -0.0. */
double matrix_dclamp0(double x);

/* Interpolates `M`, taken as samples on the integer grid, at row position a and
 * column position b. A position past the last row or column (+infinity included)
 * stands for that row or column. The lower neighbours are the integer parts of the
 * positions clamped below at 0; the upper ones the next row or column, or the same
 * at the last. The fractions come from the positions before the clamp at 0, so a
 * negative position extrapolates from rows (columns) 0 and 1. All arithmetic is in
 * long double. Returns NaN when a position is NaN or when M has no rows or no
 * columns. */
double matrix_interp(const Matrix M, double a, double b);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif
