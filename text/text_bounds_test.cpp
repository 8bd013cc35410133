#include "text/text_bounds.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using respmat::detail::TextBounds;
using respmat::detail::TextFault;
using respmat::detail::TextGuard;

// The field check skips most bytes of a line; it must find exactly the lines that a
// plain run count finds.
TEST(TextGuard, FindsALongFieldExactlyWhereARunCountDoes) {
  const std::uint32_t seed = std::random_device{}();
  std::mt19937 random(seed);
  const TextBounds bounds{1000, 8, 1 << 20, 1 << 20};
  for (int trial = 0; trial < 20000; ++trial) {
    std::string line(std::uniform_int_distribution<std::size_t>(0, 40)(random), 'x');
    for (char &c : line) c = "xxxxxxxx, \t"[std::uniform_int_distribution<int>(0, 10)(random)];
    std::size_t run = 0, longest = 0;
    for (const char c : line) longest = std::max(longest, run = c == ',' || c == ' ' || c == '\t' ? 0 : run + 1);
    TextGuard guard(bounds);
    EXPECT_EQ(guard.admits_line(line, '\n'), longest <= bounds.longest_field) << "seed " << seed << ": " << line;
  }
}

}  // namespace
