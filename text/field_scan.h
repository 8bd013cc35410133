// Internal: the two field scans shared by the splitters and the fast matrix loader,
// so that both cut fields at exactly the same places.
#ifndef RESPMAT_TEXT_FIELD_SCAN_H
#define RESPMAT_TEXT_FIELD_SCAN_H

#include <cstddef>
#include <cstring>

namespace respmat::detail {

// Calls on_field(begin, length) for each field of `line` cut at `sep`.
template <typename OnField>
inline void scan_separated(const char *sep, const char *line, char quote, OnField on_field) {
  const std::size_t sep_length = std::strlen(sep);
  if (sep_length == 1 && quote == '\0') {
    // Without quoting every occurrence of a one-byte separator splits.
    const char *field = line;
    while (const char *hit = std::strchr(field, sep[0])) {
      on_field(field, static_cast<std::size_t>(hit - field));
      field = hit + 1;
    }
    on_field(field, std::strlen(field));
    return;
  }
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

// White space as isspace() sees it in the C locale, which is what atof skips.
inline bool is_c_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename OnField>
inline void scan_whitespace(const char *line, char quote, OnField on_field) {
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

}  // namespace respmat::detail

#endif
