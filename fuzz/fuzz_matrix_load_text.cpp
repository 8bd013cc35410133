// matrix_load_text on arbitrary bytes and parameters: the fast loader must give the
// same matrix, bit for bit, as the table reader followed by atof, and the fast csv
// writer must print it exactly as fprintf("%.16lg") does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "respmat/matrix.h"
#include "matrix/matrix_reference.h"

using respmat::fuzz::check;

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
  const std::string text = in.ConsumeRemainingBytesAsString();
  // Mostly the plain comma form that the tool reads; sometimes anything.
  const char *sep_arg = mode == 0 ? "," : mode == 1 ? nullptr : sep.c_str();
  const char *skip_arg = has_skip ? skip.c_str() : nullptr;

  const char *path = scratch.write(text);
  Matrix fast = matrix_load_text(path, drop_rows, sep_arg, quote, skip_arg);
  Matrix reference = respmat::detail::load_text_reference(path, drop_rows, sep_arg, quote, skip_arg);
  check(fast != nullptr, "a readable file did not load");
  check(respmat::fuzz::same_matrix(fast, reference), "fast and reference loads differ");

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
