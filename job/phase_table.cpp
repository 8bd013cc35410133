#include "job/phase_table.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "respmat/owners.hpp"
#include "respmat/text.h"
#include "text/number_text.h"

namespace respmat {
namespace {

// Where the phases sit in a table that has been read whole.
struct ColumnPlace {
  std::int32_t first_row = 0;  // the first row that holds phases
  std::int32_t field = 0;      // the field that holds them
  std::int32_t fields = -1;    // the field count every phase row must have; -1: any
  std::string label;           // "column MUX", for messages
};

PhaseTableError io_failure(const std::string &path) {
  return {PhaseTableError::Kind::io, path, errno != 0 ? errno : EIO, 0, {}, {}, {}};
}

PhaseTableError content_failure(const std::string &path, std::int64_t line, std::string field,
                                std::string reason) {
  return {PhaseTableError::Kind::content, path, 0, line, std::move(field), std::move(reason), {}};
}

PhaseTableError usage_failure(const std::string &path, std::string reason,
                              std::vector<std::string> columns) {
  return {PhaseTableError::Kind::usage, path, 0, 0, {}, std::move(reason), std::move(columns)};
}

bool is_blank(const char *text) {
  for (; *text != '\0'; ++text)
    if (*text != ' ' && *text != '\t') return false;
  return true;
}

// Reads one phase; returns the reason when the field holds none.
std::optional<std::string> phase_of(const char *text, double &phase) {
  if (is_blank(text)) return "is empty";
  if (!detail::parse_whole_number(text, text + std::strlen(text), phase))
    return quoted_field(text) + " is not a number";
  if (!std::isfinite(phase)) return quoted_field(text) + " is not a finite number";
  return std::nullopt;
}

PhaseTableResult read_phases(const std::string &path, const StringTable table, const ColumnPlace &place,
                             std::optional<std::int64_t> row_limit) {
  PhaseTableResult result;
  const std::int32_t rows = carray_count(table);
  for (std::int32_t r = place.first_row; r < rows; ++r) {
    if (row_limit && static_cast<std::int64_t>(result.phases.size()) >= *row_limit) break;
    char **const row = table[r];
    const std::int32_t fields = carray_count(row);
    const std::int64_t line = std::int64_t{r} + 1;
    if (place.fields >= 0 && fields == 0) continue;  // a blank line between rows
    if (place.fields >= 0 && fields != place.fields) {
      result.error = content_failure(path, line, {},
                                     "has " + std::to_string(fields) + " fields, but the table names " +
                                         std::to_string(place.fields) + " columns");
      return result;
    }
    if (fields <= place.field) {
      result.error = content_failure(path, line, place.label,
                                     "is missing: the line has " + std::to_string(fields) + " fields");
      return result;
    }
    double phase = 0.0;
    if (const auto reason = phase_of(row[place.field], phase)) {
      result.error = content_failure(path, line, place.label, *reason);
      return result;
    }
    result.phases.push_back(phase);
  }
  return result;
}

// The field of `row` named `name`, the name also matching when the header quotes it.
std::int32_t find_column(const StringTable table, const std::string &name, std::int32_t row) {
  const std::int32_t field = table_find_field(table, name.c_str(), row);
  if (field >= 0) return field;
  return table_find_field(table, ("\"" + name + "\"").c_str(), row);
}

std::vector<std::string> fields_of(char **row, std::int32_t from) {
  std::vector<std::string> fields;
  for (std::int32_t k = from; k < carray_count(row); ++k) fields.emplace_back(row[k]);
  return fields;
}

PhaseTableResult read_csv(const std::string &path, const std::optional<PhaseColumn> &column,
                          std::optional<std::int64_t> row_limit) {
  errno = 0;
  const OwnedStringTable table(table_read(path.c_str(), ",", '"', nullptr));
  if (!table) return {{}, io_failure(path)};
  ColumnPlace place;
  place.field = column ? column->index : 0;
  place.label = "column " + (column ? column->label() : std::string("0"));
  if (column && !column->name.empty()) {
    if (carray_count(table.get()) == 0)
      return {{}, content_failure(path, 0, {}, "is empty, but a header line naming the columns is expected")};
    place.field = find_column(table.get(), column->name, 0);
    if (place.field < 0)
      return {{}, usage_failure(path, "has no column named " + quoted_field(column->name.c_str()) + " in its header line",
                                fields_of(table.get()[0], 0))};
    place.first_row = 1;
  }
  return read_phases(path, table.get(), place, row_limit);
}

bool starts_with(const char *text, char c) { return text[0] == c; }

bool is_number_type(const char *type) {
  const std::size_t length = std::strlen(type);
  return length >= 2 && type[0] == '%' && std::strchr("efgdiu", type[length - 1]) != nullptr;
}

// Skips blank rows from `r`; returns the first row with fields, or the row count.
std::int32_t next_filled_row(const StringTable table, std::int32_t r) {
  while (r < carray_count(table) && carray_count(table[r]) == 0) ++r;
  return r;
}

PhaseTableResult read_optics(const std::string &path, const std::optional<PhaseColumn> &column,
                             std::optional<std::int64_t> row_limit) {
  errno = 0;
  const OwnedStringTable table(table_read(path.c_str(), nullptr, '"', nullptr));
  if (!table) return {{}, io_failure(path)};
  const StringTable rows = table.get();
  std::int32_t r = next_filled_row(rows, 0);
  while (r < carray_count(rows) && starts_with(rows[r][0], '@')) r = next_filled_row(rows, r + 1);
  if (r == carray_count(rows) || std::strcmp(rows[r][0], "*") != 0)
    return {{}, content_failure(path, r + 1, {}, "a line '* NAME ...' naming the columns is expected")};
  const std::int32_t names_row = r;
  char **const names = rows[r];
  r = next_filled_row(rows, r + 1);
  if (r == carray_count(rows) || std::strcmp(rows[r][0], "$") != 0 ||
      carray_count(rows[r]) != carray_count(names))
    return {{}, content_failure(path, r + 1, {},
                                "a line '$ %type ...' giving the type of each named column is expected")};
  char **const types = rows[r];
  std::vector<std::string> numeric;
  for (std::int32_t k = 1; k < carray_count(names); ++k)
    if (is_number_type(types[k])) numeric.emplace_back(names[k]);
  if (!column)
    return {{}, usage_failure(path, "is an optics table: its phase column must be chosen", numeric)};

  std::int32_t field = 0;  // in the names row, where field 0 is the '*'
  if (!column->name.empty()) {
    field = find_column(rows, column->name, names_row);
    if (field < 1)
      return {{}, usage_failure(path, "has no column named " + quoted_field(column->name.c_str()), numeric)};
  } else if (column->index < carray_count(names) - 1) {
    field = column->index + 1;
  } else {
    return {{}, usage_failure(path, "has " + std::to_string(carray_count(names) - 1) + " columns, so no column " +
                                        std::to_string(column->index), numeric)};
  }
  if (!is_number_type(types[field]))
    return {{}, usage_failure(path, "column " + std::string(names[field]) + " holds " + types[field] +
                                        " values, not numbers", numeric)};
  ColumnPlace place;
  place.first_row = r + 1;
  place.field = field - 1;
  place.fields = carray_count(names) - 1;
  place.label = "column " + std::string(names[field]);
  return read_phases(path, rows, place, row_limit);
}

// Optics tables begin with a header value or the column names.
std::optional<bool> is_optics_table(const std::string &path) {
  errno = 0;
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  const int first = std::fgetc(file);
  const bool failed = std::ferror(file) != 0;
  const int saved = errno;
  std::fclose(file);
  errno = saved;
  if (failed) return std::nullopt;
  return first == '@' || first == '*';
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

std::string quoted_field(std::string_view text) {
  constexpr std::size_t kMaxShown = 40;
  std::string out = "\"";
  for (std::size_t k = 0; k < text.size() && k < kMaxShown; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    out += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
  }
  return out + (text.size() > kMaxShown ? "...\"" : "\"");
}

std::string PhaseColumn::label() const { return name.empty() ? std::to_string(index) : name; }

std::string PhaseTableError::message() const {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  text += ": ";
  if (!field.empty()) text += field + ": ";
  if (kind == Kind::io) return text + std::strerror(error_number);
  text += reason;
  if (!columns.empty()) {
    text += "; the columns to choose from are ";
    for (std::size_t k = 0; k < columns.size(); ++k) text += (k ? ", " : "") + columns[k];
  }
  // Column names and types come from the file: no control byte of theirs reaches a
  // terminal.
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

PhaseTableResult load_phase_table(const std::string &path, const std::optional<PhaseColumn> &column,
                                  std::optional<std::int64_t> row_limit) {
  try {
    const std::optional<bool> optics = is_optics_table(path);
    if (!optics) return {{}, io_failure(path)};
    PhaseTableResult result = *optics ? read_optics(path, column, row_limit) : read_csv(path, column, row_limit);
    if (result.error) result.phases.clear();  // phases read before the failure are no result
    return result;
  } catch (const std::bad_alloc &) {
    return {{}, PhaseTableError{PhaseTableError::Kind::io, path, ENOMEM, 0, {}, {}, {}}};
  }
}

}  // namespace respmat
