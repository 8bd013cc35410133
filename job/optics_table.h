// Optics tables read whole: header values ('@' lines), named and typed columns ('*'
// and '$' lines) and the rows below them, fields separated by blanks, strings in
// double quotes.
#ifndef RESPMAT_JOB_OPTICS_TABLE_H
#define RESPMAT_JOB_OPTICS_TABLE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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
  // The header value named `name`, read as a number, if it is one.
  [[nodiscard]] std::optional<double> header_number(const std::string &name) const;
};

struct OpticsTableResult {
  OpticsTable table;
  int error_number = 0;  // set when the file cannot be read
  std::string error;     // "file:line: reason" when it cannot be read or is no optics table
};

[[nodiscard]] OpticsTableResult read_optics_table(const std::string &path);
// The same from `stream`'s position on; `path` names the input in messages.
[[nodiscard]] OpticsTableResult read_optics_table(const std::string &path, std::FILE *stream);

}  // namespace respmat

#endif
