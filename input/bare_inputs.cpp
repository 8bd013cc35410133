#include "input/bare_inputs.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "base/owned_file.h"
#include "text/byte_order_mark.h"
#include "text/field_text.h"
#include "text/first_line_fields.h"
#include "text/line_source.h"
#include "text/number_text.h"

namespace respmat {
namespace {

detail::OwnedFile open_input(const std::string &path, std::optional<Failure> &failure) {
  errno = 0;
  detail::OwnedFile file = detail::open_input(path);
  if (!file) failure = unreadable(path, errno);
  return file;
}

// The bare command reads its inputs as it always has, a NUL ending a line, and
// refuses only a line or an input that no real file has.
constexpr std::uint64_t kLargestBareInput = detail::kTableBounds.largest_input;
constexpr detail::TextBounds kBareBounds{detail::kLongestLine, detail::kLongestLine, kLargestBareInput, detail::kMostLines,
                                         false};
// Counting the fields of the response's first line holds none of it, so only the
// time of an endless line needs a bound there.
constexpr detail::TextBounds kResponseWidthBounds{kLargestBareInput, kLargestBareInput, kLargestBareInput, false};

Failure out_of_bounds(const std::string &path, const detail::TextGuard &guard) {
  return content_failure(path, guard.reason(), guard.fault_line());
}

}  // namespace

std::optional<Failure> read_response_width(const std::string &path, std::int32_t &m) {
  std::optional<Failure> failure;
  const detail::OwnedFile file = open_input(path, failure);
  if (!file) return failure;
  errno = 0;
  detail::TextGuard guard(kResponseWidthBounds);
  const std::optional<std::int64_t> fields = detail::count_first_line_fields(file.get(), &guard);
  if (guard.fault() != detail::TextFault::none) return out_of_bounds(path, guard);
  if (!fields) return unreadable(path, errno);
  if (*fields > INT32_MAX) return content_failure(path, "has more columns than the tool can handle");
  m = static_cast<std::int32_t>(*fields);
  return std::nullopt;
}

std::optional<Failure> read_phases_like_atof(const std::string &path, std::int32_t m, std::vector<double> &phases,
                                             NonNumericPhases &non_numeric) {
  std::optional<Failure> failure;
  const detail::OwnedFile file = open_input(path, failure);
  if (!file) return failure;
  detail::TextGuard guard(kBareBounds);
  detail::LineSource lines(file.get(), std::size_t{1} << 20, &guard);
  std::string_view line;
  errno = 0;
  while (static_cast<std::int64_t>(phases.size()) < m && lines.next(line)) {
    if (phases.empty()) line.remove_prefix(detail::byte_order_mark_length(line));
    const std::size_t comma = line.find(',');
    const char *end = line.data() + (comma == std::string_view::npos ? line.size() : comma);
    phases.push_back(detail::parse_number(line.data(), end));
    double whole = 0.0;
    if (!detail::parse_whole_number(line.data(), end, whole) && non_numeric.count++ == 0) {
      non_numeric.first_line = static_cast<std::int64_t>(phases.size());
      non_numeric.first_text =
          detail::quoted_field(std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
      non_numeric.first_value = phases.back();
    }
  }
  // Even when no phase is needed, a phases file that cannot be read is reported.
  if (m == 0) static_cast<void>(lines.next(line));
  if (guard.fault() != detail::TextFault::none) return out_of_bounds(path, guard);
  if (lines.failed()) return unreadable(path, errno);
  return std::nullopt;
}

std::string non_numeric_warning(const std::string &path, const NonNumericPhases &non_numeric) {
  char value[32];
  std::snprintf(value, sizeof value, "%.17g", non_numeric.first_value);
  return "warning: " + path + ":" + std::to_string(non_numeric.first_line) + ": column 0: " +
         non_numeric.first_text + " is not a number, read as " + value + "; " + std::to_string(non_numeric.count) +
         (non_numeric.count == 1 ? " phase is" : " phases are") + " not a number";
}

}  // namespace respmat
