#include "input/measured_matrix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "base/owned_file.h"
#include "base/stream_read.h"
#include "base/worker_threads.h"
#include "input/line_blocks.h"
#include "input/optics_table.h"
#include "text/byte_order_mark.h"
#include "text/field_text.h"

namespace respmat {
namespace {

using detail::is_blank;
using detail::unquoted;

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

std::string at(const std::string &path, std::int64_t line, std::size_t column, const std::string &reason) {
  return path + ":" + std::to_string(line) + ": column " + std::to_string(column) + ": " + reason;
}

// Reads a finite number, or says why the field holds none.
bool finite_value(std::string_view field, double &value, std::string &reason) {
  auto why_not = detail::read_finite_field(unquoted(field), value);
  if (!why_not) return true;
  reason = std::move(*why_not);
  return false;
}

bool is_number_field(std::string_view field) {
  double ignored = 0.0;
  return !detail::read_finite_field(unquoted(field), ignored);
}

// A first line that names the columns of a labelled matrix: its first cell, over the
// rows' names, is empty or, as a frame with a named index writes it, that name; a
// line of numbers after a first cell of text is no header but a refused row.
bool opens_labelled_header(const std::vector<std::string_view> &fields) {
  if (unquoted(fields.front()).empty()) return true;
  return !is_number_field(fields.front()) &&
         std::any_of(fields.begin() + 1, fields.end(), [](std::string_view f) { return !is_number_field(f); });
}

// The width of a comma-separated matrix and whether its first column names the rows,
// both fixed by its first lines.
struct CommaLayout {
  bool named_rows = false;
  std::size_t width = 0;
};

// Reads one data line into `row` (and its name into `name` when rows are named), or
// says why it cannot: "" when it can. `width_source` says where the width came from.
std::string read_row(const std::string &path, const NumberedLine &line, const CommaLayout &layout,
                     const char *width_source, std::vector<std::string_view> &fields, double *row, std::string *name) {
  split_commas(line.text, fields);
  const std::size_t first = layout.named_rows ? 1 : 0;
  const std::size_t count = fields.size() - first;
  if (count != layout.width)
    return path + ":" + std::to_string(line.number) + ": has " + std::to_string(count) + " values, but the " +
           width_source + std::to_string(layout.width);
  if (layout.named_rows) *name = unquoted(fields.front());
  for (std::size_t k = 0; k < count; ++k) {
    std::string reason;
    if (!finite_value(fields[first + k], row[k], reason)) return at(path, line.number, first + k, reason);
  }
  return {};
}

// The rows of the data lines among `lines` (blank ones are skipped), after the `rows`
// already read, on up to `threads` threads. Each line is read as on its own; the error
// reported is the one of the first line that fails.
std::string read_rows(const std::string &path, std::span<const NumberedLine> lines, const CommaLayout &layout,
                      int threads, MeasuredMatrix &matrix, analysis::Values &values, std::size_t &rows) {
  std::vector<const NumberedLine *> data;
  for (const NumberedLine &line : lines)
    if (!is_blank(line.text)) data.push_back(&line);
  const NumberedLine *beyond_limit = nullptr;
  if (data.size() > static_cast<std::size_t>(INT32_MAX) - rows) {
    beyond_limit = data[static_cast<std::size_t>(INT32_MAX) - rows];
    data.resize(static_cast<std::size_t>(INT32_MAX) - rows);
  }
  values.resize((rows + data.size()) * layout.width);
  if (layout.named_rows) matrix.row_names.resize(rows + data.size());

  // Pieces of consecutive lines, taken in order; a piece after one that failed need
  // not be read.
  const std::size_t pieces = std::min<std::size_t>(data.size(), 8 * static_cast<std::size_t>(threads));
  std::vector<std::string> errors(pieces);
  std::atomic<std::size_t> next_piece{0}, first_failed{pieces};
  detail::run_workers(pieces > 1 ? threads : 1, [&] {
    std::vector<std::string_view> fields;
    for (std::size_t piece; (piece = next_piece.fetch_add(1)) < pieces;) {
      if (piece > first_failed.load()) continue;
      for (std::size_t d = data.size() * piece / pieces; d < data.size() * (piece + 1) / pieces; ++d) {
        const std::size_t r = rows + d;
        std::string error = read_row(path, *data[d], layout, "first row has ", fields, values.data() + r * layout.width,
                                     layout.named_rows ? &matrix.row_names[r] : nullptr);
        if (!error.empty()) {
          errors[piece] = std::move(error);
          for (std::size_t seen = first_failed.load(); piece < seen && !first_failed.compare_exchange_weak(seen, piece);) {
          }
          break;
        }
      }
    }
  });
  for (std::string &error : errors)
    if (!error.empty()) return std::move(error);
  rows += data.size();
  if (beyond_limit != nullptr)
    return path + ":" + std::to_string(beyond_limit->number) + ": the matrix has too many rows or columns";
  return {};
}

// A reader's one-line message, "file:line: column k: reason", as the failure.
MeasuredMatrixResult refused(const std::string &path, std::string message) {
  MeasuredMatrixResult result;
  result.failure = Failure{Failure::Kind::input, path, 0, std::move(message)};
  return result;
}

// Past this many rows a guess from the file's size reserves nothing: the guess
// would rest on one line only.
constexpr std::uint64_t kMostRowsReserved = std::uint64_t{1} << 24;
// 1 GiB of doubles, 1.3 times the largest real matrix (10⁴ × 10⁴): a stream of wide
// rows ends here rather than when the memory does.
constexpr std::uint64_t kMostValues = std::uint64_t{1} << 27;

MeasuredMatrixResult read_comma_separated(const std::string &path, std::FILE *file) {
  MeasuredMatrixResult result;
  MeasuredMatrix &matrix = result.matrix;
  detail::TextGuard guard(detail::kMatrixBounds);
  LineBlocks blocks(file, std::size_t{32} << 20, &guard);
  std::vector<NumberedLine> lines;
  CommaLayout layout;
  analysis::Values values;  // row after row
  std::size_t rows = 0;
  std::vector<std::string_view> fields;
  const int threads = detail::choose_threads(0);
  while (blocks.next(lines)) {
    std::span<const NumberedLine> rest(lines);
    // A line at a time until the first row has fixed the width.
    for (; rows == 0 && !rest.empty(); rest = rest.subspan(1)) {
      NumberedLine line = rest.front();
      if (line.number == 1) line.text.remove_prefix(detail::byte_order_mark_length(line.text));
      if (is_blank(line.text)) continue;
      split_commas(line.text, fields);
      if (matrix.column_names.empty() && opens_labelled_header(fields)) {
        layout.named_rows = true;
        for (std::size_t k = 1; k < fields.size(); ++k) matrix.column_names.emplace_back(unquoted(fields[k]));
        layout.width = matrix.column_names.size();
        continue;
      }
      const bool header = layout.width != 0;
      if (!header) layout.width = fields.size() - (layout.named_rows ? 1 : 0);
      if (layout.width > INT32_MAX) {
        result.failure = content_failure(path, "the matrix has too many rows or columns", line.number);
        return result;
      }
      // Room for the rows a file of such lines holds, so that growing never copies them.
      const std::uint64_t bytes = detail::bytes_left(file).value_or(0);
      if (bytes != 0 && bytes / (line.text.size() + 1) < kMostRowsReserved)
        values.reserve(static_cast<std::size_t>(bytes / (line.text.size() + 1) + 1) * layout.width);
      values.resize(layout.width);
      std::string name;
      if (std::string error = read_row(path, line, layout, header ? "header names " : "first row has ", fields,
                                       values.data(), &name);
          !error.empty())
        return refused(path, std::move(error));
      if (layout.named_rows) matrix.row_names.push_back(std::move(name));
      rows = 1;
    }
    if (std::string error = read_rows(path, rest, layout, threads, matrix, values, rows); !error.empty())
      return refused(path, std::move(error));
    if (static_cast<std::uint64_t>(rows) * layout.width > kMostValues) {
      result.failure = content_failure(path, "holds more than " + std::to_string(kMostValues) +
                                                 " values, more than the largest response matrix");
      return result;
    }
  }
  if (guard.fault() != detail::TextFault::none) {
    result.failure = content_failure(path, guard.reason(), guard.fault_line());
    return result;
  }
  if (blocks.failed()) {
    result.failure = unreadable(path, errno != 0 ? errno : EIO);
    return result;
  }
  matrix.values.rows = static_cast<std::int32_t>(rows);
  matrix.values.cols = static_cast<std::int32_t>(layout.width);
  matrix.values.values = std::move(values);
  return result;
}

// The layout the header of an optics-style table states, which its MONITORS and
// CORRECTORS, where given, must fit.
std::optional<Failure> read_stated_layout(const std::string &path, const OpticsTable &table, MeasuredMatrix &matrix) {
  if (const std::string *text = table.header_text("LAYOUT")) {
    matrix.layout = parse_layout(*text);
    if (!matrix.layout)
      return content_failure(path, "LAYOUT " + detail::quoted_field(*text) + " is neither " +
                                       layout_name(MatrixLayout::monitors_by_correctors) + " nor " +
                                       layout_name(MatrixLayout::correctors_by_monitors));
  }
  const std::optional<double> monitors = table.header_number("MONITORS"), correctors = table.header_number("CORRECTORS");
  const std::int32_t rows = matrix.values.rows, cols = matrix.values.cols;
  for (const MatrixLayout layout : {MatrixLayout::monitors_by_correctors, MatrixLayout::correctors_by_monitors}) {
    const bool by_monitors = layout == MatrixLayout::monitors_by_correctors;
    const bool fits = (!monitors || *monitors == (by_monitors ? rows : cols)) &&
                      (!correctors || *correctors == (by_monitors ? cols : rows));
    if (matrix.layout == layout && !fits)
      return content_failure(path, "its MONITORS and CORRECTORS do not fit its " + std::to_string(rows) + " rows and " +
                                       std::to_string(cols) + " columns in LAYOUT " + layout_name(layout));
    if (!matrix.layout && fits && monitors && correctors && rows != cols) matrix.layout = layout;
  }
  return std::nullopt;
}

MeasuredMatrixResult read_optics_style(const std::string &path, std::FILE *file) {
  MeasuredMatrixResult result;
  const OpticsTableResult read = read_optics_table(path, file, detail::kMatrixBounds);
  if (read.failure) {
    result.failure = read.failure;
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
        result.failure = content_failure(path, "column " + std::to_string(value_columns[k]) + ": " + reason,
                                         table.lines[r]);
        return result;
      }
    }
  }
  result.failure = read_stated_layout(path, table, matrix);
  return result;
}

}  // namespace

const char *layout_name(MatrixLayout layout) {
  return layout == MatrixLayout::correctors_by_monitors ? "correctors-by-monitors" : "monitors-by-correctors";
}

std::optional<MatrixLayout> parse_layout(std::string_view name) {
  for (const MatrixLayout layout : {MatrixLayout::correctors_by_monitors, MatrixLayout::monitors_by_correctors})
    if (name == layout_name(layout)) return layout;
  return std::nullopt;
}

MeasuredMatrixResult read_measured_matrix(const std::string &path) {
  errno = 0;
  const detail::OwnedFile file = detail::open_input(path);
  if (!file) {
    MeasuredMatrixResult result;
    result.failure = unreadable(path, errno != 0 ? errno : EIO);
    return result;
  }
  // The kind is told by the first byte after a byte-order mark, which both readers
  // skip; the byte goes back for the reader to read.
  int first = detail::get_byte(file.get());
  if (first == static_cast<unsigned char>(detail::kByteOrderMark[0])) {
    for (const char mark : detail::kByteOrderMark.substr(1))
      if (detail::get_byte(file.get()) != static_cast<unsigned char>(mark)) {
        MeasuredMatrixResult result;
        result.failure = content_failure(path, "is neither comma-separated numbers nor an optics table", 1);
        return result;
      }
    first = detail::get_byte(file.get());
  }
  if (first != EOF) std::ungetc(first, file.get());
  if (std::ferror(file.get())) {
    MeasuredMatrixResult result;
    result.failure = unreadable(path, errno != 0 ? errno : EIO);
    return result;
  }
  if (opens_optics_table(static_cast<char>(first))) return read_optics_style(path, file.get());
  return read_comma_separated(path, file.get());
}

}  // namespace respmat
