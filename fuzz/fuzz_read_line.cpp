// text_read_line on odd streams: a real file, a memory stream, a pipe (which cannot be
// repositioned), a folder and a stream opened for writing only. Every readable kind
// must yield the same lines, and so must the block readers of the fast loaders and of
// whole matrices at any block size, and the count of the first line's fields must match; the unreadable kinds must end at once instead of yielding empty lines.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_test_support.h"
#include "input/line_blocks.h"
#include "text/first_line_fields.h"
#include "text/line_source.h"
#include "respmat/text.h"

using respmat::fuzz::check;

namespace {

// Past this many lines a reader that does not stop is taken to be looping.
std::vector<std::string> lines_of(std::FILE *stream, std::size_t limit) {
  std::vector<std::string> lines;
  while (char *line = text_read_line(stream)) {
    lines.emplace_back(line);
    std::free(line);
    check(lines.size() <= limit, "more lines than bytes: the reader does not stop");
  }
  return lines;
}

std::FILE *pipe_over(const std::string &bytes) {
  int ends[2];
  if (::pipe(ends) != 0) respmat::fuzz::fail("pipe");
  // A pipe holds at least 64 KiB, so the whole input fits before anyone reads.
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(ends[1], bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) respmat::fuzz::fail("pipe write");
    done += static_cast<std::size_t>(wrote);
  }
  ::close(ends[1]);
  return ::fdopen(ends[0], "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile scratch("lines");
  FuzzedDataProvider in(data, size);
  const std::size_t block_size = in.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::string text = in.ConsumeRemainingBytesAsString();
  const std::size_t limit = text.size() + 1;

  std::FILE *file = std::fopen(scratch.write(text), "rb");
  check(file != nullptr, "cannot reopen the scratch file");
  const std::vector<std::string> expected = lines_of(file, limit);
  check(std::feof(file) && !std::ferror(file), "a file read ended before its end");
  std::fclose(file);

  if (!text.empty()) {
    std::FILE *memory = ::fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
    check(memory != nullptr, "fmemopen");
    check(lines_of(memory, limit) == expected, "a memory stream reads other lines");
    std::fclose(memory);
  }
  if (text.size() <= 60000) {
    std::FILE *pipe = pipe_over(text);
    check(pipe != nullptr, "fdopen");
    check(lines_of(pipe, limit) == expected, "a pipe reads other lines");
    std::fclose(pipe);
  }

  // The block reader, with blocks small enough to cut lines and line ends anywhere.
  file = std::fopen(scratch.path(), "rb");
  check(file != nullptr, "cannot reopen the scratch file");
  {
    respmat::detail::LineSource source(file, block_size);
    std::string_view line;
    std::size_t n = 0;
    while (source.next(line)) {
      check(n < expected.size() && line == expected[n], "the block reader reads other lines");
      check(line.data()[line.size()] == '\0', "a block line is not NUL-terminated");
      ++n;
    }
    check(!source.failed() && n == expected.size(), "the block reader stops early");
  }
  std::fclose(file);

  // The reader of many lines at once, with blocks as small.
  file = std::fopen(scratch.path(), "rb");
  check(file != nullptr, "cannot reopen the scratch file");
  {
    respmat::LineBlocks blocks(file, block_size);
    std::vector<respmat::NumberedLine> lines;
    std::size_t n = 0;
    while (blocks.next(lines))
      for (const respmat::NumberedLine &line : lines) {
        check(n < expected.size() && line.text == expected[n], "the line blocks hold other lines");
        check(line.number == static_cast<std::int64_t>(++n), "the line blocks number lines wrongly");
      }
    check(!blocks.failed() && n == expected.size(), "the line blocks stop early");
  }
  std::fclose(file);

  // The tool's streaming count of the first line's fields agrees with the line reader.
  file = std::fopen(scratch.path(), "rb");
  check(file != nullptr, "cannot reopen the scratch file");
  const std::optional<std::int64_t> fields = respmat::detail::count_first_line_fields(file);
  const std::int64_t first_line_fields =
      expected.empty() ? 0 : 1 + std::count(expected[0].begin(), expected[0].end(), ',');
  check(fields == first_line_fields, "the first line's field count disagrees with the line reader");
  std::fclose(file);

  // Streams that cannot be read must end the input at once.
  std::FILE *folder = std::fopen(".", "rb");
  if (folder != nullptr) {
    check(lines_of(folder, 1).empty(), "a folder yields lines");
    std::fclose(folder);
  }
  std::FILE *write_only = std::fopen(scratch.path(), "ab");
  check(write_only != nullptr, "cannot open the scratch file for writing");
  check(lines_of(write_only, 1).empty(), "a write-only stream yields lines");
  std::fclose(write_only);
  return 0;
}
