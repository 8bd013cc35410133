// Optics tables read whole: header values ('@' lines), named and typed columns ('*'
// and '$' lines) and the rows below them, fields separated by blanks, strings in
// double quotes.
#ifndef RESPMAT_INPUT_OPTICS_TABLE_H
#define RESPMAT_INPUT_OPTICS_TABLE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "text/text_bounds.h"

namespace respmat {

struct OpticsTable {
  struct HeaderValue {
    std::string name;
    std::string type;   // "%le", "%s", …
    std::string value;  // without the quotes of a string
  };
  std::vector<HeaderValue> header;
  std::vector<std::string> columns;  // the names of the '*' line
  std::vector<std::string> types;    // the types of the '$' line, one per column
  // The fields of each row, strings without their quotes; every row has one field
  // per column. `lines` holds each row's 1-based line in the file.
  std::vector<std::vector<std::string>> rows;
  std::vector<std::int64_t> lines;

  // The column named `name` (an exact match first, else one without regard to
  // ASCII case), if there is one.
  [[nodiscard]] std::optional<std::size_t> column(const std::string &name) const;
  // The text of the header value named `name` (without regard to ASCII case), if
  // there is one.
  [[nodiscard]] const std::string *header_text(const std::string &name) const;
  // The header value named `name`, read as a number, if it is one.
  [[nodiscard]] std::optional<double> header_number(const std::string &name) const;
};

struct OpticsTableResult {
  OpticsTable table;
  // Why there is no table: the file cannot be read (with the system's reason), or
  // holds no optics table ("file:line: reason").
  std::optional<Failure> failure;
};

// Whether a table whose first filled line begins with `first` is an optics table:
// its first line is a header value ('@') or names the columns ('*').
[[nodiscard]] inline bool opens_optics_table(char first) { return first == '@' || first == '*'; }

[[nodiscard]] OpticsTableResult read_optics_table(const std::string &path);
// The same from `stream`'s position on; `path` names the input in messages. A text
// beyond `bounds` is refused.
[[nodiscard]] OpticsTableResult read_optics_table(const std::string &path, std::FILE *stream,
                                                  const detail::TextBounds &bounds = detail::kTableBounds);

}  // namespace respmat

#endif
