// Internal: reading the common decimal form of a number straight from text, inline
// where numbers are read in bulk.
#ifndef RESPMAT_TEXT_SIMPLE_DECIMAL_H
#define RESPMAT_TEXT_SIMPLE_DECIMAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace respmat::detail {
namespace simple_decimal {

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int kLargestExactPower = 22;

// Eight bytes as one little-endian word: the first byte is the lowest.
inline std::uint64_t load_eight(const char *p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The high bit of each byte of `values` (ASCII bytes less '0') that is not a digit:
// adding 0x76 carries a byte past 0x7f exactly when it is 10 or more. A carry out of
// a byte can only disturb the bytes after it, and only the first flagged byte counts.
inline std::uint64_t non_digit_bytes(std::uint64_t values) {
  return ((values + 0x7676767676767676ULL) | values) & 0x8080808080808080ULL;
}

// The value of eight digit values 0-9, the lowest byte the most significant digit:
// neighbouring digits, then pairs, then quadruples combined in three multiplications.
inline std::uint32_t eight_digits_value(std::uint64_t values) {
  values = values * 10 + (values >> 8);
  values = (((values & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
            (((values >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >>
           32;
  return static_cast<std::uint32_t>(values);
}

// The digits at the start of [p, end) appended to `value` (which wraps past 19
// digits: the caller refuses those), and the first byte after them. Eight bytes are
// looked at a time: eight digits are converted at once, fewer (the common case: an
// integer part or an exponent) one by one, without testing each again.
struct Digits {
  const char *end;
  std::uint64_t value;
};
[[gnu::always_inline]] inline Digits read_digits(const char *p, const char *end, std::uint64_t value) {
  while (end - p >= 8) {
    const std::uint64_t values = load_eight(p) ^ 0x3030303030303030ULL;  // a digit's byte is its value
    const std::uint64_t others = non_digit_bytes(values);
    if (others == 0) {
      value = value * 100000000 + eight_digits_value(values);
      p += 8;
      continue;
    }
    const int count = __builtin_ctzll(others) / 8;
    for (int k = 0; k < count; ++k) value = value * 10 + ((values >> (8 * k)) & 0xff);
    return {p + count, value};
  }
  for (; p != end && (*p >= '0' && *p <= '9'); ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
  return {p, value};
}

}  // namespace simple_decimal

// The common decimal form at `begin`, [-]digits[.digits][(e|E)[+|-]digits] with at
// most 19 digits, when its value is exact arithmetic on doubles (most numbers with 15
// or fewer significant digits and a moderate exponent). Stores the value std::atof
// gives for it and returns the end of the number; returns null, storing nothing,
// for anything else. Requires: double arithmetic rounding to nearest
// (double_arithmetic_rounds_to_nearest()).
[[gnu::always_inline]] inline const char *parse_simple_decimal(const char *begin, const char *end, double &value) {
  const char *p = begin;
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  using namespace simple_decimal;
  Digits digits = read_digits(p, end, 0);
  const std::ptrdiff_t integer_digits = digits.end - p;
  std::ptrdiff_t fraction_digits = 0;
  p = digits.end;
  if (p != end && *p == '.') {
    digits = read_digits(p + 1, end, digits.value);
    fraction_digits = digits.end - (p + 1);
    p = digits.end;
  }
  // No digits at all, more than a 64-bit count holds, or a hexadecimal prefix ("0x"):
  // not this form.
  const std::ptrdiff_t count = integer_digits + fraction_digits;
  if (count == 0 || count > 19 || (p != end && (*p | 0x20) == 'x')) return nullptr;
  int exponent = -static_cast<int>(fraction_digits);
  if (p != end && (*p | 0x20) == 'e') {
    // An exponent counts only with at least one digit; "1e" is 1 followed by text.
    const char *q = p + 1;
    const bool exponent_negative = q != end && *q == '-';
    if (q != end && (*q == '-' || *q == '+')) ++q;
    const Digits magnitude = read_digits(q, end, 0);
    // More than eight exponent digits: the general path tells zero, infinity or a
    // value that leading zeros hide.
    if (magnitude.end - q > 8) return nullptr;
    if (magnitude.end != q) {
      exponent += static_cast<int>(exponent_negative ? -magnitude.value : magnitude.value);
      p = magnitude.end;
    }
  }
  if (digits.value == 0) {
    value = negative ? -0.0 : 0.0;
    return p;
  }
  // Both the digits and the power of ten are exact doubles, so one multiplication or
  // division rounds the exact value once, to nearest: the correctly rounded result.
  if (digits.value > (std::uint64_t{1} << 53) || exponent < -kLargestExactPower || exponent > kLargestExactPower)
    return nullptr;
  const double significand = static_cast<double>(digits.value);
  const double magnitude = exponent < 0 ? significand / kExactPowersOf10[-exponent]
                                        : significand * kExactPowersOf10[exponent];
  value = negative ? -magnitude : magnitude;
  return p;
}

}  // namespace respmat::detail

#endif
