#include "job/correction_inputs.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/owned_file.h"
#include "base/stream_read.h"
#include "job/optics_table.h"
#include "respmat/owners.hpp"
#include "text/byte_order_mark.h"
#include "text/table_read_stream.h"

namespace respmat {
namespace {

using analysis::Dense;

JobError input_error(const std::string &path, const std::string &reason, std::int64_t line = 0) {
  const std::string place = line > 0 ? path + ":" + std::to_string(line) : path;
  return {JobError::Kind::input, path, 0, place + ": " + reason};
}

JobError unreadable(const std::string &path, int error_number) {
  return {JobError::Kind::input, path, error_number,
          path + ": " + (error_number != 0 ? std::strerror(error_number) : "cannot be read")};
}

// A field read as a finite number, the whole of it but for surrounding blanks.
std::optional<double> finite_field(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string not_a_number(std::string_view field, std::int64_t column) {
  return "column " + std::to_string(column) + ": " + quoted_field(field) + " is not a finite number";
}

// An orbit, weights or limits hold a few values per monitor or corrector: a larger
// input is a mistaken file or an endless stream, refused before it fills the memory.
constexpr std::size_t kLargestVectorInput = std::size_t{256} << 20;

// The whole input, read once: its readers each get a stream over the same bytes, as
// a pipe could give them to one reader only.
std::optional<JobError> read_whole(const std::string &path, std::string &bytes) {
  errno = 0;
  const detail::OwnedFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return unreadable(path, errno);
  char block[1 << 16];
  for (std::size_t got; (got = detail::read_fully(block, 1, sizeof block, file.get())) != 0;) {
    if (bytes.size() + got > kLargestVectorInput)
      return input_error(path, "is larger than " + std::to_string(kLargestVectorInput >> 20) +
                                   " MiB, more than an orbit, weights or limits hold");
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
  return bytes.size() > mark && (bytes[mark] == '@' || bytes[mark] == '*');
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

std::optional<JobError> read_csv(const std::string &path, const std::string &bytes, CsvRows &rows) {
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  if (stream) rows.table.reset(detail::table_read_stream(stream.get(), ",", '"', nullptr));
  if (!rows.table) return unreadable(path, errno);
  return std::nullopt;
}

// Comma-separated or optics-style, by the reader of measured matrices. Names count
// only when both the monitors and the correctors have them.
std::optional<JobError> read_text_matrix(const std::string &path, NamedMatrix &matrix) {
  MeasuredMatrixResult read = read_measured_matrix(path);
  if (read.error_number != 0) return unreadable(path, read.error_number);
  if (!read.error.empty()) return JobError{JobError::Kind::input, path, 0, std::move(read.error)};
  matrix.values = std::move(read.matrix.values);
  if (!read.matrix.row_names.empty() && !read.matrix.column_names.empty()) {
    matrix.monitor_names = std::move(read.matrix.row_names);
    matrix.corrector_names = std::move(read.matrix.column_names);
  }
  return std::nullopt;
}

std::optional<JobError> read_binary_matrix(const std::string &path, NamedMatrix &matrix) {
  errno = 0;
  const OwnedMatrix stored(matrix_load_bin(path.c_str()));
  if (!stored) {
    if (errno == ENOENT || errno == EACCES || errno == EISDIR) return unreadable(path, errno);
    return input_error(path, "is not a matrix in the binary form");
  }
  matrix.values = Dense(matrix_rows(stored.get()), matrix_cols(stored.get()));
  for (std::int32_t i = 0; i < matrix.values.rows; ++i)
    for (std::int32_t j = 0; j < matrix.values.cols; ++j) {
      const double value = stored.get()[i][j];
      if (!std::isfinite(value))
        return input_error(path, "entry (" + std::to_string(i) + ", " + std::to_string(j) +
                                     ") is not a finite number");
      matrix.values.at(i, j) = value;
    }
  return std::nullopt;
}

std::optional<JobError> read_table(const std::string &path, const std::string &bytes, OpticsTable &table) {
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  if (!stream) return unreadable(path, errno);
  OpticsTableResult read = read_optics_table(path, stream.get());
  if (read.error_number != 0) return unreadable(path, read.error_number);
  if (!read.error.empty()) return JobError{JobError::Kind::input, path, 0, read.error};
  table = std::move(read.table);
  return std::nullopt;
}

std::optional<JobError> number_at(const std::string &path, const OpticsTable &table, std::size_t row,
                                  std::size_t column, double &value) {
  const std::string &field = table.rows[row][column];
  const auto parsed = finite_field(field);
  if (!parsed) return input_error(path, table.columns[column] + ": " + quoted_field(field) + " is not a finite number",
                                  table.lines[row]);
  value = *parsed;
  return std::nullopt;
}

void transpose(NamedMatrix &matrix) {
  analysis::transpose(matrix.values);
  std::swap(matrix.monitor_names, matrix.corrector_names);
}

bool ends_with(const std::string &text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::optional<JobError> read_table_values(const std::string &path, const std::string &bytes,
                                          const std::optional<PhaseColumn> &column, Plane plane, MonitorValues &values) {
  OpticsTable table;
  if (auto error = read_table(path, bytes, table)) return error;
  std::optional<std::size_t> chosen;
  if (!column)
    chosen = table.column(plane == Plane::x ? "X" : "Y");
  else if (!column->name.empty())
    chosen = table.column(column->name);
  else if (static_cast<std::size_t>(column->index) < table.columns.size())
    chosen = static_cast<std::size_t>(column->index);
  if (!chosen)
    return input_error(path, "has no column " + (column ? column->label() : std::string(plane == Plane::x ? "X" : "Y")));
  const std::optional<std::size_t> name = table.column("NAME");
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    if (name) values.names.push_back(table.rows[r][*name]);
    if (auto error = number_at(path, table, r, *chosen, values.values.emplace_back())) return error;
  }
  return std::nullopt;
}

// Names in the first column of a CSV table when they are not numbers, below the
// header the phase table's reading skipped.
std::optional<JobError> read_csv_names(const std::string &path, const std::string &bytes, std::size_t value_count,
                                       MonitorValues &values) {
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  const std::int32_t first = rows.count() - static_cast<std::int32_t>(value_count);
  bool names = false;
  std::vector<std::string> found;
  for (std::int32_t r = std::max(first, 0); r < rows.count(); ++r) {
    found.emplace_back(rows.field(r, 0));
    names = names || !finite_field(found.back());
  }
  if (names && found.size() == value_count) values.names = std::move(found);
  return std::nullopt;
}

}  // namespace

std::optional<JobError> read_response_matrix(const std::string &path, MatrixLayout layout, NamedMatrix &matrix) {
  if (auto error = ends_with(path, ".bin") ? read_binary_matrix(path, matrix) : read_text_matrix(path, matrix))
    return error;
  if (matrix.values.rows == 0 || matrix.values.cols == 0) return input_error(path, "holds no matrix");
  if (layout == MatrixLayout::correctors_by_monitors) transpose(matrix);
  return std::nullopt;
}

std::optional<JobError> read_monitor_values(const std::string &path, const std::optional<PhaseColumn> &column,
                                            Plane plane, MonitorValues &values) {
  std::string bytes;
  if (auto error = read_whole(path, bytes)) return error;
  if (bytes.empty()) return input_error(path, "holds no values");
  if (is_optics_table(bytes)) return read_table_values(path, bytes, column, plane, values);
  errno = 0;
  const detail::OwnedFile stream = stream_over(bytes);
  if (!stream) return unreadable(path, errno);
  PhaseTableResult table = load_phase_table(path, stream.get(), column.value_or(PhaseColumn{}));
  if (table.error) {
    if (table.error->kind == PhaseTableError::Kind::io) return unreadable(path, table.error->error_number);
    return JobError{JobError::Kind::input, path, 0, table.error->message()};
  }
  values.values = std::move(table.phases);
  if (values.values.empty()) return input_error(path, "holds no values");
  if (column && (!column->name.empty() || column->index != 0)) return read_csv_names(path, bytes, values.values.size(), values);
  return std::nullopt;
}

std::optional<JobError> read_change_limits(const std::string &path, std::vector<analysis::ChangeLimits> &limits) {
  std::string bytes;
  if (auto error = read_whole(path, bytes)) return error;
  CsvRows rows;
  if (auto error = read_csv(path, bytes, rows)) return error;
  for (std::int32_t r = 0; r < rows.count(); ++r) {
    if (rows.fields(r) != 2) return input_error(path, "expected lower,upper", r + 1);
    const auto lower = finite_field(rows.field(r, 0)), upper = finite_field(rows.field(r, 1));
    if (!lower) return input_error(path, not_a_number(rows.field(r, 0), 0), r + 1);
    if (!upper) return input_error(path, not_a_number(rows.field(r, 1), 1), r + 1);
    if (*lower > *upper) return input_error(path, "the lower limit is above the upper", r + 1);
    limits.push_back({*lower, *upper});
  }
  return std::nullopt;
}

}  // namespace respmat
