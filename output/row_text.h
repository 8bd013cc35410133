// The text of a model row: its numbers with a given number of significant digits,
// separated by one byte, optionally after the monitor's name, ended by a line feed.
#ifndef RESPMAT_OUTPUT_ROW_TEXT_H
#define RESPMAT_OUTPUT_ROW_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace respmat {

struct RowTextFormat {
  char separator = ',';
  int digits = 16;  // significant digits, 1 to 17, as printf's "%.<digits>g" writes them
  // When not empty: each row starts with its name (in double quotes when
  // `quote_names`) and a separator.
  std::vector<std::string> row_names;
  bool quote_names = false;
};

// Formats rows of `cols` entries; safe to use from several threads at once.
class RowText {
 public:
  RowText(RowTextFormat format, std::int32_t cols);

  // The most text row i can take when it reaches at most `reach_limit` entries.
  [[nodiscard]] std::size_t bound(std::int32_t i, std::int32_t reach_limit) const;

  // Writes row i at `out`: entries [0, reach) from `values`, 0 for the rest. Returns
  // the end of the text; at most bound(i) bytes.
  char *write(std::int32_t i, const double *values, std::int32_t reach, char *out) const;

 private:
  [[nodiscard]] char *number(double value, char *out) const;

  RowTextFormat format_;
  std::int32_t cols_;
  std::string zeros_;  // the separator and "0", cols times: the entries no correction reaches
};

// Writes `value` as printf("%.<digits>g") does in the "C" locale; returns the end.
// `out` has room for digits + 8 bytes.
char *format_number(double value, int digits, char *out);

}  // namespace respmat

#endif
