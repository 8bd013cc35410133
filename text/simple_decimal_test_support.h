// Test support: the check of parse_simple_decimal() against strtod, compiled into each
// test that builds the reader for an instruction set of its own (hence the unnamed
// namespace: every such test keeps its own copy).
#ifndef RESPMAT_TEXT_SIMPLE_DECIMAL_TEST_SUPPORT_H
#define RESPMAT_TEXT_SIMPLE_DECIMAL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "text/simple_decimal.h"

namespace respmat::testing {
namespace {

// Texts near the form: pieces that make long runs, points, letters, signs and big
// exponents, and numbers printed as %.9e and %.*g.
inline std::string simple_decimal_test_text(std::mt19937_64 &rng, int trial) {
  const char *pieces[] = {"0", "3", "1234567", "90071992547409", "9007199254740993", "-", ".", "e", "E+",
                          "e-", "22", "23", "x", "5", "e308", "0007", "e0012"};
  std::string text;
  if (trial % 2 == 0) {
    for (int k = static_cast<int>(rng() % 6); k >= 0; --k) text += pieces[rng() % std::size(pieces)];
    return text;
  }
  char printed[64];
  const double x = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 110);
  if (trial % 4 == 1)
    std::snprintf(printed, sizeof printed, "%.9e", x);
  else
    std::snprintf(printed, sizeof printed, "%.*g", static_cast<int>(rng() % 20) + 1, x);
  return printed;
}

inline std::uint64_t bits_of_double(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// Where parse_simple_decimal() takes `text`, its value and end are strtod's; read where
// it stands, followed by a separator and more text, it ends and reads the same.
inline void expect_simple_decimal_like_strtod(const std::string &text) {
  double value = 0.0;
  const char *end = respmat::detail::parse_simple_decimal(text.data(), text.data() + text.size(), value);
  const std::string in_line = text + ",-1.5e-3,2.25" + std::string(64, '7');
  double value_in_line = 0.0;
  const char *end_in_line =
      respmat::detail::parse_simple_decimal(in_line.data(), in_line.data() + in_line.size(), value_in_line);
  ASSERT_EQ(end == nullptr, end_in_line == nullptr) << text;
  if (end == nullptr) return;
  char *strtod_end = nullptr;
  const double expected = std::strtod(text.c_str(), &strtod_end);
  ASSERT_EQ(end, strtod_end) << text;
  ASSERT_EQ(bits_of_double(value), bits_of_double(expected)) << text;
  ASSERT_EQ(end_in_line - in_line.data(), end - text.data()) << text;
  ASSERT_EQ(bits_of_double(value_in_line), bits_of_double(expected)) << text;
}

}  // namespace
}  // namespace respmat::testing

#endif
