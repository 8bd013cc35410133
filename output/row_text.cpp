#include "output/row_text.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "text/number_text.h"

namespace respmat {
namespace {

// Sign, point, exponent ("e-308") and room to spare around the digits.
constexpr std::size_t kNumberOverhead = 8;

}  // namespace

char *format_number(double value, int digits, char *out) {
  // Sixteen digits, the tool's default, take the fast exact formatter; the others
  // the standard library's, which writes what printf writes.
  if (digits == 16) return detail::format_g16(value, out);
  return std::to_chars(out, out + digits + kNumberOverhead, value, std::chars_format::general, digits).ptr;
}

RowText::RowText(RowTextFormat format, std::int32_t cols) : format_(std::move(format)), cols_(cols) {
  zeros_.reserve(2 * static_cast<std::size_t>(cols));
  for (std::int32_t k = 0; k < cols; ++k) (zeros_ += format_.separator) += '0';
}

std::size_t RowText::bound(std::int32_t i, std::int32_t reach_limit) const {
  std::size_t name = 0;
  if (!format_.row_names.empty()) name = format_.row_names[static_cast<std::size_t>(i)].size() + 3;
  const auto numbers = static_cast<std::size_t>(reach_limit);
  return name + numbers * (static_cast<std::size_t>(format_.digits) + kNumberOverhead + 1) +
         2 * (static_cast<std::size_t>(cols_) - numbers) + 2;
}

char *RowText::number(double value, char *out) const { return format_number(value, format_.digits, out); }

char *RowText::write(std::int32_t i, const double *values, std::int32_t reach, char *out) const {
  if (!format_.row_names.empty()) {
    const std::string &name = format_.row_names[static_cast<std::size_t>(i)];
    if (format_.quote_names) *out++ = '"';
    std::memcpy(out, name.data(), name.size());
    out += name.size();
    if (format_.quote_names) *out++ = '"';
    *out++ = format_.separator;
  }
  // The zeros no correction reaches are copied as one run: in a lower-triangular
  // matrix they are half the text.
  std::int32_t zeros = cols_ - reach;
  if (reach > 0) {
    out = number(values[0], out);
    for (std::int32_t j = 1; j < reach; ++j) {
      *out++ = format_.separator;
      out = number(values[j], out);
    }
  } else if (cols_ > 0) {
    *out++ = '0';
    --zeros;
  }
  const std::size_t zero_bytes = 2 * static_cast<std::size_t>(zeros);
  std::memcpy(out, zeros_.data(), zero_bytes);
  out += zero_bytes;
  *out++ = '\n';
  return out;
}

}  // namespace respmat
