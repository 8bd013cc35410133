// matrix_load_text on arbitrary bytes and parameters: the fast loader must give the
// same matrix, bit for bit, as the table reader followed by atof, whatever the number
// of threads, the size of their chunks and of the windows a large file is read in,
// and the fast csv writer must print it
// exactly as fprintf("%.16lg") does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_test_support.h"
#include "respmat/matrix.h"
#include "matrix/matrix_reference.h"
#include "matrix/parallel_load.h"

using respmat::fuzz::check;

namespace {

// The rows of a load in one block, to compare with a Matrix.
struct Block final : respmat::detail::RowDestination {
  std::int32_t cols = 0;
  std::vector<double> values;
  bool reserve(std::int32_t rows, std::int32_t c) override {
    cols = c;
    values.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(c));
    return true;
  }
  double *row(std::int32_t index) override { return values.data() + static_cast<std::size_t>(index) * cols; }

  [[nodiscard]] bool equals(const Matrix M) const {
    if (values.size() != static_cast<std::size_t>(matrix_rows(M)) * static_cast<std::size_t>(matrix_cols(M)))
      return false;
    for (std::int32_t r = 0; r < matrix_rows(M); ++r)
      if (cols != 0 && std::memcmp(M[r], values.data() + static_cast<std::size_t>(r) * cols, cols * sizeof(double)) != 0)
        return false;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile scratch("load");
  FuzzedDataProvider in(data, size);
  const int mode = in.ConsumeIntegralInRange(0, 3);
  const std::string sep = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(1, 2));
  const char quote = in.ConsumeBool() ? in.ConsumeIntegral<char>() : '\0';
  const bool has_skip = in.ConsumeBool();
  const std::string skip = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 2));
  const std::int32_t drop_rows = in.ConsumeIntegralInRange<std::int32_t>(-2, 4);
  const bool transposed = in.ConsumeBool();
  const int threads = in.ConsumeIntegralInRange(1, 4);
  const std::size_t chunk_bytes = in.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::size_t window_bytes = in.ConsumeIntegralInRange<std::size_t>(1, 256);
  const std::string text = in.ConsumeRemainingBytesAsString();
  // Mostly the plain comma form that the tool reads; sometimes anything.
  const char *sep_arg = mode == 0 ? "," : mode == 1 ? nullptr : sep.c_str();
  const char *skip_arg = has_skip ? skip.c_str() : nullptr;

  const char *path = scratch.write(text);
  Matrix fast = matrix_load_text(path, drop_rows, sep_arg, quote, skip_arg);
  Matrix reference = respmat::detail::load_text_reference(path, drop_rows, sep_arg, quote, skip_arg);
  check(fast != nullptr, "a readable file did not load");
  check(respmat::fuzz::same_matrix(fast, reference), "fast and reference loads differ");
  respmat::detail::TextLoadOptions options;
  options.drop_rows = drop_rows;
  options.sep = sep_arg;
  options.quote = quote;
  options.skip = skip_arg;
  options.threads = threads;
  options.chunk_bytes = chunk_bytes;
  Block block;
  check(respmat::detail::load_text(path, options, block).status == respmat::detail::TextLoadStatus::kOk &&
            block.equals(fast),
        "loads in small chunks on several threads differ");
  // As a file too large to hold: read in small windows of whole lines, twice.
  options.largest_copy = 1;
  options.window_bytes = window_bytes;
  Block windowed;
  check(respmat::detail::load_text(path, options, windowed).status == respmat::detail::TextLoadStatus::kOk &&
            windowed.equals(fast),
        "loads in windows differ");

  // Small matrices only: the writers are compared, not timed.
  if (static_cast<std::int64_t>(matrix_rows(fast)) * matrix_cols(fast) <= 4096) {
    std::FILE *a = std::tmpfile();
    std::FILE *b = std::tmpfile();
    check(a != nullptr && b != nullptr, "tmpfile");
    matrix_write_csv(fast, a, transposed);
    respmat::detail::write_csv_reference(fast, b, transposed);
    check(respmat::fuzz::contents_of(a) == respmat::fuzz::contents_of(b),
          "fast and reference csv text differ");
    std::fclose(a);
    std::fclose(b);
  }
  matrix_free(fast);
  matrix_free(reference);
  return 0;
}
