#include "text/field_text.h"

#include <cmath>

#include "text/number_text.h"

namespace respmat::detail {

bool is_blank(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

std::string_view unquoted(std::string_view field) {
  const std::size_t first = field.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  field = field.substr(first, field.find_last_not_of(" \t") - first + 1);
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"') return field.substr(1, field.size() - 2);
  return field;
}

std::string quoted_field(std::string_view text) {
  constexpr std::size_t kMaxShown = 40;
  std::string out = "\"";
  for (std::size_t k = 0; k < text.size() && k < kMaxShown; ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    out += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
  }
  return out + (text.size() > kMaxShown ? "...\"" : "\"");
}

std::string quoted_list(const std::vector<std::string> &names) {
  constexpr std::size_t kShown = 5;
  std::string text;
  for (std::size_t k = 0; k < names.size() && k < kShown; ++k) text += (k != 0 ? ", " : "") + quoted_field(names[k]);
  if (names.size() > kShown) text += " and " + std::to_string(names.size() - kShown) + " more";
  return text;
}

std::optional<std::int64_t> read_count(std::string_view text, std::int64_t most) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::int64_t count = 0;
  for (const char digit : text) {
    if (count > (most - (digit - '0')) / 10) return std::nullopt;
    count = count * 10 + (digit - '0');
  }
  return count;
}

std::optional<std::string> read_finite_field(std::string_view field, double &value) {
  if (is_blank(field)) return "is empty";
  if (!parse_whole_number(field.data(), field.data() + field.size(), value))
    return quoted_field(field) + " is not a number";
  if (!std::isfinite(value)) return quoted_field(field) + " is not a finite number";
  return std::nullopt;
}

}  // namespace respmat::detail
