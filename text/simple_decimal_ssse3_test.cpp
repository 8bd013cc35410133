// The simple decimal reader as built for SSSE3 (this file is compiled with -mssse3),
// which reads short numbers from one sixteen-byte look.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/simple_decimal_test_support.h"

namespace {

bool processor_has_ssse3() { return __builtin_cpu_supports("ssse3"); }

TEST(ParseNumberSsse3, SimpleDecimalsEndWhereStrtodEnds) {
  if (!processor_has_ssse3()) GTEST_SKIP() << "the processor has no SSSE3";
  std::mt19937_64 rng(6);
  for (int trial = 0; trial < 300000; ++trial)
    respmat::testing::expect_simple_decimal_like_strtod(respmat::testing::simple_decimal_test_text(rng, trial));
  // Where the sixteen bytes end: the significand, exponent letter, sign and digits at
  // every offset, and exponents of four and five digits.
  for (int width = 1; width <= 17; ++width)
    for (const char *tail : {"", ".", ".5", "e", "e-", "e-1", "e+22", "e0022", "e00022", "x1", "E7"}) {
      std::string text(static_cast<std::size_t>(width), '7');
      text[0] = '1';
      respmat::testing::expect_simple_decimal_like_strtod(text + tail);
      respmat::testing::expect_simple_decimal_like_strtod("-0." + text + tail);
    }
}

}  // namespace
