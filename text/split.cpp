// The two field splitters. Each runs its scan twice: once to count the fields so the
// row is allocated at its final size, once to cut them.
#include <cstdlib>
#include <cstring>

#include "text/counted_array_layout.h"
#include "text/field_scan.h"
#include "respmat/text.h"

namespace {

using respmat::detail::counted_new;
using respmat::detail::scan_separated;
using respmat::detail::scan_whitespace;

char *copy_field(const char *begin, std::size_t length) {
  char *field = static_cast<char *>(std::malloc(length + 1));
  if (field == nullptr) return nullptr;
  std::memcpy(field, begin, length);
  field[length] = '\0';
  return field;
}

// Releases the first `filled` fields of a row that could not be completed.
char **abandon_row(char **row, std::int32_t filled) {
  while (filled > 0) std::free(row[--filled]);
  respmat::detail::counted_release(row);
  return nullptr;
}

template <typename Scan>
char **split_with(Scan scan) {
  std::int64_t count = 0;
  scan([&](const char *, std::size_t) { ++count; });
  if (count > INT32_MAX) return nullptr;
  char **row = counted_new<char *>(static_cast<std::int32_t>(count));
  if (row == nullptr) return nullptr;
  std::int32_t filled = 0;
  bool failed = false;
  scan([&](const char *begin, std::size_t length) {
    if (failed) return;
    char *field = copy_field(begin, length);
    if (field == nullptr)
      failed = true;
    else
      row[filled++] = field;
  });
  return failed ? abandon_row(row, filled) : row;
}

}  // namespace

extern "C" char **text_split(const char *sep, const char *line, char quote) {
  return split_with([&](auto on_field) { scan_separated(sep, line, quote, on_field); });
}

extern "C" char **text_split_ws(const char *line, char quote) {
  return split_with([&](auto on_field) { scan_whitespace(line, quote, on_field); });
}
