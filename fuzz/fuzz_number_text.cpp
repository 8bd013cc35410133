// The number conversions of the delimited-text paths against the C library: the
// parser and its general path against atof on arbitrary text, the "%.16lg" formatter
// against snprintf on arbitrary bit patterns (the first eight bytes) and the parsed value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_test_support.h"
#include "text/number_text.h"

using respmat::fuzz::check;

namespace {

void check_format(double value) {
  char fast[respmat::detail::kMaxG16Length + 1];
  char *end = respmat::detail::format_g16(value, fast);
  check(end >= fast && end <= fast + respmat::detail::kMaxG16Length, "formatted text too long");
  *end = '\0';
  char expected[64];
  std::snprintf(expected, sizeof expected, "%.16lg", value);
  check(std::strcmp(fast, expected) == 0, "format_g16 differs from printf");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size >= sizeof(double)) {
    double bits;
    std::memcpy(&bits, data, sizeof bits);
    check_format(bits);
  }
  const std::string text(reinterpret_cast<const char *>(data), size);
  const char *begin = text.c_str();
  // atof stops at a NUL; the parser is given the text up to the first one.
  const char *end = begin + std::strlen(begin);
  const double parsed = respmat::detail::parse_number(begin, end);
  const double expected = std::atof(begin);
  check(std::memcmp(&parsed, &expected, sizeof parsed) == 0, "parse_number differs from atof");
  const double in_general = respmat::detail::parse_number_in_general(begin, end);
  check(std::memcmp(&in_general, &expected, sizeof in_general) == 0, "parse_number_in_general differs from atof");
  check_format(parsed);
  return 0;
}
