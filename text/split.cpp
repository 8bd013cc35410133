// The two field splitters. Each runs its scan twice: once to count the fields so the
// row is allocated at its final size, once to cut them.
#include <cstdlib>
#include <cstring>

#include "text/counted_array_layout.h"
#include "text/text.h"

namespace {

using respmat::detail::counted_new;

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

// Calls on_field(begin, length) for each field of `line` cut at `sep`.
template <typename OnField>
void scan_separated(const char *sep, const char *line, char quote, OnField on_field) {
  const std::size_t sep_length = std::strlen(sep);
  bool inside_quotes = false;
  const char *field = line;
  const char *p = line;
  while (*p != '\0') {
    if (*p == quote) inside_quotes = !inside_quotes;
    // strncmp stops at the line's NUL, so a separator longer than the rest of the
    // line is never read past its end.
    if (!inside_quotes && sep_length != 0 && std::strncmp(p, sep, sep_length) == 0) {
      on_field(field, static_cast<std::size_t>(p - field));
      p += sep_length;
      field = p;
    } else {
      ++p;
    }
  }
  on_field(field, static_cast<std::size_t>(p - field));
}

bool is_c_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename OnField>
void scan_whitespace(const char *line, char quote, OnField on_field) {
  bool in_field = false;
  bool inside_quotes = false;
  const char *field = line;
  const char *p = line;
  for (; *p != '\0'; ++p) {
    if (*p == quote) {
      inside_quotes = !inside_quotes;
      if (!in_field) {
        in_field = true;
        field = p;
      }
    } else if (!inside_quotes) {
      const bool space = is_c_space(static_cast<unsigned char>(*p));
      if (!in_field && !space) {
        in_field = true;
        field = p;
      } else if (in_field && space) {
        on_field(field, static_cast<std::size_t>(p - field));
        in_field = false;
      }
    }
  }
  if (in_field) on_field(field, static_cast<std::size_t>(p - field));
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
