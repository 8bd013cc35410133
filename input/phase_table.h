// Phase tables: one column of phases, in turns, read from a comma-separated table or
// from an optics table. Failures come back as data, for the caller to report its way.
//
// Comma-separated tables hold one phase per line in the chosen column; when the
// column is chosen by name, the first line is a header that names the columns.
// Optics tables are recognised by their first byte, '@' or '*': '@' lines carry
// header values and are skipped, the '*' line names the columns, the '$' line gives
// their types, and the rows that follow hold fields separated by blanks, strings in
// double quotes. Only a column whose type is a number may be chosen there.
#ifndef RESPMAT_INPUT_PHASE_TABLE_H
#define RESPMAT_INPUT_PHASE_TABLE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"

namespace respmat {

// Which column holds the phases: by name (looked up without regard to ASCII case in
// the table's header) or, when the name is empty, by its 0-based index (in an optics
// table, among the named columns).
struct PhaseColumn {
  std::string name;
  std::int32_t index = 0;

  // Reads a column as written on a command line: all digits is an index, anything
  // else a name. Returns nothing for an empty text or an index beyond 32 bits.
  [[nodiscard]] static std::optional<PhaseColumn> parse(std::string_view text);
  // "MUX" or "0", as the user wrote it.
  [[nodiscard]] std::string label() const;
};

struct PhaseTableError {
  enum class Kind {
    io,       // the file cannot be opened or read: `error_number` says why
    content,  // the file holds something else than the phases asked for
    usage     // the column asked for is not in the table, or none was chosen
  };
  Kind kind = Kind::io;
  std::string file;
  int error_number = 0;
  std::int64_t line = 0;  // 1-based line of a content failure; 0 for the file as a whole
  std::string field;      // the column of a content failure, as "column MUX"
  std::string reason;     // what is wrong, without the file, line or field
  // For usage failures: the columns that could be chosen (an optics table's
  // numeric columns, a header's names).
  std::vector<std::string> columns;

  // The failure in one line, "file:line: column MUX: reason", with control bytes
  // shown as '?'.
  [[nodiscard]] std::string message() const;
  // The failure in the one vocabulary of failures: an input that cannot be read, a
  // content refused, or a column asked for that the table lacks (usage).
  [[nodiscard]] Failure failure() const;
};

struct PhaseTableResult {
  std::vector<double> phases;
  std::optional<PhaseTableError> error;  // set when the table could not be read
};

// Reads the phases of `column` from the table at `path`: all rows, or only the
// first `row_limit` ones, of which the rest are neither read nor checked. Every phase
// read must be a finite number. Without a column, a comma-separated table gives its
// column 0 and an optics table is a usage failure that lists its numeric columns.
[[nodiscard]] PhaseTableResult load_phase_table(const std::string &path,
                                                const std::optional<PhaseColumn> &column,
                                                std::optional<std::int64_t> row_limit = std::nullopt);
// The same from `stream`'s position on; `path` names the input in messages.
[[nodiscard]] PhaseTableResult load_phase_table(const std::string &path, std::FILE *stream,
                                                const std::optional<PhaseColumn> &column,
                                                std::optional<std::int64_t> row_limit = std::nullopt);

}  // namespace respmat

#endif
