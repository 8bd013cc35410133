// table_read on arbitrary bytes with an arbitrary separator (or white-space
// splitting), quote character and comment prefix. The table must hold one row per
// line that is not a comment, each row exactly what the splitter makes of the line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_test_support.h"
#include "text/byte_order_mark.h"
#include "respmat/text.h"

using respmat::fuzz::check;

namespace {

bool same_row(char **a, char **b) {
  if (carray_count(a) != carray_count(b)) return false;
  for (std::int32_t f = 0; f < carray_count(a); ++f)
    if (std::strcmp(a[f], b[f]) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile scratch("table");
  FuzzedDataProvider in(data, size);
  // Parameters come from the end of the input, the file from the front.
  const bool split_ws = in.ConsumeBool();
  const std::string sep = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 3));
  const char quote = in.ConsumeIntegral<char>();
  const bool has_skip = in.ConsumeBool();
  const std::string skip = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 2));
  const std::string text = in.ConsumeRemainingBytesAsString();
  // A separator with a NUL in it is shorter as a C string; that is the string passed.
  const char *sep_arg = split_ws ? nullptr : sep.c_str();
  const char *skip_arg = has_skip ? skip.c_str() : nullptr;

  const char *path = scratch.write(text);
  StringTable table = table_read(path, sep_arg, quote, skip_arg);
  check(table != nullptr, "a readable file gave no table");

  // The same rows again, line by line.
  std::FILE *file = std::fopen(path, "rb");
  check(file != nullptr, "cannot reopen the scratch file");
  std::int32_t r = 0;
  const std::size_t skip_length = std::strlen(skip.c_str());
  bool first_line = true;
  while (char *line = text_read_line(file)) {
    // The table reader skips a byte-order mark that starts the file.
    const char *text = first_line ? line + respmat::detail::byte_order_mark_length(line) : line;
    first_line = false;
    if (skip_arg == nullptr || std::strncmp(text, skip_arg, skip_length) != 0) {
      char **row = sep_arg != nullptr ? text_split(sep_arg, text, quote) : text_split_ws(text, quote);
      check(row != nullptr, "split failed");
      check(r < carray_count(table), "table has fewer rows than the file has lines");
      check(same_row(table[r], row), "table row differs from the split line");
      carray_free_all(row);
      ++r;
    }
    std::free(line);
  }
  std::fclose(file);
  check(r == carray_count(table), "table has more rows than the file has lines");
  table_free(table);
  return 0;
}
