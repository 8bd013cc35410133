// The table reader: one row per line that is not a comment, collected in a working
// array that grows by a quarter and is trimmed to its exact size at the end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "text/byte_order_mark.h"
#include "text/counted_array_layout.h"
#include "text/line_source.h"
#include "text/table_read_stream.h"
#include "respmat/garray.h"
#include "respmat/text.h"

namespace {

using respmat::detail::counted_new;
using respmat::detail::counted_release;

// Rows collected so far; owns them until they are handed to the table.
struct RowCollector {
  char ***rows = nullptr;
  std::int64_t count = 0;
  std::int64_t capacity = 0;

  ~RowCollector() {
    while (count > 0) carray_free_all(rows[--count]);
    std::free(rows);
  }

  bool start() {
    capacity = default_min_capacity;
    rows = static_cast<char ***>(std::malloc(static_cast<std::size_t>(capacity ? capacity : 1) *
                                             sizeof(char **)));
    return rows != nullptr;
  }

  // Takes ownership of `row` in every case.
  bool add(char **row) {
    if (count == capacity) {
      const std::int64_t grown = (count + 1) * 5 / 4;  // (count + 1) x 1.25, truncated
      if (grown > INT32_MAX) {
        carray_free_all(row);
        return false;
      }
      auto *bigger = static_cast<char ***>(std::malloc(static_cast<std::size_t>(grown) *
                                                       sizeof(char **)));
      if (bigger == nullptr) {
        carray_free_all(row);
        return false;
      }
      if (count != 0) std::memcpy(bigger, rows, static_cast<std::size_t>(count) * sizeof(char **));
      std::free(rows);
      rows = bigger;
      capacity = grown;
    }
    rows[count++] = row;
    return true;
  }

  StringTable finish() {
    StringTable table = counted_new<char **>(static_cast<std::int32_t>(count));
    if (table == nullptr) return nullptr;
    if (count != 0) std::memcpy(table, rows, static_cast<std::size_t>(count) * sizeof(char **));
    count = 0;
    return table;
  }
};

bool is_comment(const char *line, const char *skip, std::size_t skip_length) {
  return skip != nullptr && std::strncmp(line, skip, skip_length) == 0;
}

}  // namespace

namespace respmat::detail {

StringTable table_read_stream(std::FILE *file, const char *sep, char quote, const char *skip, TextGuard *guard) {
  RowCollector collector;
  bool ok = collector.start();
  const std::size_t skip_length = skip != nullptr ? std::strlen(skip) : 0;
  // Lines are read in large blocks: a line read on its own would cost a system call
  // or two to measure and re-read it.
  LineSource lines(file, std::size_t{1} << 20, guard);
  bool seen_a_line = false;  // a byte-order mark can only start the first one
  for (std::string_view line; ok && lines.next(line);) {
    if (collector.count == 0 && !seen_a_line) line.remove_prefix(byte_order_mark_length(line));
    seen_a_line = true;
    if (!is_comment(line.data(), skip, skip_length)) {
      char **row = sep != nullptr ? text_split(sep, line.data(), quote) : text_split_ws(line.data(), quote);
      ok = row != nullptr && collector.add(row);
    }
  }
  // The line source ends the input on a read error or when memory runs out as well;
  // neither may pass for a shorter file.
  ok = ok && !lines.failed() && !std::ferror(file);
  return ok ? collector.finish() : nullptr;
}

}  // namespace respmat::detail

extern "C" StringTable table_read(const char *path, const char *sep, char quote,
                                  const char *skip) {
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  StringTable table = respmat::detail::table_read_stream(file, sep, quote, skip);
  std::fclose(file);
  return table;
}

extern "C" void table_free(StringTable table) {
  if (table == nullptr) return;
  for (std::int32_t r = carray_count(table); r-- > 0;) carray_free_all(table[r]);
  counted_release(table);
}
