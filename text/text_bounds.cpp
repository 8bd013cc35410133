#include "text/text_bounds.h"

#include <algorithm>

namespace respmat::detail {
namespace {

std::string in_units(std::uint64_t bytes) {
  return bytes >= (std::uint64_t{1} << 30) ? std::to_string(bytes >> 30) + " GiB"
         : bytes >= (std::uint64_t{1} << 20) ? std::to_string(bytes >> 20) + " MiB"
                                             : std::to_string(bytes >> 10) + " KiB";
}

}  // namespace

bool TextGuard::has_long_field(std::string_view line) const {
  const auto separates = [](char c) { return c == ',' || c == ' ' || c == '\t'; };
  const std::size_t longest = bounds_.longest_field;
  // A field too long that starts at `start` covers the byte `longest` further on:
  // looking there first and back for a separator skips most bytes of a real row.
  for (std::size_t start = 0; line.size() - start > longest;)
    for (std::size_t k = start + longest;; --k) {
      if (separates(line[k])) {
        start = k + 1;
        break;
      }
      if (k == start) return true;
    }
  return false;
}

bool TextGuard::admits_block(std::string_view block) {
  if (bounds_.nul_is_binary && block.find('\0') != std::string_view::npos) return refuse(TextFault::binary);
  const std::size_t last_end = block.find_last_of("\n\r", std::string_view::npos, 2);
  open_line_ = last_end == std::string_view::npos ? open_line_ + block.size() : block.size() - last_end - 1;
  if (open_line_ > bounds_.longest_line) return refuse(TextFault::long_line);
  ends_ += static_cast<std::uint64_t>(std::count(block.begin(), block.end(), '\n'));
  if (ends_ > bounds_.most_lines) return refuse(TextFault::many_lines);
  return admits_read(block.size());
}

std::string TextGuard::reason() const {
  switch (fault_) {
    case TextFault::binary:
      return "holds a NUL byte: binary data, not text";
    case TextFault::long_line:
      return "a line longer than " + in_units(bounds_.longest_line) + ": not a table";
    case TextFault::long_field:
      return "a field longer than " + in_units(bounds_.longest_field) + ": not a table";
    case TextFault::large_input:
      return "is larger than " + in_units(bounds_.largest_input) + ", more than such an input holds";
    case TextFault::many_lines:
      return "more than " + std::to_string(bounds_.most_lines) + " lines: not a table";
    case TextFault::none:
      break;
  }
  return {};
}

}  // namespace respmat::detail
