#include "text/number_text.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fast_float/fast_float.h>

#include "text/field_scan.h"
#include "base/number_conventions.h"
#include "text/simple_decimal.h"

namespace respmat::detail {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The C library's reader in the "C" locale, so that a process locale with a comma
// for a decimal point reads "1.5" as 1.5 here too. It needs a NUL right after the
// field, which the field's own text lacks.
double strtod_in_c_locale(const char *text) {
  const locale_t c = c_locale();
  return c != locale_t{} ? ::strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
}

double parse_with_strtod(const char *begin, const char *end) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  char small[64];
  if (length < sizeof small) {
    std::memcpy(small, begin, length);
    small[length] = '\0';
    return strtod_in_c_locale(small);
  }
  const std::string text(begin, end);
  return strtod_in_c_locale(text.c_str());
}

// True when p starts digits that strtod reads as a decimal number: a digit that is not
// the 0 of a hexadecimal prefix ("0x"), or a point followed by a digit.
bool starts_decimal_digits(const char *p, const char *end) {
  if (p == end) return false;
  if (is_digit(*p)) return !(p[0] == '0' && p + 1 != end && (p[1] | 0x20) == 'x');
  return *p == '.' && p + 1 != end && is_digit(p[1]);
}

// The decimal number at p, [+|-]digits[.digits][(e|E)[+|-]digits] in any length and
// range, read by fast_float, which gives what strtod gives for it (the nearest double,
// an infinity past the largest, a zero below the least) in every rounding mode.
// Stores the value and returns true; returns false, storing nothing, for any other form
// (infinities, NaNs, hexadecimal, no digits), which fast_float reads otherwise or not at
// all. fast_float takes no '+', which strtod reads as no sign.
// Returns the number's end, or nullptr.
const char *parse_decimal(const char *p, const char *end, double &value) {
  const bool signed_number = p != end && (*p == '-' || *p == '+');
  if (!starts_decimal_digits(signed_number ? p + 1 : p, end)) return nullptr;
  const char *number = p != end && *p == '+' ? p + 1 : p;
  const fast_float::from_chars_result read = fast_float::from_chars(number, end, value);
  return read.ec == std::errc() ? read.ptr : nullptr;
}

// parse_whole_number() for the forms parse_decimal() leaves, by the C library's reader.
bool parse_whole_number_with_strtod(const char *begin, const char *end, double &value) {
  // strtod needs a NUL after the text and tells where the number ends. A NUL inside
  // the text ends strtod's reading early: what follows it is no white space.
  const std::string text(begin, end);
  if (text.size() != std::strlen(text.c_str())) return false;
  const RoundToNearest nearest;
  const locale_t c = c_locale();
  char *number_end = nullptr;
  const double parsed = c != locale_t{} ? ::strtod_l(text.c_str(), &number_end, c)
                                        : std::strtod(text.c_str(), &number_end);
  const char *rest = number_end;
  while (is_c_space(*rest)) ++rest;
  if (number_end == text.c_str() || *rest != '\0') return false;
  value = parsed;
  return true;
}

}  // namespace

bool round_decimal_to_nearest(std::uint64_t digits, int exponent, double &magnitude) {
  // The step of fast_float's from_chars after it has read the digits, here given
  // digits already read: the same double for the same significand and exponent.
  const fast_float::adjusted_mantissa rounded =
      fast_float::compute_float<fast_float::binary_format<double>>(exponent, digits);
  if (rounded.power2 < 0) return false;
  fast_float::to_float(false, rounded, magnitude);
  return true;
}

double parse_number(const char *begin, const char *end) {
  const char *p = begin;
  while (p != end && is_c_space(*p)) ++p;
  double value;
  if (double_arithmetic_rounds_to_nearest() && parse_simple_decimal(p, end, value) != nullptr) return value;
  return parse_number_in_general(p, end);
}

double parse_number_in_general(const char *begin, const char *end) {
  const char *p = begin;
  while (p != end && is_c_space(*p)) ++p;
  double value;
  if (parse_decimal(p, end, value) != nullptr) return value;
  // strtod honours the caller's rounding mode on some inputs; a value read from text
  // is the nearest double whatever the mode.
  const RoundToNearest nearest;
  return parse_with_strtod(p, end);
}

bool parse_whole_number(const char *begin, const char *end, double &value) {
  const char *p = begin;
  while (p != end && is_c_space(*p)) ++p;
  double read = 0.0;
  if (const char *number_end = parse_decimal(p, end, read); number_end != nullptr) {
    while (number_end != end && is_c_space(*number_end)) ++number_end;
    if (number_end != end) return false;
    value = read;
    return true;
  }
  return parse_whole_number_with_strtod(p, end, value);
}

namespace {

// Normal values with |x| in [2^-36, 2^53) are formatted with exact 64- and 128-bit
// integer arithmetic. The bounds keep every power of five needed below 2^64 and every
// dropped remainder below 2^63; the values outside them, which models hardly ever
// hold, go to the general converter.
constexpr int kFastMinBinaryExponent = -36;
constexpr int kFastMaxBinaryExponent = 52;
// floor(log10 |x|) over that range.
constexpr int kFastMinDecimalExponent = -11;
constexpr int kFastMaxDecimalExponent = 15;

constexpr std::uint64_t kTenTo8 = 100000000ULL;
constexpr std::uint64_t kTenTo15 = 1000000000000000ULL;
constexpr std::uint64_t kTenTo16 = 10000000000000000ULL;

// 5^0 .. 5^26: 10^scale = 5^scale x 2^scale, and the factor 2^scale joins the binary
// exponent, so the scale factor of any value in the fast range fits 64 bits.
constexpr auto kPowersOf5 = [] {
  std::array<std::uint64_t, 15 - kFastMinDecimalExponent + 1> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 5;
  return powers;
}();

// The bits of the least double not below 10^n, for |n| <= 22 (where the scaled numerator
// below fits 128 bits). Positive doubles are ordered like their bits, so |x| >= 10^n
// exactly when the bits of |x| are at least these.
constexpr std::uint64_t least_double_bits_from_power_of_10(int n) {
  // 10^n = numerator / denominator, both then scaled by powers of two until
  // denominator <= numerator < 2 x denominator, which finds the binary exponent.
  unsigned __int128 numerator = 1, denominator = 1;
  for (int i = 0; i < n; ++i) numerator *= 10;
  for (int i = 0; i > n; --i) denominator *= 10;
  int binary_exponent = 0;
  while (numerator >= 2 * denominator) {
    denominator *= 2;
    ++binary_exponent;
  }
  while (numerator < denominator) {
    numerator *= 2;
    --binary_exponent;
  }
  std::uint64_t significand =
      static_cast<std::uint64_t>(((numerator << 52) + denominator - 1) / denominator);
  if (significand == 1ULL << 53) {  // rounded up into the next binade
    significand = 1ULL << 52;
    ++binary_exponent;
  }
  return static_cast<std::uint64_t>(binary_exponent + 1023) << 52 | (significand & ((1ULL << 52) - 1));
}

// Indexed by n - (kFastMinDecimalExponent + 1): the powers a value of the fast range is
// compared with to settle its decimal exponent.
constexpr auto kLeastBitsFromPowersOf10 = [] {
  std::array<std::uint64_t, kFastMaxDecimalExponent - kFastMinDecimalExponent + 1> bits{};
  for (std::size_t i = 0; i < bits.size(); ++i)
    bits[i] = least_double_bits_from_power_of_10(kFastMinDecimalExponent + 1 + static_cast<int>(i));
  return bits;
}();

// floor(log10 |x|) for |x| of the fast range, with `magnitude_bits` the bits of |x| and
// 2^binary_exponent <= |x| < 2^(binary_exponent + 1).
int decimal_exponent_of(std::uint64_t magnitude_bits, int binary_exponent) {
  // floor(log10 2^binary_exponent) (78913 / 2^18 is log10 2 closely enough for every
  // double) is the answer or one below it: a binade holds at most one power of ten.
  const int at_least = (binary_exponent * 78913) >> 18;
  const std::uint64_t next_power = kLeastBitsFromPowersOf10[static_cast<std::size_t>(at_least - kFastMinDecimalExponent)];
  return at_least + (magnitude_bits >= next_power ? 1 : 0);
}

// The 16 significant digits of |x| = significand x 2^exponent, with decimal_exponent =
// floor(log10 |x|): the whole number |x| x 10^(15 - decimal_exponent) rounded half to
// even, in [10^15, 10^16].
std::uint64_t sixteen_digits(std::uint64_t significand, int exponent, int decimal_exponent) {
  const int scale = 15 - decimal_exponent;
  // |x| x 10^scale = significand x 5^scale / 2^shift, where the fast range keeps shift
  // in [0, 62] and the product below 2^114.
  const int shift = -exponent - scale;
  const unsigned __int128 product =
      static_cast<unsigned __int128>(significand) * kPowersOf5[static_cast<std::size_t>(scale)];
  std::uint64_t digits = static_cast<std::uint64_t>(product >> shift);
  // The dropped bits against half of 2^shift, both doubled, so that shift 0 (nothing
  // dropped, nothing to round) needs no case of its own; the last digit's parity joins
  // in to break a tie towards even.
  const std::uint64_t one = 1ULL << shift;
  const std::uint64_t dropped = static_cast<std::uint64_t>(product) & (one - 1);
  if (2 * dropped + (digits & 1) > one) ++digits;
  return digits;
}

// The eight decimal digits of `value` (below 10^8) as byte values 0-9, the first digit
// in the lowest byte. Each step splits every lane of the word into two lanes of half
// the width, the quotient q in the lower and the remainder in the upper, with
// multiply-shift divisions that are exact for the lanes' ranges and never carry into
// the next lane. The lanes of q | (lane - divisor x q) << width do not overlap, so it
// equals (lane << width) - q x ((divisor << width) - 1): one multiply for the remainder.
std::uint64_t eight_digit_bytes(std::uint32_t value) {
  const std::uint64_t ten_thousands = value / 10000;
  const std::uint64_t fours = (std::uint64_t{value} << 32) - ten_thousands * ((10000ULL << 32) - 1);
  const std::uint64_t hundreds = (fours * 10486 >> 20) & 0x0000007f0000007fULL;  // x / 100 for x < 10^4
  const std::uint64_t twos = (fours << 16) - hundreds * ((100 << 16) - 1);
  const std::uint64_t tens = (twos * 103 >> 10) & 0x000f000f000f000fULL;  // x / 10 for x < 100
  return (twos << 8) - tens * ((10 << 8) - 1);
}

// Stores the eight bytes of `word` at `out`, the lowest first.
void store_lowest_byte_first(std::uint64_t word, char *out) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(out, &word, sizeof word);
}

int zero_bytes_at_top(std::uint64_t word) { return std::countl_zero(word) >> 3; }

// Sixteen significant digits as text, in two words of eight characters (see
// store_lowest_byte_first), and how many are left when the trailing zeros are dropped.
struct DigitText {
  std::uint64_t first_eight;
  std::uint64_t last_eight;
  int length;

  explicit DigitText(std::uint64_t digits) {
    const std::uint64_t first = eight_digit_bytes(static_cast<std::uint32_t>(digits / kTenTo8));
    const std::uint64_t last = eight_digit_bytes(static_cast<std::uint32_t>(digits % kTenTo8));
    // Only the digit 0 is a zero byte, so the trailing zeros are the zero bytes at the
    // top of the words; the first digit is never 0.
    length = last != 0 ? 16 - zero_bytes_at_top(last) : 8 - zero_bytes_at_top(first);
    constexpr std::uint64_t kZeros = 0x3030303030303030ULL;  // '0' in every byte
    first_eight = first + kZeros;
    last_eight = last + kZeros;
  }

  // Writes all sixteen digits, zeros included, at `out`.
  void write_all(char *out) const {
    store_lowest_byte_first(first_eight, out);
    store_lowest_byte_first(last_eight, out + 8);
  }
};

// The printf %e exponent part: 'e', the sign and at least two digits.
char *write_exponent(int decimal_exponent, char *out) {
  *out++ = 'e';
  *out++ = decimal_exponent < 0 ? '-' : '+';
  const int magnitude = decimal_exponent < 0 ? -decimal_exponent : decimal_exponent;
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  *out++ = static_cast<char>('0' + magnitude / 10 % 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return out;
}

// Writes the printf %.16g text of an unsigned value with the given 16 digits (which
// may have rounded up to 10^16) and decimal exponent. The digits are written whole and
// the end is then set back, so it may write past the end it returns, within
// kMaxG16Length of `out` with the sign.
char *write_g16(std::uint64_t digits, int decimal_exponent, char *out) {
  if (digits == kTenTo16) {
    digits = kTenTo15;
    ++decimal_exponent;
  }
  const DigitText text(digits);
  if (decimal_exponent < -4 || decimal_exponent >= 16) {
    // "d.ddde-05": the digits one place on, then the first moved ahead of the point.
    text.write_all(out + 1);
    out[0] = out[1];
    out[1] = '.';
    return write_exponent(decimal_exponent, out + (text.length > 1 ? text.length + 1 : 1));
  }
  if (decimal_exponent < 0) {
    // "0.", then up to three zeros before the digits; the spare zeros are overwritten.
    std::memcpy(out, "0.000000", 8);
    out += 1 - decimal_exponent;
    text.write_all(out);
    return out + text.length;
  }
  const int integer_digits = decimal_exponent + 1;
  text.write_all(out);
  // A whole number: the digits past the significant ones are the zeros it needs.
  if (text.length <= integer_digits) return out + integer_digits;
  std::memmove(out + integer_digits + 1, out + integer_digits, static_cast<std::size_t>(16 - integer_digits));
  out[integer_digits] = '.';
  return out + text.length + 1;
}

// The values outside the fast range: infinities, NaNs, zeros, subnormals, and normal
// numbers below 2^-36 or from 2^53.
char *format_g16_outside_fast_range(double value, std::uint64_t bits, char *out) {
  const bool negative = (bits >> 63) != 0;
  const std::uint64_t magnitude = bits & ~(1ULL << 63);
  if (magnitude >= 0x7ff0000000000000ULL) {
    const char *text = magnitude == 0x7ff0000000000000ULL ? (negative ? "-inf" : "inf")
                                                          : (negative ? "-nan" : "nan");
    const std::size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
  }
  if (magnitude == 0) {
    if (negative) *out++ = '-';
    *out++ = '0';
    return out;
  }
  return std::to_chars(out, out + kMaxG16Length, value, std::chars_format::general, 16).ptr;
}

}  // namespace

char *format_g16(double value, char *out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const std::uint64_t magnitude_bits = bits & ~(1ULL << 63);
  const int binary_exponent = static_cast<int>(magnitude_bits >> 52) - 1023;
  if (binary_exponent < kFastMinBinaryExponent || binary_exponent > kFastMaxBinaryExponent)
    return format_g16_outside_fast_range(value, bits, out);
  *out = '-';
  out += bits >> 63;
  const std::uint64_t significand = (magnitude_bits & ((1ULL << 52) - 1)) | 1ULL << 52;
  const int decimal_exponent = decimal_exponent_of(magnitude_bits, binary_exponent);
  return write_g16(sixteen_digits(significand, binary_exponent - 52, decimal_exponent), decimal_exponent, out);
}

}  // namespace respmat::detail
