// The binary matrix readers on arbitrary bytes from a regular file, a memory stream
// and a pipe: a matrix comes back exactly when the bytes hold a complete one, its
// elements are those bytes, writing it back gives them again, the path reader
// agrees with the stream reader, and reading into a matrix changes only the block
// that the stored matrix and it share, and only with elements wholly present.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_test_support.h"
#include "respmat/matrix.h"

using respmat::fuzz::check;

namespace {

constexpr double kUntouched = -12345.5;

std::FILE *open_as(int kind, const std::string &bytes, const char *path) {
  if (kind == 0) return std::fopen(path, "rb");
  if (kind == 1)
    return bytes.empty() ? std::fopen(path, "rb")
                         : ::fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb");
  int ends[2];
  if (::pipe(ends) != 0) respmat::fuzz::fail("pipe");
  check(::write(ends[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "pipe write");
  ::close(ends[1]);
  return ::fdopen(ends[0], "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile scratch("binary");
  FuzzedDataProvider in(data, size);
  const int kind = in.ConsumeIntegralInRange(0, 2);
  const std::int32_t into_rows = in.ConsumeIntegralInRange(0, 4);
  const std::int32_t into_cols = in.ConsumeIntegralInRange(0, 4);
  const std::string bytes = in.ConsumeRemainingBytesAsString();
  if (kind == 2 && bytes.size() > 60000) return -1;  // a pipe holds 64 KiB
  const char *path = scratch.write(bytes);

  // What the bytes hold: a header, and whether the data behind it are complete.
  std::int32_t rows = -1, cols = -1;
  if (bytes.size() >= 8) {
    std::memcpy(&rows, bytes.data(), 4);
    std::memcpy(&cols, bytes.data() + 4, 4);
  }
  const bool valid_header = rows >= 0 && cols >= 0 && !(cols == 0 && rows > 65536);
  const unsigned long long needed = valid_header ? 8 + 8ULL * static_cast<unsigned long long>(rows) * cols : 0;
  const bool complete = valid_header && needed <= bytes.size();

  std::FILE *stream = open_as(kind, bytes, path);
  check(stream != nullptr, "cannot open the stream");
  Matrix M = matrix_read_bin(stream);
  check((M != nullptr) == complete, "a matrix came back exactly when the bytes hold one");
  if (M != nullptr) {
    check(matrix_rows(M) == rows && matrix_cols(M) == cols, "wrong shape");
    for (std::int32_t r = 0; r < rows; ++r)
      check(cols == 0 || std::memcmp(M[r], bytes.data() + 8 + 8ULL * r * cols, 8ULL * cols) == 0,
            "elements differ from the bytes");
    if (kind != 2) check(std::ftell(stream) == static_cast<long>(needed), "not left just past the matrix");
    std::FILE *copy = std::tmpfile();
    check(copy != nullptr, "tmpfile");
    matrix_write_bin(M, copy);
    check(respmat::fuzz::contents_of(copy) == bytes.substr(0, needed), "writing back gives other bytes");
    std::fclose(copy);
  }
  std::fclose(stream);

  Matrix loaded = matrix_load_bin(path);
  check(respmat::fuzz::same_matrix(loaded, M), "the path reader disagrees with the stream reader");
  matrix_free(loaded);
  matrix_free(M);

  Matrix T = matrix_alloc(into_rows, into_cols);
  check(T != nullptr, "matrix_alloc");
  for (std::int32_t r = 0; r < into_rows; ++r)
    for (std::int32_t c = 0; c < into_cols; ++c) T[r][c] = kUntouched;
  stream = open_as(kind, bytes, path);
  check(stream != nullptr, "cannot open the stream");
  matrix_read_bin_into(stream, T);
  std::fclose(stream);
  check(matrix_rows(T) == into_rows && matrix_cols(T) == into_cols, "the target's shape changed");
  for (std::int32_t r = 0; r < into_rows; ++r)
    for (std::int32_t c = 0; c < into_cols; ++c) {
      const unsigned long long at = 8 + 8ULL * (static_cast<unsigned long long>(r) * (cols > 0 ? cols : 0) + c);
      const bool stored = rows >= 0 && cols >= 0 && r < rows && c < cols && at + 8 <= bytes.size();
      if (stored)
        check(std::memcmp(&T[r][c], bytes.data() + at, 8) == 0, "an element was not read in");
      else
        check(T[r][c] == kUntouched, "an element outside the stored matrix changed");
    }
  matrix_free(T);
  return 0;
}
