#include "job/measured_matrix.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/owned_file.h"
#include "job/optics_table.h"
#include "job/phase_table.h"
#include "text/byte_order_mark.h"
#include "text/line_source.h"
#include "text/number_text.h"

namespace respmat {
namespace {

// A field without the blanks around it and the quotes that may enclose it.
std::string_view unquoted(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = field.substr(1, field.size() - 2);
  return field;
}

// The fields of a line, into `fields` (reused from line to line).
void split_commas(std::string_view line, std::vector<std::string_view> &fields) {
  fields.clear();
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return;
    start = comma + 1;
  }
}

bool is_blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

std::string at(const std::string &path, std::int64_t line, std::size_t column, const std::string &reason) {
  return path + ":" + std::to_string(line) + ": column " + std::to_string(column) + ": " + reason;
}

// Reads a finite number, or says why the field holds none.
bool finite_value(std::string_view field, double &value, std::string &reason) {
  const std::string_view text = unquoted(field);
  if (text.empty()) {
    reason = "is empty";
    return false;
  }
  if (!detail::parse_whole_number(text.data(), text.data() + text.size(), value)) {
    reason = quoted_field(text) + " is not a number";
    return false;
  }
  if (!std::isfinite(value)) {
    reason = quoted_field(text) + " is not a finite number";
    return false;
  }
  return true;
}

MeasuredMatrixResult read_comma_separated(const std::string &path, std::FILE *file) {
  MeasuredMatrixResult result;
  MeasuredMatrix &matrix = result.matrix;
  detail::LineSource lines(file);
  std::string_view line;
  std::int64_t number = 0;
  bool named_rows = false;
  std::vector<double> values;  // row after row
  std::size_t rows = 0;
  std::size_t width = 0;
  std::vector<std::string_view> fields;
  while (lines.next(line)) {
    ++number;
    if (number == 1) line.remove_prefix(detail::byte_order_mark_length(line));
    if (is_blank(line)) continue;
    split_commas(line, fields);
    if (rows == 0 && matrix.column_names.empty() && unquoted(fields.front()).empty()) {
      named_rows = true;
      for (std::size_t k = 1; k < fields.size(); ++k) matrix.column_names.emplace_back(unquoted(fields[k]));
      width = matrix.column_names.size();
      continue;
    }
    const std::size_t first = named_rows ? 1 : 0;
    if (named_rows) matrix.row_names.emplace_back(unquoted(fields.front()));
    const std::size_t count = fields.size() - first;
    if (width == 0 && rows == 0) width = count;
    if (rows == INT32_MAX || width > INT32_MAX) {
      result.error = path + ":" + std::to_string(number) + ": the matrix has too many rows or columns";
      return result;
    }
    if (count != width) {
      result.error = path + ":" + std::to_string(number) + ": has " + std::to_string(count) + " values, but the " +
                     (rows == 0 ? "header names " : "first row has ") + std::to_string(width);
      return result;
    }
    values.resize(values.size() + count);
    double *row = values.data() + rows * width;
    for (std::size_t k = 0; k < count; ++k) {
      std::string reason;
      if (!finite_value(fields[first + k], row[k], reason)) {
        result.error = at(path, number, first + k, reason);
        return result;
      }
    }
    ++rows;
  }
  if (lines.failed()) {
    result.error_number = errno != 0 ? errno : EIO;
    result.error = path + ": " + std::strerror(result.error_number);
    return result;
  }
  matrix.values.rows = static_cast<std::int32_t>(rows);
  matrix.values.cols = static_cast<std::int32_t>(width);
  matrix.values.values = std::move(values);
  return result;
}

MeasuredMatrixResult read_optics_style(const std::string &path) {
  MeasuredMatrixResult result;
  const OpticsTableResult read = read_optics_table(path);
  if (!read.error.empty()) {
    result.error_number = read.error_number;
    result.error = read.error;
    return result;
  }
  const OpticsTable &table = read.table;
  const std::optional<std::size_t> names = table.column("NAME");
  MeasuredMatrix &matrix = result.matrix;
  std::vector<std::size_t> value_columns;
  for (std::size_t k = 0; k < table.columns.size(); ++k)
    if (!names || k != *names) {
      value_columns.push_back(k);
      matrix.column_names.push_back(table.columns[k]);
    }
  matrix.values = analysis::Dense(static_cast<std::int32_t>(table.rows.size()),
                                  static_cast<std::int32_t>(value_columns.size()));
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    if (names) matrix.row_names.push_back(table.rows[r][*names]);
    for (std::size_t k = 0; k < value_columns.size(); ++k) {
      std::string reason;
      double &value = matrix.values.at(static_cast<std::int32_t>(r), static_cast<std::int32_t>(k));
      if (!finite_value(table.rows[r][value_columns[k]], value, reason)) {
        result.error = at(path, table.lines[r], value_columns[k], reason);
        return result;
      }
    }
  }
  return result;
}

}  // namespace

const char *layout_name(MatrixLayout layout) {
  return layout == MatrixLayout::correctors_by_monitors ? "correctors-by-monitors" : "monitors-by-correctors";
}

MeasuredMatrixResult read_measured_matrix(const std::string &path) {
  errno = 0;
  const detail::OwnedFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    MeasuredMatrixResult result;
    result.error_number = errno != 0 ? errno : EIO;
    result.error = path + ": " + std::strerror(result.error_number);
    return result;
  }
  const int first = std::fgetc(file.get());
  if (first == '@' || first == '*') return read_optics_style(path);
  if (first != EOF) std::ungetc(first, file.get());
  return read_comma_separated(path, file.get());
}

}  // namespace respmat
