#include "matrix/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace respmat::detail {
namespace {

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// strtod needs a NUL right after the field, which the field's own text lacks.
double parse_with_strtod(const char *begin, const char *end) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  char small[64];
  if (length < sizeof small) {
    std::memcpy(small, begin, length);
    small[length] = '\0';
    return std::strtod(small, nullptr);
  }
  const std::string text(begin, end);
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

double parse_number(const char *begin, const char *end) {
  const char *p = begin;
  while (p != end && is_c_space(*p)) ++p;
  // std::from_chars reads plain decimal forms exactly as strtod does. Everything else
  // (a '+', hexadecimal, infinities, NaNs and their payloads, no digits at all, and
  // values out of range, where strtod gives an infinity or a zero) goes to strtod.
  const char *digits = p != end && *p == '-' ? p + 1 : p;
  if (digits == end) return parse_with_strtod(p, end);
  const bool plain_start =
      (is_digit(*digits) && !(digits[0] == '0' && digits + 1 != end && (digits[1] | 0x20) == 'x')) ||
      (*digits == '.' && digits + 1 != end && is_digit(digits[1]));
  if (plain_start) {
    double value;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc()) return value;
  }
  return parse_with_strtod(p, end);
}

char *format_g16(double value, char *out) {
  if (std::isfinite(value)) return std::to_chars(out, out + kMaxG16Length, value,
                                                 std::chars_format::general, 16).ptr;
  const char *text = std::isinf(value) ? (value < 0 ? "-inf" : "inf")
                                       : (std::signbit(value) ? "-nan" : "nan");
  const std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}

}  // namespace respmat::detail
