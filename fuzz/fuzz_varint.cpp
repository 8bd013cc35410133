// The varint readers on arbitrary bytes: the bounded memory reader never reads past
// its buffer, the stream reader gives the same numbers from a file, a memory stream
// and a pipe, and every number read encodes back to at most five bytes that read
// back to it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "respmat/garray.h"
#include "container/varint_checked.h"
#include "fuzz_test_support.h"

using respmat::fuzz::check;

namespace {

std::vector<std::uint32_t> read_stream(std::FILE *stream, std::size_t n) {
  std::vector<std::uint32_t> values;
  for (std::size_t i = 0; i < n; ++i) values.push_back(varint_read_stream(stream));
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // An exact-size copy, so that reading one byte too many is caught.
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
  if (size != 0) std::memcpy(bytes.get(), data, size);

  std::vector<std::uint32_t> values;
  const std::uint8_t *cursor = bytes.get();
  const std::uint8_t *const end = bytes.get() + size;
  std::uint32_t value;
  while (respmat::detail::varint_read_mem_checked(&cursor, static_cast<std::size_t>(end - cursor), &value)) {
    check(cursor <= end, "the bounded reader went past its buffer");
    values.push_back(value);
    std::uint8_t encoded[8];
    std::uint8_t *out = encoded;
    varint_write_mem(value, &out);
    check(out - encoded >= 1 && out - encoded <= 5, "an encoding is not 1 to 5 bytes");
    check((out[-1] & 0x80) != 0 && (out - encoded == 1 || (encoded[0] & 0x80) == 0),
          "only the last byte carries the high bit");
    const std::uint8_t *in = encoded;
    check(varint_read_mem(&in) == value && in == out, "an encoding does not read back");
    check(zigzag_encode(zigzag_decode(value)) == value, "zigzag does not invert");
  }
  if (values.empty()) return 0;

  // The same numbers from streams of every kind.
  std::FILE *file = std::tmpfile();
  check(file != nullptr, "tmpfile");
  std::fwrite(bytes.get(), 1, size, file);
  std::rewind(file);
  check(read_stream(file, values.size()) == values, "a file gives other numbers");
  std::fclose(file);
  std::FILE *memory = ::fmemopen(bytes.get(), size, "rb");
  check(memory != nullptr, "fmemopen");
  check(read_stream(memory, values.size()) == values, "a memory stream gives other numbers");
  std::fclose(memory);
  if (size <= 60000) {
    int ends[2];
    check(::pipe(ends) == 0, "pipe");
    check(::write(ends[1], bytes.get(), size) == static_cast<ssize_t>(size), "pipe write");
    ::close(ends[1]);
    std::FILE *pipe = ::fdopen(ends[0], "rb");
    check(read_stream(pipe, values.size()) == values, "a pipe gives other numbers");
    // Past the end the reader keeps answering without blocking or failing.
    static_cast<void>(varint_read_stream(pipe));
    std::fclose(pipe);
  }
  return 0;
}
