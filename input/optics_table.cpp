#include "input/optics_table.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

#include "base/owned_file.h"
#include "respmat/owners.hpp"
#include "respmat/text.h"
#include "text/field_text.h"
#include "text/number_text.h"
#include "text/table_read_stream.h"

namespace respmat {
namespace {

// Fields split at blanks have none around them: only the quotes come off.
std::string unquoted(const char *field) { return std::string(detail::unquoted(field)); }

// The first row at or after `r` that has fields.
std::int32_t next_filled_row(const StringTable table, std::int32_t r) {
  while (r < carray_count(table) && carray_count(table[r]) == 0) ++r;
  return r;
}

}  // namespace

std::optional<std::size_t> OpticsTable::column(const std::string &name) const {
  for (std::size_t k = 0; k < columns.size(); ++k)
    if (columns[k] == name) return k;
  for (std::size_t k = 0; k < columns.size(); ++k)
    if (strcasecmp(columns[k].c_str(), name.c_str()) == 0) return k;
  return std::nullopt;
}

const std::string *OpticsTable::header_text(const std::string &name) const {
  for (const HeaderValue &value : header)
    if (strcasecmp(value.name.c_str(), name.c_str()) == 0) return &value.value;
  return nullptr;
}

std::optional<double> OpticsTable::header_number(const std::string &name) const {
  const std::string *text = header_text(name);
  double number = 0.0;
  if (text == nullptr || !detail::parse_whole_number(text->data(), text->data() + text->size(), number))
    return std::nullopt;
  return number;
}

OpticsTableResult read_optics_table(const std::string &path) {
  errno = 0;
  const detail::OwnedFile file = detail::open_input(path);
  if (!file) {
    OpticsTableResult result;
    result.failure = unreadable(path, errno != 0 ? errno : EIO);
    return result;
  }
  return read_optics_table(path, file.get());
}

OpticsTableResult read_optics_table(const std::string &path, std::FILE *stream, const detail::TextBounds &bounds) {
  OpticsTableResult result;
  errno = 0;
  detail::TextGuard guard(bounds);
  const OwnedStringTable owned(detail::table_read_stream(stream, nullptr, '"', nullptr, &guard));
  if (guard.fault() != detail::TextFault::none) {
    result.failure = content_failure(path, guard.reason(), guard.fault_line());
    return result;
  }
  if (!owned) {
    result.failure = unreadable(path, errno != 0 ? errno : EIO);
    return result;
  }
  const StringTable rows = owned.get();
  OpticsTable &table = result.table;
  std::int32_t r = next_filled_row(rows, 0);
  for (; r < carray_count(rows) && rows[r][0][0] == '@'; r = next_filled_row(rows, r + 1)) {
    char **const line = rows[r];
    const std::int32_t fields = carray_count(line);
    // "@ NAME %type value", or "@NAME %type value" as some writers have it.
    const std::int32_t first = std::strcmp(line[0], "@") == 0 ? 1 : 0;
    if (fields - first < 3) continue;
    std::string name = first == 0 ? std::string(line[0] + 1) : std::string(line[1]);
    std::string value;
    for (std::int32_t k = first + 2; k < fields; ++k) value += (k > first + 2 ? " " : "") + unquoted(line[k]);
    table.header.push_back({std::move(name), line[first + 1], std::move(value)});
  }
  if (r == carray_count(rows) || std::strcmp(rows[r][0], "*") != 0) {
    result.failure = content_failure(path, "a line '* NAME ...' naming the columns is expected", r + 1);
    return result;
  }
  for (std::int32_t k = 1; k < carray_count(rows[r]); ++k) table.columns.emplace_back(rows[r][k]);
  r = next_filled_row(rows, r + 1);
  if (r == carray_count(rows) || std::strcmp(rows[r][0], "$") != 0 ||
      carray_count(rows[r]) != static_cast<std::int32_t>(table.columns.size()) + 1) {
    result.failure =
        content_failure(path, "a line '$ %type ...' giving the type of each named column is expected", r + 1);
    return result;
  }
  for (std::int32_t k = 1; k < carray_count(rows[r]); ++k) table.types.emplace_back(rows[r][k]);
  for (r = next_filled_row(rows, r + 1); r < carray_count(rows); r = next_filled_row(rows, r + 1)) {
    char **const line = rows[r];
    if (carray_count(line) != static_cast<std::int32_t>(table.columns.size())) {
      result.failure = content_failure(path,
                                       "has " + std::to_string(carray_count(line)) + " fields, but the table names " +
                                           std::to_string(table.columns.size()) + " columns",
                                       r + 1);
      return result;
    }
    std::vector<std::string> fields;
    fields.reserve(table.columns.size());
    for (std::int32_t k = 0; k < carray_count(line); ++k) fields.push_back(unquoted(line[k]));
    table.rows.push_back(std::move(fields));
    table.lines.push_back(std::int64_t{r} + 1);
  }
  return result;
}

}  // namespace respmat
