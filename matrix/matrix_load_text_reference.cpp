// The straightforward loader: the whole table of field strings first, then atof on
// each field. The fast loader must give exactly the same matrices.
#include <cstdint>
#include <cstdlib>

#include "respmat/matrix.h"
#include "matrix/matrix_layout.h"
#include "matrix/matrix_reference.h"
#include "respmat/text.h"

namespace {

// Discards the first `drop_rows` rows of `table` (all of them when it has fewer).
void drop_leading_rows(StringTable table, std::int32_t drop_rows) {
  const std::int32_t count = carray_count(table);
  if (drop_rows <= 0) return;
  if (drop_rows > count) drop_rows = count;
  for (std::int32_t r = 0; r < drop_rows; ++r) carray_free_all(table[r]);
  carray_drop_front(table, drop_rows);
}

}  // namespace

namespace respmat::detail {

Matrix load_text_reference(const char *path, std::int32_t drop_rows, const char *sep, char quote,
                           const char *skip) {
  StringTable table = table_read(path, sep, quote, skip);
  if (table == nullptr) return nullptr;
  drop_leading_rows(table, drop_rows);

  const std::int32_t rows = carray_count(table);
  const std::int32_t cols = rows > 0 ? carray_count(table[0]) : 0;
  Matrix M = matrix_alloc(rows, cols);
  if (M != nullptr) {
    for (std::int32_t r = 0; r < rows; ++r) {
      char **fields = table[r];
      const std::int32_t present = carray_count(fields);
      // A row shorter than the first reads as if its missing fields were empty.
      for (std::int32_t c = 0; c < cols; ++c) M[r][c] = c < present ? std::atof(fields[c]) : 0.0;
    }
  }
  table_free(table);
  return M;
}

}  // namespace respmat::detail
