#include "input/correction_vectors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
constexpr detail::TextBounds kVectorBounds{detail::kLongestLine, detail::kLongestField, std::uint64_t{256} << 20};

// The whole input, read once: its readers each get a stream over the same bytes, as
// a pipe could give them to one reader only.
std::optional<Failure> read_whole(const std::string &path, std::string &bytes) {
  errno = 0;
  const detail::OwnedFile file(std::fopen(path.c_str(), "rb"));
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

std::optional<Failure> read_table_values(const std::string &path, const std::string &bytes,
                                          const std::optional<PhaseColumn> &column, const std::string &default_column,
                                         MonitorValues &values) {
  OpticsTable table;
  if (auto error = read_table(path, bytes, table)) return error;
  std::optional<std::size_t> chosen;
  if (!column)
    chosen = table.column(default_column);
  else if (!column->name.empty())
    chosen = table.column(column->name);
  else if (static_cast<std::size_t>(column->index) < table.columns.size())
    chosen = static_cast<std::size_t>(column->index);
  if (!chosen)
    return content_failure(path, "has no column " + (column ? column->label() : default_column));
  const std::optional<std::size_t> name = table.column("NAME");
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    if (name) values.names.push_back(table.rows[r][*name]);
    if (auto error = number_at(path, table, r, *chosen, values.values.emplace_back())) return error;
  }
  return std::nullopt;
}

// Names in the first column of a CSV table when they are not numbers, below the
// header the phase table's reading skipped.
std::optional<Failure> read_csv_names(const std::string &path, const std::string &bytes, std::size_t value_count,
                                       MonitorValues &values) {
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  const std::int32_t first = rows.count() - static_cast<std::int32_t>(value_count);
  bool names = false;
  std::vector<std::string> found;
  for (std::int32_t r = std::max(first, 0); r < rows.count(); ++r) {
    found.emplace_back(rows.field(r, 0));
    double ignored = 0.0;
    names = names || finite_field(found.back(), ignored);
  }
  if (names && found.size() == value_count) values.names = std::move(found);
  return std::nullopt;
}

}  // namespace

std::optional<Failure> read_monitor_values(const std::string &path, const std::optional<PhaseColumn> &column,
                                           const std::string &default_table_column, MonitorValues &values) {
  std::string bytes;
  if (auto error = read_whole(path, bytes)) return error;
  if (bytes.empty()) return content_failure(path, "holds no values");
  if (is_optics_table(bytes)) return read_table_values(path, bytes, column, default_table_column, values);
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  if (!stream) return unreadable(path, errno);
  PhaseTableResult table = load_phase_table(path, stream.get(), column.value_or(PhaseColumn{}));
  if (table.error) {
    Failure failure = table.error->failure();
    // A column the file lacks is the file's fault here, not the command line's.
    if (failure.kind == Failure::Kind::usage) failure.kind = Failure::Kind::input;
    return failure;
  }
  values.values = std::move(table.phases);
  if (values.values.empty()) return content_failure(path, "holds no values");
  if (column && (!column->name.empty() || column->index != 0))
    return read_csv_names(path, bytes, values.values.size(), values);
  return std::nullopt;
}

std::optional<Failure> read_change_limits(const std::string &path, std::vector<analysis::ChangeLimits> &limits) {
  std::string bytes;
  if (auto error = read_whole(path, bytes)) return error;
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  for (std::int32_t r = 0; r < rows.count(); ++r) {
    if (rows.fields(r) != 2) return content_failure(path, "expected lower,upper", r + 1);
    analysis::ChangeLimits range;
    for (const auto &[column, bound] : {std::pair{0, &range.lower}, std::pair{1, &range.upper}})
      if (const auto reason = finite_field(rows.field(r, column), *bound))
        return content_failure(path, "column " + std::to_string(column) + ": " + *reason, r + 1);
    if (range.lower > range.upper) return content_failure(path, "the lower limit is above the upper", r + 1);
    limits.push_back(range);
  }
  return std::nullopt;
}

}  // namespace respmat
