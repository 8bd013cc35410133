#include "text/first_line_fields.h"

#include <cstddef>

#include "base/stream_read.h"
#include "text/line_ends.h"

namespace respmat::detail {
namespace {

constexpr std::size_t kBlockBytes = 1 << 16;

}  // namespace

std::optional<std::int64_t> count_first_line_fields(std::FILE *stream, TextGuard *guard) {
  char block[kBlockBytes];
  std::size_t line_bytes = 0;
  std::int64_t commas = 0;
  bool line_started = false;  // a byte of the line itself has been seen
  for (;;) {
    const std::size_t got = read_fully(block, 1, sizeof block, stream);
    for (std::size_t i = 0; i < got; ++i) {
      if (!ends_line(block[i])) {
        commas += block[i] == ',';
        line_started = true;
        continue;
      }
      if (line_started || block[i] != '\r') return commas + 1;
      // An empty first line ended by a carriage return is a line only when more
      // input follows: a lone carriage return at the very end is the end of input.
      if (i + 1 < got) return 1;
      const int next = get_byte(stream);
      if (next == EOF && std::ferror(stream)) return std::nullopt;
      return next == EOF ? 0 : 1;
    }
    line_bytes += got;
    if (guard != nullptr && !guard->admits_open_line(line_bytes)) return std::nullopt;
    if (got < sizeof block) {
      if (std::ferror(stream)) return std::nullopt;
      return line_started ? commas + 1 : 0;
    }
  }
}

}  // namespace respmat::detail
