#include "input/correction_vectors.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <span>
#include <string_view>
#include <utility>

#include "base/owned_file.h"
#include "base/stream_read.h"
#include "input/optics_table.h"
#include "respmat/owners.hpp"
#include "text/byte_order_mark.h"
#include "text/field_text.h"
#include "text/table_read_stream.h"

namespace respmat {
namespace {

// A field that must hold a finite number; the reason when it does not.
std::optional<std::string> finite_field(std::string_view field, double &value) {
  return detail::read_finite_field(detail::unquoted(field), value);
}

// An orbit, weights or limits hold a few values per monitor or corrector: a larger
// input is a mistaken file or an endless stream, refused before it fills the memory.
constexpr detail::TextBounds kVectorBounds{detail::kLongestLine, detail::kLongestField, std::uint64_t{256} << 20,
                                           detail::kMostLines};

// The whole input, read once: its readers each get a stream over the same bytes, as
// a pipe could give them to one reader only.
std::optional<Failure> read_whole(const std::string &path, std::string &bytes) {
  errno = 0;
  const detail::OwnedFile file = detail::open_input(path);
  if (!file) return unreadable(path, errno);
  char block[1 << 16];
  detail::TextGuard guard(kVectorBounds);
  for (std::size_t got; (got = detail::read_fully(block, 1, sizeof block, file.get())) != 0;) {
    if (!guard.admits_block(std::string_view(block, got))) return content_failure(path, guard.reason());
    bytes.append(block, got);
  }
  if (std::ferror(file.get())) return unreadable(path, errno);
  return std::nullopt;
}

detail::OwnedFile stream_over(const std::string &bytes) {
  return detail::OwnedFile(::fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb"));
}

// The first byte after a byte-order mark: '@' or '*' open an optics-style table.
bool is_optics_table(std::string_view bytes) {
  const std::size_t mark = detail::byte_order_mark_length(bytes);
  return bytes.size() > mark && opens_optics_table(bytes[mark]);
}

// Rows of a comma-separated file as fields.
struct CsvRows {
  OwnedStringTable table;
  [[nodiscard]] std::int32_t count() const { return carray_count(table.get()); }
  [[nodiscard]] std::int32_t fields(std::int32_t row) const { return carray_count(table.get()[row]); }
  [[nodiscard]] std::string_view field(std::int32_t row, std::int32_t column) const {
    return table.get()[row][column];
  }
};

std::optional<Failure> read_csv(const std::string &path, const std::string &bytes, CsvRows &rows) {
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  detail::TextGuard guard(kVectorBounds);
  if (stream) rows.table.reset(detail::table_read_stream(stream.get(), ",", '"', nullptr, &guard));
  if (guard.fault() != detail::TextFault::none) return content_failure(path, guard.reason(), guard.fault_line());
  if (!rows.table) return unreadable(path, errno);
  return std::nullopt;
}

std::optional<Failure> read_table(const std::string &path, const std::string &bytes, OpticsTable &table) {
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  if (!stream) return unreadable(path, errno);
  OpticsTableResult read = read_optics_table(path, stream.get());
  if (read.failure) return std::move(read.failure);
  table = std::move(read.table);
  return std::nullopt;
}

std::optional<Failure> number_at(const std::string &path, const OpticsTable &table, std::size_t row,
                                  std::size_t column, double &value) {
  if (const auto reason = finite_field(table.rows[row][column], value))
    return content_failure(path, table.columns[column] + ": " + *reason, table.lines[row]);
  return std::nullopt;
}

// A column the command line chose that the file lacks: the command line's fault.
Failure no_such_column(const std::string &path, const std::string &reason) {
  return {Failure::Kind::usage, path, 0, path + ": " + reason};
}

std::optional<Failure> read_table_values(const std::string &path, const std::string &bytes,
                                          const std::optional<PhaseColumn> &column, const std::string &default_column,
                                          const std::optional<PhaseColumn> &names_column, MonitorValues &values) {
  OpticsTable table;
  if (auto error = read_table(path, bytes, table)) return error;
  const auto chosen_column = [&](const PhaseColumn &wanted) -> std::optional<std::size_t> {
    if (!wanted.name.empty()) return table.column(wanted.name);
    if (static_cast<std::size_t>(wanted.index) < table.columns.size()) return static_cast<std::size_t>(wanted.index);
    return std::nullopt;
  };
  const std::optional<std::size_t> chosen = column ? chosen_column(*column) : table.column(default_column);
  if (!chosen) return no_such_column(path, "has no column " + (column ? column->label() : default_column));
  const std::optional<std::size_t> name = names_column ? chosen_column(*names_column) : table.column("NAME");
  if (names_column && !name) return no_such_column(path, "has no column " + names_column->label() + " of names");
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    if (name) values.names.push_back(table.rows[r][*name]);
    if (auto error = number_at(path, table, r, *chosen, values.values.emplace_back())) return error;
  }
  return std::nullopt;
}

bool is_blank_row(const CsvRows &rows, std::int32_t r) {
  return rows.fields(r) == 0 || (rows.fields(r) == 1 && detail::is_blank(rows.field(r, 0)));
}

// The column of `header` that `wanted` names: exactly, or else without regard to case.
std::optional<std::int32_t> header_column(const CsvRows &rows, std::int32_t header, const std::string &wanted) {
  for (const bool exact : {true, false})
    for (std::int32_t k = 0; k < rows.fields(header); ++k) {
      const std::string_view name = detail::unquoted(rows.field(header, k));
      if (exact ? name == wanted : strcasecmp(std::string(name).c_str(), wanted.c_str()) == 0) return k;
    }
  return std::nullopt;
}

// The names of the rows of values of a CSV table: from `names_column` when one is
// chosen, else from a header's column NAME or name wherever it stands, else from the
// first column when the values come from another and it holds no numbers.
std::optional<Failure> read_csv_names(const std::string &path, const std::string &bytes,
                                      const std::optional<PhaseColumn> &column,
                                      const std::optional<PhaseColumn> &names_column, MonitorValues &values) {
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  std::vector<std::int32_t> filled;
  for (std::int32_t r = 0; r < rows.count(); ++r)
    if (!is_blank_row(rows, r)) filled.push_back(r);
  // The values are the last rows; a row above them is the header the phase reader skipped.
  const std::size_t count = values.values.size();
  const std::optional<std::int32_t> header =
      filled.size() == count + 1 ? std::optional(filled.front()) : std::nullopt;
  if (filled.size() != count && !header) {
    if (!names_column) return std::nullopt;
    return content_failure(path, "has lines besides a header and its values, so its names cannot be placed");
  }
  const std::span<const std::int32_t> data = std::span(filled).last(count);
  std::optional<std::int32_t> names;
  if (names_column && !names_column->name.empty()) {
    if (header) names = header_column(rows, *header, names_column->name);
    if (!names) return no_such_column(path, "has no column named " + detail::quoted_field(names_column->name) +
                                                " in its header line");
  } else if (names_column) {
    names = names_column->index;
  } else if (header) {
    for (std::int32_t k = 0; k < rows.fields(*header) && !names; ++k)
      if (const std::string_view name = detail::unquoted(rows.field(*header, k)); name == "NAME" || name == "name")
        names = k;
  }
  if (!names && column && (!column->name.empty() || column->index != 0))
    for (const std::int32_t r : data) {
      double ignored = 0.0;
      if (finite_field(rows.field(r, 0), ignored)) names = 0;
    }
  if (!names) return std::nullopt;
  for (const std::int32_t r : data) {
    if (*names >= rows.fields(r))
      return names_column ? no_such_column(path, "has no column " + names_column->label() + " of names")
                          : content_failure(path, "has no name in column " + std::to_string(*names), r + 1);
    values.names.emplace_back(detail::unquoted(rows.field(r, *names)));
  }
  return std::nullopt;
}

// The values' column of a CSV table when none is chosen: the first, unless the header
// line names the first column as the names' (NAME or name, or `names_column`), when it
// is the first of the others, so that a table as written by `name,x` reads as meant.
std::optional<Failure> default_values_column(const std::string &path, const std::string &bytes,
                                             const std::optional<PhaseColumn> &names_column, PhaseColumn &column) {
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  std::int32_t header = 0;
  while (header < rows.count() && is_blank_row(rows, header)) ++header;
  if (header == rows.count() || rows.fields(header) < 2) return std::nullopt;
  const std::string_view first = detail::unquoted(rows.field(header, 0));
  const bool names_first = names_column ? (names_column->name.empty() ? names_column->index == 0
                                                                      : first == names_column->name)
                                        : first == "NAME" || first == "name";
  if (const std::string_view second = detail::unquoted(rows.field(header, 1)); names_first && !second.empty())
    column.name = std::string(second);
  return std::nullopt;
}

}  // namespace

std::optional<Failure> read_monitor_values(const std::string &path, const std::optional<PhaseColumn> &column,
                                           const std::string &default_table_column, MonitorValues &values,
                                           const std::optional<PhaseColumn> &names_column) {
  std::string bytes;
  if (auto error = read_whole(path, bytes)) return error;
  if (bytes.empty()) return content_failure(path, "holds no values");
  if (is_optics_table(bytes))
    return read_table_values(path, bytes, column, default_table_column, names_column, values);
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  if (!stream) return unreadable(path, errno);
  PhaseColumn chosen = column.value_or(PhaseColumn{});
  if (!column)
    if (auto error = default_values_column(path, bytes, names_column, chosen)) return error;
  PhaseTableResult table = load_phase_table(path, stream.get(), chosen);
  if (table.error) return table.error->failure();
  values.values = std::move(table.phases);
  if (values.values.empty()) return content_failure(path, "holds no values");
  return read_csv_names(path, bytes, chosen, names_column, values);
}

std::optional<Failure> read_change_limits(const std::string &path, CorrectorLimits &limits) {
  std::string bytes;
  if (auto error = read_whole(path, bytes)) return error;
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  // The columns of each row: a header naming lower and upper places them and the
  // names (NAME or name, else the one column left, as a frame's index); without
  // one, three fields are name,lower,upper and two lower,upper.
  std::int32_t first = 0, lower = 0, upper = 1;
  std::optional<std::int32_t> name;
  std::int32_t width = rows.count() > 0 ? rows.fields(0) : 2;
  const std::optional<std::int32_t> lower_named = rows.count() > 0 ? header_column(rows, 0, "lower") : std::nullopt;
  const std::optional<std::int32_t> upper_named = rows.count() > 0 ? header_column(rows, 0, "upper") : std::nullopt;
  if (lower_named && upper_named) {
    first = 1;
    lower = *lower_named;
    upper = *upper_named;
    for (std::int32_t k = 0; k < width; ++k) {
      const std::string_view field = detail::unquoted(rows.field(0, k));
      if (field == "NAME" || field == "name") name = k;
    }
    for (std::int32_t k = 0; k < width && !name; ++k)
      if (k != lower && k != upper) name = k;
  } else if (width == 3) {
    name = 0;
    lower = 1;
    upper = 2;
  } else {
    width = 2;
  }
  for (std::int32_t r = first; r < rows.count(); ++r) {
    if (rows.fields(r) != width)
      return content_failure(path, width == 2 ? "expected lower,upper" : "expected " + std::to_string(width) +
                                                                              " fields, as the first line has", r + 1);
    analysis::ChangeLimits range;
    for (const auto &[column, bound] : {std::pair{lower, &range.lower}, std::pair{upper, &range.upper}})
      if (const auto reason = finite_field(rows.field(r, column), *bound))
        return content_failure(path, "column " + std::to_string(column) + ": " + *reason, r + 1);
    if (range.lower > range.upper) return content_failure(path, "the lower limit is above the upper", r + 1);
    limits.limits.push_back(range);
    if (name) limits.names.emplace_back(detail::unquoted(rows.field(r, *name)));
  }
  return std::nullopt;
}

}  // namespace respmat
