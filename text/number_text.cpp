#include "text/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/field_scan.h"
#include "text/number_conventions.h"

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

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kLargestExactPower = 22;

// Eight bytes as one little-endian word: the first byte is the lowest.
std::uint64_t load_eight(const char *p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The high bit of each byte of `values` (ASCII bytes less '0') that is not a digit:
// adding 0x76 carries a byte past 0x7f exactly when it is 10 or more. A carry out of
// a byte can only disturb the bytes after it, and only the first flagged byte counts.
std::uint64_t non_digit_bytes(std::uint64_t values) {
  return ((values + 0x7676767676767676ULL) | values) & 0x8080808080808080ULL;
}

// The value of eight digit values 0-9, the lowest byte the most significant digit:
// neighbouring digits, then pairs, then quadruples combined in three multiplications.
std::uint32_t eight_digits_value(std::uint64_t values) {
  values = values * 10 + (values >> 8);
  values = (((values & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
            (((values >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >>
           32;
  return static_cast<std::uint32_t>(values);
}

// The digits at the start of [p, end) appended to `value` (which wraps past 19
// digits: the caller refuses those), and the first byte after them. Eight bytes are
// looked at a time: eight digits are converted at once, fewer (the common case: an
// integer part or an exponent) one by one, without testing each again. Kept inline:
// it runs up to three times for every number read.
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
  for (; p != end && is_digit(*p); ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
  return {p, value};
}

}  // namespace

const char *parse_simple_decimal(const char *begin, const char *end, double &value) {
  const char *p = begin;
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
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

double parse_number(const char *begin, const char *end) {
  const char *p = begin;
  while (p != end && is_c_space(*p)) ++p;
  double value;
  if (double_arithmetic_rounds_to_nearest() && parse_simple_decimal(p, end, value) != nullptr) return value;
  // Both converters honour the caller's rounding mode on some inputs; a value read
  // from text is the nearest double whatever the mode.
  const RoundToNearest nearest;
  // std::from_chars reads plain decimal forms exactly as strtod does. Everything else
  // (a '+', hexadecimal, infinities, NaNs and their payloads, no digits at all, and
  // values out of range, where strtod gives an infinity or a zero) goes to strtod.
  const char *digits = p != end && *p == '-' ? p + 1 : p;
  if (digits == end) return parse_with_strtod(p, end);
  const bool plain_start =
      (is_digit(*digits) && !(digits[0] == '0' && digits + 1 != end && (digits[1] | 0x20) == 'x')) ||
      (*digits == '.' && digits + 1 != end && is_digit(digits[1]));
  if (plain_start) {
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc()) return value;
  }
  return parse_with_strtod(p, end);
}

bool parse_whole_number(const char *begin, const char *end, double &value) {
  // strtod needs a NUL after the text and tells where the number ends; atof is
  // strtod without that end, so both give the same value.
  const std::string text(begin, end);
  char *number_end = nullptr;
  const double parsed = std::strtod(text.c_str(), &number_end);
  const char *rest = number_end;
  while (is_c_space(*rest)) ++rest;
  if (number_end == text.c_str() || *rest != '\0') return false;
  value = parsed;
  return true;
}

namespace {

constexpr std::uint64_t kPowersOf10[] = {1ULL,
                                         10ULL,
                                         100ULL,
                                         1000ULL,
                                         10000ULL,
                                         100000ULL,
                                         1000000ULL,
                                         10000000ULL,
                                         100000000ULL,
                                         1000000000ULL,
                                         10000000000ULL,
                                         100000000000ULL,
                                         1000000000000ULL,
                                         10000000000000ULL,
                                         100000000000000ULL,
                                         1000000000000000ULL,
                                         10000000000000000ULL,
                                         100000000000000000ULL,
                                         1000000000000000000ULL,
                                         10000000000000000000ULL};

// 16 significant digits of |value| = significand x 2^exponent, scaled so that they
// form a whole number in [10^15, 10^16), rounded half to even on the exact product.
// `decimal_exponent` is the guess for floor(log10 |value|). Returns false when the
// guess was off (the caller retries) or the scale is out of this method's range.
bool sixteen_digits(std::uint64_t significand, int exponent, int decimal_exponent,
                    std::uint64_t &digits) {
  const int scale = 15 - decimal_exponent;  // value x 10^scale is in [10^15, 10^16)
  if (scale < 0 || scale > 22 || exponent > 0 || exponent < -127) return false;
  // 10^scale < 2^74 and significand < 2^53: the product fits 128 bits exactly.
  const unsigned __int128 power =
      scale <= 19 ? static_cast<unsigned __int128>(kPowersOf10[scale])
                  : static_cast<unsigned __int128>(kPowersOf10[19]) * kPowersOf10[scale - 19];
  const unsigned __int128 product = power * significand;
  const int shift = -exponent;
  unsigned __int128 quotient = shift == 0 ? product : product >> shift;
  if (quotient < kPowersOf10[15] || quotient >= kPowersOf10[16]) return false;
  if (shift != 0) {
    const unsigned __int128 remainder = product - (quotient << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
  }
  digits = static_cast<std::uint64_t>(quotient);
  return true;
}

// "00" to "99": two digits at a time halve the dependent divisions.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void write_four_digits(std::uint32_t value, char *out) {
  std::memcpy(out, kDigitPairs + 2 * (value / 100), 2);
  std::memcpy(out + 2, kDigitPairs + 2 * (value % 100), 2);
}

// Writes `value` (below 10^8) as exactly eight digits.
void write_eight_digits(std::uint32_t value, char *out) {
  write_four_digits(value / 10000, out);
  write_four_digits(value % 10000, out + 4);
}

// Writes the printf %.16g text of a value with the given 16 digits (which may have
// rounded up to 10^16) and decimal exponent.
char *write_g16(bool negative, std::uint64_t digits, int decimal_exponent, char *out) {
  if (digits == kPowersOf10[16]) {
    digits = kPowersOf10[15];
    ++decimal_exponent;
  }
  char text[16];
  write_eight_digits(static_cast<std::uint32_t>(digits / 100000000), text);
  write_eight_digits(static_cast<std::uint32_t>(digits % 100000000), text + 8);
  int length = 16;
  while (text[length - 1] == '0') --length;  // the first digit is never 0
  if (negative) *out++ = '-';
  if (decimal_exponent < -4 || decimal_exponent >= 16) {
    *out++ = text[0];
    if (length > 1) {
      *out++ = '.';
      std::memcpy(out, text + 1, static_cast<std::size_t>(length - 1));
      out += length - 1;
    }
    *out++ = 'e';
    *out++ = decimal_exponent < 0 ? '-' : '+';
    const int magnitude = decimal_exponent < 0 ? -decimal_exponent : decimal_exponent;
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return out;
  }
  if (decimal_exponent < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > decimal_exponent; --i) *out++ = '0';
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return out + length;
  }
  const int integer_digits = decimal_exponent + 1;
  if (length <= integer_digits) {
    std::memcpy(out, text, static_cast<std::size_t>(length));
    out += length;
    for (int i = length; i < integer_digits; ++i) *out++ = '0';
    return out;
  }
  std::memcpy(out, text, static_cast<std::size_t>(integer_digits));
  out += integer_digits;
  *out++ = '.';
  std::memcpy(out, text + integer_digits, static_cast<std::size_t>(length - integer_digits));
  return out + (length - integer_digits);
}

}  // namespace

char *format_g16(double value, char *out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0x7ff) {
    const char *text = (bits & 0xfffffffffffffULL) == 0 ? (negative ? "-inf" : "inf")
                                                        : (negative ? "-nan" : "nan");
    const std::size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
  }
  // Normal numbers between about 1e-7 and 1e16, where nearly all values lie, are
  // rounded exactly in 128-bit integers; the rest go through the general converter.
  if (biased != 0) {
    const std::uint64_t significand = (bits & 0xfffffffffffffULL) | (1ULL << 52);
    const int exponent = biased - 1075;  // value = significand x 2^exponent
    // floor(log10(2) x binary exponent), off by at most one below the true value.
    const int guess = ((biased - 1023) * 78913) >> 18;
    std::uint64_t digits;
    for (int decimal_exponent = guess; decimal_exponent <= guess + 1; ++decimal_exponent)
      if (sixteen_digits(significand, exponent, decimal_exponent, digits))
        return write_g16(negative, digits, decimal_exponent, out);
  } else if ((bits << 1) == 0) {
    if (negative) *out++ = '-';
    *out++ = '0';
    return out;
  }
  return std::to_chars(out, out + kMaxG16Length, value, std::chars_format::general, 16).ptr;
}

}  // namespace respmat::detail
