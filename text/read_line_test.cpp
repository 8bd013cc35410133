#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "respmat/text.h"

namespace {

using respmat::testing::stream_over;

// Every line text_read_line returns for `bytes`, in order.
std::vector<std::string> lines_of(std::FILE *stream) {
  std::vector<std::string> lines;
  while (char *line = text_read_line(stream)) {
    lines.emplace_back(line);
    std::free(line);
  }
  return lines;
}

std::vector<std::string> lines_of(std::string_view bytes) {
  auto stream = stream_over(bytes);
  return lines_of(stream.get());
}

using Lines = std::vector<std::string>;

TEST(TextReadLine, EndsLinesAtEveryKindOfLineEnd) {
  EXPECT_EQ(lines_of("a\nb\rc\r\nd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(lines_of(std::string_view("a\0b", 3)), (Lines{"a", "b"}));
  EXPECT_EQ(lines_of("a\r\rb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(lines_of("a\n\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(lines_of(std::string_view("a\r\0b", 4)), (Lines{"a", "", "b"}));
}

TEST(TextReadLine, FinalLineEndDoesNotAddAnEmptyLine) {
  EXPECT_EQ(lines_of(""), Lines{});
  EXPECT_EQ(lines_of("\n"), Lines{""});
  EXPECT_EQ(lines_of("x\n"), Lines{"x"});
  EXPECT_EQ(lines_of("x\r"), Lines{"x"});
  EXPECT_EQ(lines_of("x\r\n"), Lines{"x"});
  EXPECT_EQ(lines_of("x\n\n"), (Lines{"x", ""}));
  EXPECT_EQ(lines_of("x"), Lines{"x"});
}

TEST(TextReadLine, LeavesTheStreamAtTheNextLine) {
  auto stream = stream_over("first\r\nsecond");
  char *line = text_read_line(stream.get());
  ASSERT_NE(line, nullptr);
  std::free(line);
  EXPECT_EQ(std::ftell(stream.get()), 7);
  EXPECT_EQ(std::fgetc(stream.get()), 's');
}

TEST(TextReadLine, KeepsLongLinesAndHighBytesIntact) {
  std::string long_line(1 << 20, 'x');
  long_line[12345] = '\xff';
  EXPECT_EQ(lines_of(long_line + "\ny"), (Lines{long_line, "y"}));
}

TEST(TextReadLine, ReadsPipesLikeFiles) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string bytes("a\r\nb\rc\n\nlast", 13);
  ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  std::FILE *pipe = ::fdopen(fds[0], "rb");
  EXPECT_EQ(lines_of(pipe), (Lines{"a", "b", "c", "", "last"}));
  std::fclose(pipe);
}

TEST(TextReadLine, StreamInErrorEndsTheInputInsteadOfYieldingEmptyLines) {
  std::FILE *directory = std::fopen(".", "rb");
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(text_read_line(directory), nullptr);
  std::fclose(directory);
}

}  // namespace
