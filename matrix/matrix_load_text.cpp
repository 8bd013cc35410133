// Loading a Matrix from delimited text. The file is read in large blocks and each
// line is split and converted in place, with no table of field strings in between;
// the result equals the table reader followed by atof on every field.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "respmat/matrix.h"
#include "matrix/matrix_layout.h"
#include "text/number_text.h"
#include "text/field_scan.h"
#include "text/line_source.h"
#include "text/owned_file.h"

namespace {

using namespace respmat::detail;

// Cuts `line` into fields the way the table reader would.
template <typename OnField>
void scan_fields(const char *line, const char *sep, char quote, OnField on_field) {
  if (sep != nullptr)
    scan_separated(sep, line, quote, on_field);
  else
    scan_whitespace(line, quote, on_field);
}

// Rows converted so far; releases them unless they are handed to a matrix.
struct RowList {
  std::vector<double *> rows;
  ~RowList() {
    for (double *row : rows) std::free(row);
  }
};

// Converts the first `cols` fields of `line` into a new row; missing fields are 0.0.
double *convert_row(const char *line, std::int32_t cols, const char *sep, char quote) {
  auto *row = static_cast<double *>(matrix_new_row(cols, sizeof(double)));
  if (row == nullptr) return nullptr;
  std::int32_t c = 0;
  scan_fields(line, sep, quote, [&](const char *field, std::size_t length) {
    if (c < cols) row[c++] = parse_number(field, field + length);
  });
  for (; c < cols; ++c) row[c] = 0.0;
  return row;
}

std::int32_t count_fields(const char *line, const char *sep, char quote) {
  std::int64_t count = 0;
  scan_fields(line, sep, quote, [&](const char *, std::size_t) { ++count; });
  return count > INT32_MAX ? -1 : static_cast<std::int32_t>(count);
}

}  // namespace

extern "C" Matrix matrix_load_text(const char *path, int32_t drop_rows, const char *sep,
                                   char quote, const char *skip) {
  const OwnedFile file(std::fopen(path, "rb"));
  if (!file) return nullptr;
  const std::size_t skip_length = skip != nullptr ? std::strlen(skip) : 0;

  LineSource lines(file.get());
  RowList list;
  std::int32_t cols = -1;
  std::int64_t to_drop = drop_rows;
  std::string_view line;
  while (lines.next(line)) {
    if (skip != nullptr && std::strncmp(line.data(), skip, skip_length) == 0) continue;
    if (to_drop > 0) {
      --to_drop;
      continue;
    }
    if (cols < 0 && (cols = count_fields(line.data(), sep, quote)) < 0) return nullptr;
    if (list.rows.size() == INT32_MAX) return nullptr;
    double *row = convert_row(line.data(), cols, sep, quote);
    if (row == nullptr) return nullptr;
    try {
      list.rows.push_back(row);
    } catch (const std::bad_alloc &) {
      std::free(row);
      return nullptr;
    }
  }
  if (lines.failed()) return nullptr;

  const auto rows = static_cast<std::int32_t>(list.rows.size());
  Matrix M = matrix_new_header(rows, cols < 0 ? 0 : cols);
  if (M == nullptr) return nullptr;
  if (rows != 0) std::memcpy(M, list.rows.data(), list.rows.size() * sizeof(double *));
  list.rows.clear();
  return M;
}
