#include "text/line_source.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "respmat/text.h"

namespace {

using respmat::detail::LineSource;
using respmat::testing::stream_over;

std::vector<std::string> reference_lines(std::string_view bytes) {
  auto stream = stream_over(bytes);
  std::vector<std::string> lines;
  while (char *line = text_read_line(stream.get())) {
    lines.emplace_back(line);
    std::free(line);
  }
  return lines;
}

std::vector<std::string> block_lines(std::string_view bytes, std::size_t block_size) {
  auto stream = stream_over(bytes);
  LineSource source(stream.get(), block_size);
  std::vector<std::string> lines;
  std::string_view line;
  while (source.next(line)) {
    EXPECT_EQ(line.data()[line.size()], '\0');
    lines.emplace_back(line);
  }
  EXPECT_FALSE(source.failed());
  return lines;
}

// Short texts over an alphabet rich in line ends, so every way a line end can meet a
// block boundary occurs.
TEST(LineSource, YieldsTheSameLinesAsTheLineReaderOnHostileText) {
  std::mt19937_64 rng(2024);
  const char alphabet[] = {'a', 'b', ',', ' ', '\n', '\r', '\0', '"', '\xff'};
  for (int trial = 0; trial < 3000; ++trial) {
    std::string bytes(rng() % 40, 'x');
    for (char &c : bytes) c = alphabet[rng() % sizeof alphabet];
    const auto expected = reference_lines(bytes);
    for (std::size_t block : {1u, 2u, 3u, 5u, 64u, 1u << 20}) {
      ASSERT_EQ(block_lines(bytes, block), expected)
          << "block " << block << " text " << testing::PrintToString(bytes);
    }
  }
}

TEST(LineSource, CarriesLinesLongerThanABlock) {
  const std::string long_line(100000, 'z');
  const std::string text = long_line + "\r\n" + long_line + "\r";
  EXPECT_EQ(block_lines(text, 7), reference_lines(text));
}

TEST(LineSource, ReportsReadErrors) {
  std::FILE *directory = std::fopen(".", "rb");
  ASSERT_NE(directory, nullptr);
  LineSource source(directory);
  std::string_view line;
  EXPECT_FALSE(source.next(line));
  EXPECT_TRUE(source.failed());
  std::fclose(directory);
}

}  // namespace
