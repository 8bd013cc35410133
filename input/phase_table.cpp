#include "input/phase_table.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <memory>

#include "base/owned_file.h"
#include "respmat/text.h"
#include "input/optics_table.h"
#include "text/byte_order_mark.h"
#include "text/field_text.h"
#include "text/line_source.h"
#include "text/number_text.h"

namespace respmat {
namespace {

using detail::is_blank;
using detail::quoted_field;
using detail::read_finite_field;
using detail::unquoted;

PhaseTableError io_failure(const std::string &path, int error_number) {
  return {PhaseTableError::Kind::io, path, error_number != 0 ? error_number : EIO, 0, {}, {}, {}};
}

PhaseTableError content_failure(const std::string &path, std::int64_t line, std::string field,
                                std::string reason) {
  return {PhaseTableError::Kind::content, path, 0, line, std::move(field), std::move(reason), {}};
}

PhaseTableError usage_failure(const std::string &path, std::string reason,
                              std::vector<std::string> columns) {
  return {PhaseTableError::Kind::usage, path, 0, 0, {}, std::move(reason), std::move(columns)};
}

PhaseTableResult failed(PhaseTableError error) { return {{}, std::move(error)}; }

// A row's fields as the library splits them, released with the row.
struct FieldsRelease {
  void operator()(char **row) const noexcept { carray_free_all(row); }
};
using Fields = std::unique_ptr<char *, FieldsRelease>;

Fields owned_fields(char **row) {
  if (row == nullptr) throw std::bad_alloc();
  return Fields(row);
}

// `line` is followed by a NUL, as the line source leaves it.
Fields split_csv(std::string_view line) { return owned_fields(text_split(",", line.data(), '"')); }
Fields split_optics(std::string_view line) { return owned_fields(text_split_ws(line.data(), '"')); }

std::int32_t field_count(const Fields &fields) { return carray_count(fields.get()); }

bool is_number(std::string_view text) {
  double ignored = 0.0;
  return detail::parse_whole_number(text.data(), text.data() + text.size(), ignored);
}

// A comma-separated phase may be quoted; its message still shows the field as written.
std::optional<std::string> csv_phase_of(std::string_view text, double &phase) {
  const std::string_view inner = unquoted(text);
  if (inner.size() + 2 <= text.size() && !is_blank(inner) && is_number(inner)) return read_finite_field(inner, phase);
  return read_finite_field(text, phase);
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The field of `names` (from `first` on) that `name` chooses: the one that is `name`
// exactly, or else the one that equals it without regard to ASCII case; a header may
// quote its names. Nothing when none matches, or when several do (`clash` lists them).
std::optional<std::int32_t> find_column(const Fields &names, std::int32_t first, const std::string &name,
                                        std::vector<std::int32_t> &clash) {
  std::vector<std::int32_t> exact, loose;
  for (std::int32_t k = first; k < field_count(names); ++k) {
    const std::string_view field = unquoted(names.get()[k]);
    if (field == name) exact.push_back(k);
    if (equal_ignoring_ascii_case(field, name)) loose.push_back(k);
  }
  const std::vector<std::int32_t> &matches = exact.empty() ? loose : exact;
  if (matches.size() == 1) return matches.front();
  clash = matches;
  return std::nullopt;
}

// The usage failure for a name that matches no column, or several.
PhaseTableError unknown_column(const std::string &path, const Fields &names, std::int32_t first,
                               const std::string &name, const std::vector<std::int32_t> &clash,
                               const std::string &where, std::vector<std::string> choices) {
  if (clash.empty())
    return usage_failure(path, "has no column named " + quoted_field(name) + where, std::move(choices));
  std::string reason = "has " + std::to_string(clash.size()) + " columns named " + quoted_field(name) + ":";
  for (std::size_t k = 0; k < clash.size(); ++k)
    reason += std::string(k ? ", " : " ") + names.get()[clash[k]] + " (column " + std::to_string(clash[k] - first) + ")";
  return usage_failure(path, reason + "; choose one by its index", {});
}

std::vector<std::string> fields_of(const Fields &row, std::int32_t from) {
  std::vector<std::string> fields;
  for (std::int32_t k = from; k < field_count(row); ++k) fields.emplace_back(row.get()[k]);
  return fields;
}

// The numbered lines of a table, read once from one stream, without a byte-order
// mark. The lines read to tell which kind of table it is are handed out again to
// the reader of that kind.
class TableLines {
 public:
  explicit TableLines(std::FILE *file) : source_(file, std::size_t{1} << 20, &guard_) {}

  // The next line, followed by a NUL; false at the end of the table or on a failure.
  bool next(std::string_view &line) {
    if (blanks_to_replay_ > 0) {
      --blanks_to_replay_;
      ++number_;
      line = std::string_view("", 0);
      return true;
    }
    if (replay_last_) {
      replay_last_ = false;
      ++number_;
      line = last_;
      return true;
    }
    if (number_ == kMostLines) {
      too_many_ = true;
      return false;
    }
    if (!source_.next(line)) {
      error_number_ = errno;
      return false;
    }
    if (++number_ == 1) line.remove_prefix(detail::byte_order_mark_length(line));
    last_ = line;
    return true;
  }
  // The number of the line `next` gave last (1 for the first).
  [[nodiscard]] std::int64_t number() const { return number_; }
  // Starts again at line 1: `blank_lines` blank lines, then the line read last if
  // `with_last`, then the rest of the stream.
  void replay(std::int64_t blank_lines, bool with_last) {
    blanks_to_replay_ = blank_lines;
    replay_last_ = with_last;
    number_ = 0;
  }
  // Why the table ended early, if it did.
  [[nodiscard]] std::optional<PhaseTableError> failure(const std::string &path) const {
    if (guard_.fault() != detail::TextFault::none) return content_failure(path, guard_.fault_line(), {}, guard_.reason());
    if (source_.failed()) return io_failure(path, error_number_);
    if (too_many_) return content_failure(path, 0, {}, "has more lines than the tool can handle");
    return std::nullopt;
  }

 private:
  static constexpr std::int64_t kMostLines = INT32_MAX;
  detail::TextGuard guard_{detail::kTableBounds};
  detail::LineSource source_;
  std::string_view last_;
  std::int64_t number_ = 0;
  std::int64_t blanks_to_replay_ = 0;
  bool replay_last_ = false;
  bool too_many_ = false;
  int error_number_ = 0;
};

// Optics tables begin, after any blank lines, with a header value or the column
// names. When the rows asked for are all blank, the table is read as comma-separated
// without looking further: an endless run of empty lines ends there.
bool starts_optics_table(TableLines &lines, std::optional<std::int64_t> row_limit) {
  const std::int64_t most_blanks = row_limit ? std::max<std::int64_t>(*row_limit, 1) : INT64_MAX;
  std::int64_t blanks = 0;
  std::string_view line;
  while (blanks < most_blanks && lines.next(line)) {
    if (!is_blank(line)) {
      lines.replay(blanks, true);
      return opens_optics_table(line.front());
    }
    ++blanks;
  }
  lines.replay(blanks, false);
  return false;
}

// The phases of one column of a comma-separated table, row after row, as far as the
// rows asked for. Blank lines at the end of the table are no rows; one before a
// filled row is an empty phase.
class CsvPhases {
 public:
  CsvPhases(const std::string &path, std::int32_t field, std::string label, std::optional<std::int64_t> row_limit)
      : path_(path), field_(field), label_(std::move(label)), row_limit_(row_limit) {}

  [[nodiscard]] bool full() const {
    return row_limit_ && static_cast<std::int64_t>(phases_.size()) >= *row_limit_;
  }
  // Takes line `number`; false once the table has failed.
  bool take(std::string_view line, std::int64_t number) {
    if (error_) return false;
    if (is_blank(line)) {
      if (blanks_ == 0) first_blank_ = number;
      ++blanks_;
      // Rows asked for that are blank cannot all be the table's end.
      if (row_limit_ && static_cast<std::int64_t>(phases_.size()) + blanks_ >= *row_limit_)
        return take_row(line, first_blank_);
      return true;
    }
    if (blanks_ != 0) return take_row("", first_blank_);
    return take_row(line, number);
  }
  // The phases read, or the failure that stopped them.
  PhaseTableResult finish() {
    if (error_) return failed(std::move(*error_));
    return {std::move(phases_), std::nullopt};
  }

 private:
  bool take_row(std::string_view line, std::int64_t number) {
    const Fields fields = split_csv(line);
    if (field_count(fields) <= field_) {
      error_ = content_failure(path_, number, label_,
                               "is missing: the line has " + std::to_string(field_count(fields)) + " fields");
      return false;
    }
    double phase = 0.0;
    if (const auto reason = csv_phase_of(fields.get()[field_], phase)) {
      error_ = content_failure(path_, number, label_, *reason);
      return false;
    }
    phases_.push_back(phase);
    return true;
  }

  const std::string &path_;
  std::int32_t field_;
  std::string label_;
  std::optional<std::int64_t> row_limit_;
  std::vector<double> phases_;
  std::int64_t blanks_ = 0;       // blank lines since the last filled row
  std::int64_t first_blank_ = 0;  // the first of them
  std::optional<PhaseTableError> error_;
};

// Reads the rest of the table into `phases`.
PhaseTableResult read_csv_rows(const std::string &path, TableLines &lines, CsvPhases &phases) {
  std::string_view line;
  while (!phases.full() && lines.next(line))
    if (!phases.take(line, lines.number())) break;
  if (auto failure = lines.failure(path)) return failed(std::move(*failure));
  return phases.finish();
}

// A first line whose phase field is not a number, where the next line's is, names the
// columns; otherwise the field is a phase that is not a number.
PhaseTableResult read_csv_by_index(const std::string &path, TableLines &lines, const std::optional<PhaseColumn> &column,
                                   std::optional<std::int64_t> row_limit) {
  const std::int32_t field = column ? column->index : 0;
  CsvPhases phases(path, field, "column " + (column ? column->label() : std::string("0")), row_limit);
  std::string_view line;
  if (!lines.next(line)) {
    if (auto failure = lines.failure(path)) return failed(std::move(*failure));
    return {};
  }
  const Fields first = split_csv(line);
  if (!is_blank(line) && field_count(first) <= field)
    return failed(usage_failure(path, "has " + std::to_string(field_count(first)) + " columns, so no column " +
                                          std::to_string(field), fields_of(first, 0)));
  if (row_limit == 0) return {};
  const std::string_view first_field = field_count(first) > field ? first.get()[field] : "";
  if (is_blank(first_field) || is_number(unquoted(first_field))) {
    static_cast<void>(phases.take(line, 1));
    return read_csv_rows(path, lines, phases);
  }
  std::string_view second;
  bool second_has_field = false;
  if (lines.next(second) && !is_blank(second)) {
    const Fields next = split_csv(second);
    second_has_field = field_count(next) > field;
    if (second_has_field && is_number(unquoted(next.get()[field]))) {
      static_cast<void>(phases.take(second, 2));
      return read_csv_rows(path, lines, phases);
    }
  }
  if (auto failure = lines.failure(path)) return failed(std::move(*failure));
  std::string reason = quoted_field(first_field) + " is not a number";
  // Neither line holds a number there: the first may name the columns of a table
  // whose phases are in another one.
  if (second_has_field)
    reason += "; if the first line names the columns, choose by name the one whose rows hold phases, such as " +
              quoted_field(unquoted(first_field));
  return failed(content_failure(path, 1, "column " + (column ? column->label() : std::string("0")), reason));
}

PhaseTableResult read_csv(const std::string &path, TableLines &lines, const std::optional<PhaseColumn> &column,
                          std::optional<std::int64_t> row_limit) {
  if (!column || column->name.empty()) return read_csv_by_index(path, lines, column, row_limit);
  std::string_view line;
  if (!lines.next(line)) {
    if (auto failure = lines.failure(path)) return failed(std::move(*failure));
    return failed(content_failure(path, 0, {}, "is empty, but a header line naming the columns is expected"));
  }
  const Fields names = split_csv(line);
  std::vector<std::int32_t> clash;
  const std::optional<std::int32_t> field = find_column(names, 0, column->name, clash);
  if (!field) return failed(unknown_column(path, names, 0, column->name, clash, " in its header line", fields_of(names, 0)));
  CsvPhases phases(path, *field, "column " + column->label(), row_limit);
  return read_csv_rows(path, lines, phases);
}

bool is_number_type(const char *type) {
  const std::size_t length = std::strlen(type);
  return length >= 2 && type[0] == '%' && std::strchr("efgdiu", type[length - 1]) != nullptr;
}

// The next line of an optics table that has fields; null at the end of the table.
Fields next_filled_row(TableLines &lines) {
  std::string_view line;
  while (lines.next(line)) {
    Fields row = split_optics(line);
    if (field_count(row) != 0) return row;
  }
  return nullptr;
}

// The line a header failure names: the one read last, or the one after the end.
std::int64_t line_of(const Fields &row, const TableLines &lines) { return row ? lines.number() : lines.number() + 1; }

PhaseTableResult read_optics(const std::string &path, TableLines &lines, const std::optional<PhaseColumn> &column,
                             std::optional<std::int64_t> row_limit) {
  Fields names = next_filled_row(lines);
  while (names && names.get()[0][0] == '@') names = next_filled_row(lines);
  if (auto failure = lines.failure(path)) return failed(std::move(*failure));
  if (!names || std::strcmp(names.get()[0], "*") != 0)
    return failed(content_failure(path, line_of(names, lines), {}, "a line '* NAME ...' naming the columns is expected"));
  const Fields types = next_filled_row(lines);
  if (auto failure = lines.failure(path)) return failed(std::move(*failure));
  if (!types || std::strcmp(types.get()[0], "$") != 0 || field_count(types) != field_count(names))
    return failed(content_failure(path, line_of(types, lines), {},
                                  "a line '$ %type ...' giving the type of each named column is expected"));
  std::vector<std::string> numeric;
  for (std::int32_t k = 1; k < field_count(names); ++k)
    if (is_number_type(types.get()[k])) numeric.emplace_back(names.get()[k]);
  if (!column) return failed(usage_failure(path, "is an optics table: its phase column must be chosen", numeric));

  std::int32_t field = 0;  // in the names row, where field 0 is the '*'
  if (!column->name.empty()) {
    std::vector<std::int32_t> clash;
    const std::optional<std::int32_t> found = find_column(names, 1, column->name, clash);
    if (!found) return failed(unknown_column(path, names, 1, column->name, clash, "", numeric));
    field = *found;
  } else if (column->index < field_count(names) - 1) {
    field = column->index + 1;
  } else {
    return failed(usage_failure(path, "has " + std::to_string(field_count(names) - 1) + " columns, so no column " +
                                          std::to_string(column->index), numeric));
  }
  if (!is_number_type(types.get()[field]))
    return failed(usage_failure(path, "column " + std::string(names.get()[field]) + " holds " + types.get()[field] +
                                          " values, not numbers", numeric));
  const std::string label = "column " + std::string(names.get()[field]);
  const std::int32_t columns = field_count(names) - 1;
  PhaseTableResult result;
  while (!(row_limit && static_cast<std::int64_t>(result.phases.size()) >= *row_limit)) {
    const Fields row = next_filled_row(lines);
    if (!row) break;
    if (field_count(row) != columns)
      return failed(content_failure(path, lines.number(), {},
                                    "has " + std::to_string(field_count(row)) + " fields, but the table names " +
                                        std::to_string(columns) + " columns"));
    double phase = 0.0;
    if (const auto reason = read_finite_field(row.get()[field - 1], phase))
      return failed(content_failure(path, lines.number(), label, *reason));
    result.phases.push_back(phase);
  }
  if (auto failure = lines.failure(path)) return failed(std::move(*failure));
  return result;
}

// Names under which optics tables hold phase advances.
bool names_phases(std::string_view name) {
  for (const std::string_view phase_name : {"MUX", "MUY", "MUZ", "MU1", "MU2", "MU3", "PHASEX", "PHASEY", "PHIX", "PHIY"})
    if (equal_ignoring_ascii_case(name, phase_name)) return true;
  return false;
}

// The columns a message offers: those that hold phases first, then the others as far
// as one line goes. A table may have hundreds of columns; a message is read, not searched.
std::string columns_offered(const std::vector<std::string> &columns) {
  constexpr std::size_t kOneLine = 80;
  std::string text;
  const auto add = [&](const std::string &name) { text += (text.empty() ? "" : ", ") + name; };
  for (const std::string &name : columns)
    if (names_phases(name)) add(name);
  std::size_t left = 0;
  for (const std::string &name : columns) {
    if (names_phases(name)) continue;
    if (left == 0 && text.size() + name.size() <= kOneLine)
      add(name);
    else
      ++left;
  }
  if (left != 0) text += " and " + std::to_string(left) + " more";
  return text;
}

}  // namespace

std::optional<PhaseColumn> PhaseColumn::parse(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.find_first_not_of("0123456789") != std::string_view::npos) return PhaseColumn{std::string(text), 0};
  PhaseColumn column;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), column.index);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return column;
}

std::string PhaseColumn::label() const { return name.empty() ? std::to_string(index) : name; }

std::string PhaseTableError::message() const {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  text += ": ";
  if (!field.empty()) text += field + ": ";
  if (kind == Kind::io) return text + std::strerror(error_number);
  text += reason;
  if (!columns.empty()) text += "; the columns to choose from are " + columns_offered(columns);
  // Column names and types come from the file: no control byte of theirs reaches a
  // terminal.
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

Failure PhaseTableError::failure() const {
  switch (kind) {
    case Kind::io:
      return unreadable(file, error_number);
    case Kind::usage:
      return {Failure::Kind::usage, file, 0, message()};
    case Kind::content:
      break;
  }
  return {Failure::Kind::input, file, 0, message()};
}

PhaseTableResult load_phase_table(const std::string &path, const std::optional<PhaseColumn> &column,
                                  std::optional<std::int64_t> row_limit) {
  errno = 0;
  const detail::OwnedFile file = detail::open_input(path);
  if (!file) return failed(io_failure(path, errno));
  return load_phase_table(path, file.get(), column, row_limit);
}

PhaseTableResult load_phase_table(const std::string &path, std::FILE *stream, const std::optional<PhaseColumn> &column,
                                  std::optional<std::int64_t> row_limit) {
  try {
    // One stream, read once: a pipe gives its bytes to one reader only.
    TableLines lines(stream);
    const bool optics = starts_optics_table(lines, row_limit);
    if (auto failure = lines.failure(path)) return failed(std::move(*failure));
    return optics ? read_optics(path, lines, column, row_limit) : read_csv(path, lines, column, row_limit);
  } catch (const std::bad_alloc &) {
    return {{}, PhaseTableError{PhaseTableError::Kind::io, path, ENOMEM, 0, {}, {}, {}}};
  }
}

}  // namespace respmat
