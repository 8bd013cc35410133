// The binary matrix format: rows and cols as 32-bit integers, then the elements as
// binary64 values row by row, all little-endian, with nothing before or after.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "respmat/matrix.h"
#include "matrix/matrix_layout.h"
#include "base/owned_file.h"
#include "base/stream_read.h"

using namespace respmat::detail;

// Header words and elements are stored as they lie in memory.
static_assert(std::endian::native == std::endian::little,
              "the binary format is the in-memory form of a little-endian host");

namespace {

// On a stream of unknown length, no block grows by more than this many elements
// (64 KiB) ahead of the data that has arrived, so a corrupt header cannot make the
// reader ask for memory the stream never backs.
constexpr std::int32_t kChunkElements = 8192;
// Elements read at a time by matrix_read_bin_into.
constexpr std::int32_t kBufferElements = 512;
// A stored matrix of no columns has no data behind its rows, yet each row is an
// allocation of its own; a header claiming more such rows than this is refused, so
// eight bytes cannot ask for billions of allocations.
constexpr std::int32_t kMaxRowsWithoutColumns = 1 << 16;

struct Header {
  std::int32_t rows;
  std::int32_t cols;
};

// Reads the two header words. False when they are incomplete or a count is negative.
[[nodiscard]] bool read_header(std::FILE *stream, Header &h) {
  if (respmat::detail::read_fully(&h.rows, sizeof h.rows, 1, stream) != 1) return false;
  if (respmat::detail::read_fully(&h.cols, sizeof h.cols, 1, stream) != 1) return false;
  return h.rows >= 0 && h.cols >= 0;
}

// Reads into a matrix allocated at its final size, once the file is known to hold
// every element.
[[nodiscard]] Matrix read_sized(std::FILE *stream, const Header &h, std::uint64_t available) {
  const auto elements = static_cast<std::uint64_t>(h.rows) * static_cast<std::uint64_t>(h.cols);
  if (elements > available / sizeof(double)) return nullptr;
  Matrix M = matrix_alloc(h.rows, h.cols);
  if (M == nullptr) return nullptr;
  for (std::int32_t r = 0; r < h.rows; ++r) {
    if (respmat::detail::read_fully(M[r], sizeof(double), h.cols, stream) != static_cast<std::size_t>(h.cols)) {
      matrix_free(M);
      return nullptr;
    }
  }
  return M;
}

// The next capacity of a block that is full: double it, but never past `limit`.
[[nodiscard]] std::int32_t grown(std::int32_t capacity, std::int32_t limit) {
  return capacity > limit - capacity ? limit : 2 * capacity;
}

// Reads one row of `cols` elements into a block that starts small and doubles only
// once the data have filled it. Returns null when the data end early or memory runs
// out.
[[nodiscard]] double *read_row_growing(std::FILE *stream, std::int32_t cols) {
  return static_cast<double *>(read_growing(stream, static_cast<std::size_t>(cols) * sizeof(double),
                                            kChunkElements * sizeof(double)));
}

// Reads a matrix from a stream of unknown length: rows are read one by one into a
// growing list and moved into an exact header at the end.
[[nodiscard]] Matrix read_rows_growing(std::FILE *stream, const Header &h) {
  double **rows = nullptr;
  std::int32_t capacity = 0;
  std::int32_t done = 0;
  for (; done < h.rows; ++done) {
    if (done == capacity) {
      const std::int32_t next =
          capacity == 0 ? std::min(h.rows, kChunkElements) : grown(capacity, h.rows);
      auto **bigger = static_cast<double **>(regrow(rows, done * sizeof(double *), next * sizeof(double *)));
      if (bigger == nullptr) break;
      rows = bigger;
      capacity = next;
    }
    rows[done] = read_row_growing(stream, h.cols);
    if (rows[done] == nullptr) break;
  }
  Matrix M = done == h.rows ? matrix_new_header(h.rows, h.cols) : nullptr;
  if (M != nullptr) {
    if (done != 0) std::memcpy(M, rows, done * sizeof(double *));
  } else {
    while (done-- > 0) std::free(rows[done]);
  }
  std::free(rows);
  return M;
}

}  // namespace

extern "C" int matrix_write_bin(const Matrix M, FILE *stream) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  if (std::fwrite(&rows, sizeof rows, 1, stream) != 1) return -1;
  if (std::fwrite(&cols, sizeof cols, 1, stream) != 1) return -1;
  for (std::int32_t r = 0; r < rows; ++r)
    if (std::fwrite(M[r], sizeof(double), cols, stream) != static_cast<std::size_t>(cols)) return -1;
  return std::fflush(stream) == 0 ? 0 : -1;
}

extern "C" int matrix_save_bin(const Matrix M, const char *path) {
  FILE *file = std::fopen(path, "wb");
  if (file == nullptr) return -1;
  return close_written(file, matrix_write_bin(M, file));
}

extern "C" Matrix matrix_read_bin(FILE *stream) {
  Header h;
  if (!read_header(stream, h)) return nullptr;
  if (h.cols == 0 && h.rows > kMaxRowsWithoutColumns) return nullptr;
  const std::optional<std::uint64_t> available = bytes_left(stream);
  return available ? read_sized(stream, h, *available) : read_rows_growing(stream, h);
}

extern "C" void matrix_read_bin_into(FILE *stream, Matrix M) {
  Header h;
  // Without columns there is nothing to read, however many rows are claimed.
  if (!read_header(stream, h) || h.cols == 0) return;
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t shared_cols = std::min(h.cols, matrix_cols(M));
  // Elements pass through a buffer so that only whole elements reach M, and those
  // outside M are read past without being stored.
  double buffer[kBufferElements];
  for (std::int32_t r = 0; r < h.rows; ++r) {
    const std::int32_t keep = r < rows ? shared_cols : 0;
    for (std::int32_t c = 0; c < h.cols;) {
      const auto want = static_cast<std::size_t>(std::min(kBufferElements, h.cols - c));
      const auto got = static_cast<std::int32_t>(respmat::detail::read_fully(buffer, sizeof(double), want, stream));
      if (c < keep) std::memcpy(M[r] + c, buffer, std::min(got, keep - c) * sizeof(double));
      c += got;
      if (static_cast<std::size_t>(got) < want) return;
    }
  }
}

extern "C" Matrix matrix_load_bin(const char *path) {
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  Matrix M = matrix_read_bin(file);
  std::fclose(file);
  return M;
}
