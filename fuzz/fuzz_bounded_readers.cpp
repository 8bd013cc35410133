// The bounds of the tool's readers, at sizes the fuzzer reaches (taken from the input):
// the line source and the line blocks, fed the same bytes once or over and over without
// end, both stop at a fault or neither does; they agree on every line they hand out;
// no line is past its bounds; an input they take whole holds no NUL where NUL means
// binary data; and an endless input always ends in a fault, never in a hang.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_test_support.h"
#include "input/line_blocks.h"
#include "text/line_source.h"
#include "text/text_bounds.h"

using respmat::detail::TextBounds;
using respmat::detail::TextFault;
using respmat::detail::TextGuard;
using respmat::fuzz::check;

namespace {

// The bytes of a stream: once, or repeated without end.
struct Repeated {
  std::string bytes;
  bool endless = false;
  std::size_t at = 0;
};

ssize_t read_repeated(void *cookie, char *buffer, std::size_t size) {
  Repeated &source = *static_cast<Repeated *>(cookie);
  std::size_t done = 0;
  while (done < size && !source.bytes.empty()) {
    if (source.at == source.bytes.size()) {
      if (!source.endless) break;
      source.at = 0;
    }
    const std::size_t n = std::min(size - done, source.bytes.size() - source.at);
    std::memcpy(buffer + done, source.bytes.data() + source.at, n);
    done += n;
    source.at += n;
  }
  return static_cast<ssize_t>(done);
}

struct Outcome {
  std::vector<std::string> lines;
  TextFault fault = TextFault::none;
};

void check_within(const TextBounds &bounds, std::string_view line) {
  check(line.size() <= bounds.longest_line, "a line past its bound was handed out");
  std::size_t run = 0;
  for (const char c : line) {
    run = c == ',' || c == ' ' || c == '\t' ? 0 : run + 1;
    check(run <= bounds.longest_field, "a field past its bound was handed out");
  }
}

template <typename Read>
Outcome read_with(Repeated source, const TextBounds &bounds, Read read) {
  Outcome outcome;
  std::FILE *stream = fopencookie(&source, "rb", {read_repeated, nullptr, nullptr, nullptr});
  if (stream == nullptr) respmat::fuzz::fail("cannot open a stream over the input");
  TextGuard guard(bounds);
  read(stream, guard, outcome.lines);
  std::fclose(stream);
  outcome.fault = guard.fault();
  for (const std::string &line : outcome.lines) check_within(bounds, line);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  TextBounds bounds{in.ConsumeIntegralInRange<std::size_t>(0, 64), in.ConsumeIntegralInRange<std::size_t>(0, 64),
                    in.ConsumeIntegralInRange<std::uint64_t>(0, 16384), in.ConsumeIntegralInRange<std::uint64_t>(0, 64),
                    in.ConsumeBool()};
  const std::size_t block = in.ConsumeIntegralInRange<std::size_t>(1, 256);
  Repeated source{.bytes = "", .endless = in.ConsumeBool()};
  source.bytes = in.ConsumeRemainingBytesAsString();

  const Outcome from_source = read_with(source, bounds, [&](std::FILE *stream, TextGuard &guard, auto &lines) {
    respmat::detail::LineSource reader(stream, block, &guard);
    for (std::string_view line; reader.next(line);) lines.emplace_back(line);
  });
  const Outcome from_blocks = read_with(source, bounds, [&](std::FILE *stream, TextGuard &guard, auto &lines) {
    respmat::LineBlocks reader(stream, block, &guard);
    for (std::vector<respmat::NumberedLine> got; reader.next(got);)
      for (const respmat::NumberedLine &line : got) lines.emplace_back(line.text);
  });

  check((from_source.fault == TextFault::none) == (from_blocks.fault == TextFault::none),
        "one reader stops at a fault where the other does not");
  const std::size_t common = std::min(from_source.lines.size(), from_blocks.lines.size());
  check(std::equal(from_source.lines.begin(), from_source.lines.begin() + static_cast<std::ptrdiff_t>(common),
                   from_blocks.lines.begin()),
        "the readers hand out different lines");
  if (from_source.fault == TextFault::none) {
    check(from_source.lines == from_blocks.lines, "the readers take different lines from a whole input");
    check(!source.endless || source.bytes.empty(), "an endless input was taken without a fault");
    check(!bounds.nul_is_binary || source.bytes.find('\0') == std::string::npos,
          "an input with a NUL was taken as text");
  }
  return 0;
}
