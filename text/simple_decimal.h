// Internal: reading the common decimal form of a number straight from text, inline
// where numbers are read in bulk.
#ifndef RESPMAT_TEXT_SIMPLE_DECIMAL_H
#define RESPMAT_TEXT_SIMPLE_DECIMAL_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <emmintrin.h>
#ifdef __SSSE3__
#include <tmmintrin.h>
#endif

namespace respmat::detail {

// The double nearest to digits x 10^exponent, for digits other than 0 (number_text.cpp):
// fast_float's rounding of a 64-bit significand. Returns false, storing nothing, in the
// rare cases where that rounding cannot settle the nearest double, which the general
// reader then does.
[[nodiscard]] bool round_decimal_to_nearest(std::uint64_t digits, int exponent, double &magnitude);

// The reader is compiled into translation units built for the baseline instruction set
// and into others built with -mssse3 (matrix/line_convert.h). Its inline functions
// would then have two different definitions under one name, and the linker, keeping
// any one of them, could hand the SSSE3 copy to callers on processors without SSSE3.
// The inline namespace gives each instruction set's copy a name of its own.
#ifdef __SSSE3__
inline namespace ssse3 {
#else
inline namespace baseline {
#endif

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int kLargestExactPower = 22;
inline constexpr std::uint64_t kPowersOf10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// The bytes a read may look at from the start of a number: a sign, up to three words of
// digits, the point, three more words, the exponent's letter and sign and one word.
inline constexpr std::ptrdiff_t kSimpleDecimalReach = 64;

// Eight bytes as one little-endian word: the first byte is the lowest.
inline std::uint64_t load_eight(const char *p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The text a number is read from, a word or a byte at a time. Where
// kSimpleDecimalReach bytes can be read past the start of the number they are read as
// they stand; near the end of the text the bytes past it read as NUL, which ends any
// number.
struct ReachableText {
  [[nodiscard]] std::uint64_t eight(const char *p) const { return load_eight(p); }
  [[nodiscard]] char at(const char *p) const { return *p; }
};
struct BoundedText {
  const char *begin;
  const char *end;
  // The eight bytes at p, those past the end zero: shifted down from the text's last
  // eight bytes where it has eight, assembled byte by byte in the shorter texts.
  [[nodiscard]] std::uint64_t eight(const char *p) const {
    const std::ptrdiff_t left = end - p;
    if (left >= 8) return load_eight(p);
    if (left <= 0) return 0;
    if (end - begin >= 8) return load_eight(end - 8) >> (8 * (8 - left));
    std::uint64_t word = 0;
    for (std::ptrdiff_t k = 0; k < left; ++k) word |= std::uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
    return word;
  }
  [[nodiscard]] char at(const char *p) const { return p < end ? *p : '\0'; }
};

// The value of each byte of the word at p as a digit: a digit's byte is its value, any
// other byte is 10 or more.
template <typename Text>
std::uint64_t digit_values(const Text &text, const char *p) {
  return text.eight(p) ^ 0x3030303030303030ULL;
}

// The high bit of each byte of `values` (digit_values()) that is not a digit: adding
// 0x76 carries a byte past 0x7f exactly when it is 10 or more. A carry out of a byte
// can only disturb the bytes after it, and only the first flagged byte counts.
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

// The value of the first `count` (0-7) digits of `values`: shifted to the top, they
// have zeros before them (two shifts, so that a count of 0 shifts everything out).
inline std::uint32_t first_digits_value(std::uint64_t values, int count) {
  return eight_digits_value(values << 1 << (63 - 8 * count));
}

// The number of digits at the start of `values` when fewer than eight, else 8.
inline int leading_digit_count(std::uint64_t values) {
  const std::uint64_t others = non_digit_bytes(values);
  return others != 0 ? __builtin_ctzll(others) / 8 : 8;
}

// The run of digits at p appended to `value` (which wraps past 19 digits: the caller
// refuses those), and the first byte after it. A run is read up to 24 digits, a word
// at a time without a test per digit; a longer one is cut there, which the caller
// refuses as too many digits.
struct Digits {
  const char *end;
  std::uint64_t value;
};
template <typename Text>
[[gnu::always_inline]] inline Digits read_digits(const Text &text, const char *p, std::uint64_t value) {
  for (int word = 0; word < 3; ++word, p += 8) {
    const std::uint64_t values = digit_values(text, p);
    const int count = leading_digit_count(values);
    if (count < 8) return {p + count, value * kPowersOf10[count] + first_digits_value(values, count)};
    value = value * 100000000 + eight_digits_value(values);
  }
  return {p, value};
}

// A number of the form read: its digits as one integer, the power of ten they are
// scaled by, and the first byte after it.
struct Decimal {
  std::uint64_t digits;
  int exponent;
  const char *end;
};

// The number at p (after its sign), each run of digits read a word at a time. Returns
// false for no digits at all, more than 19, a hexadecimal prefix ("0x"), or eight or
// more exponent digits (the general path tells zero, infinity or a value that leading
// zeros hide).
template <typename Text>
[[gnu::always_inline]] inline bool read_decimal_in_words(const Text &text, const char *p, Decimal &out) {
  Digits digits = read_digits(text, p, 0);
  const auto integer_digits = static_cast<int>(digits.end - p);
  int fraction_digits = 0;
  if (text.at(digits.end) == '.') {
    const char *fraction = digits.end + 1;
    digits = read_digits(text, fraction, digits.value);
    fraction_digits = static_cast<int>(digits.end - fraction);
  }
  p = digits.end;
  const int count = integer_digits + fraction_digits;
  if (count == 0 || count > 19 || (text.at(p) | 0x20) == 'x') return false;
  int exponent = -fraction_digits;
  if ((text.at(p) | 0x20) == 'e') {
    // An exponent counts only with at least one digit; "1e" is 1 followed by text.
    const char *q = p + 1;
    const char sign = text.at(q);
    const bool exponent_negative = sign == '-';
    q += sign == '-' || sign == '+';
    const std::uint64_t values = digit_values(text, q);
    const int exponent_digits = leading_digit_count(values);
    if (exponent_digits == 8) return false;
    if (exponent_digits != 0) {
      const int magnitude = static_cast<int>(first_digits_value(values, exponent_digits));
      exponent += exponent_negative ? -magnitude : magnitude;
      p = q + exponent_digits;
    }
  }
  out = {digits.value, exponent, p};
  return true;
}

#ifdef __SSSE3__
// Byte shuffle orders that take `count` digits out of sixteen bytes and set them side by
// side at the top, zeros (leading) below: the integer digits of a significand followed,
// one byte later, by its fraction digits ([integer][fraction]), or a run of exponent
// digits starting at a byte ([start][count]).
struct DigitOrders {
  alignas(16) std::int8_t significand[16][16][16];
  alignas(16) std::int8_t exponent[16][16][16];
};
constexpr void set_digit_order(std::int8_t *order, int count, int first, int skip_after) {
  for (int lane = 0; lane < 16; ++lane) order[lane] = -128;  // a zero byte
  if (count > 16) return;
  for (int k = 0; k < count; ++k)
    order[16 - count + k] = static_cast<std::int8_t>(first + (k < skip_after ? k : k + 1));
}
constexpr DigitOrders make_digit_orders() {
  DigitOrders orders{};
  for (int a = 0; a < 16; ++a)
    for (int b = 0; b < 16; ++b) {
      set_digit_order(orders.significand[a][b], a + b, 0, a);
      set_digit_order(orders.exponent[a][b], a + b <= 16 ? b : 17, a, b);
    }
  return orders;
}
inline constexpr DigitOrders kDigitOrders = make_digit_orders();

// The value of up to sixteen digit values set at the top of `digits` (the lanes below
// zero): pairs, fours and eights combined, then the two eights.
inline std::uint64_t sixteen_digits_value(__m128i digits) {
  const __m128i pairs = _mm_maddubs_epi16(digits, _mm_set1_epi16(0x010a));                           // 10 a + b
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));                           // 100 a + b
  const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710));  // 10000 a + b
  const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
  return (both & 0xffffffff) * 100000000 + (both >> 32);
}

// The common number that ends within sixteen bytes of p (after its sign), starting with
// a digit and with fewer than five exponent digits, read from one sixteen-byte look:
// the digits, point, exponent letter and signs are found as bit masks, and the digits of
// the significand and of the exponent gathered by byte shuffles, without another read.
// Exponent digits may fill the sixteenth byte (as in the 16 bytes of "%.10e"): the
// seventeenth, read alone, then tells that they end there. Returns false, storing
// nothing, for any other (read_decimal_in_words() decides those).
[[gnu::always_inline]] inline bool read_short_decimal(const char *p, Decimal &out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i nine = _mm_set1_epi8(9);
  const auto mask_of = [](__m128i text, char c) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(text, _mm_set1_epi8(c))));
  };
  // Bit k clear when byte k is a digit; the bits above the sixteen bytes are set.
  const unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(values, nine), nine)));
  const __m128i lower_case = _mm_or_si128(bytes, _mm_set1_epi8(0x20));  // letters only: 'E' and 'e' alike
  const unsigned points = mask_of(bytes, '.'), letters = mask_of(lower_case, 'e'), hexadecimal = mask_of(lower_case, 'x');
  const unsigned minus = mask_of(bytes, '-'), signs = minus | mask_of(bytes, '+');
  const int integer_digits = __builtin_ctz(others);
  const unsigned point = (points >> integer_digits) & 1;
  const int fraction_digits = point != 0 ? __builtin_ctz(others >> (integer_digits + 1)) : 0;
  const int length = integer_digits + static_cast<int>(point) + fraction_digits;
  if (integer_digits == 0 || length >= 16 || ((hexadecimal >> length) & 1) != 0) return false;
  int exponent = -fraction_digits;
  const char *end = p + length;
  if ((letters >> length) & 1) {
    const int sign = length + 1;
    const int first = sign + static_cast<int>((signs >> sign) & 1);
    const int exponent_digits = __builtin_ctz(others >> first);
    const int exponent_end = first + exponent_digits;
    const bool ends_at_sixteen = exponent_end == 16 && exponent_digits != 0 && static_cast<unsigned char>(p[16] - '0') > 9;
    if ((exponent_end >= 16 && !ends_at_sixteen) || exponent_digits > 4) return false;
    if (exponent_digits != 0) {
      const __m128i order =
          _mm_load_si128(reinterpret_cast<const __m128i *>(kDigitOrders.exponent[first][exponent_digits]));
      const auto magnitude = static_cast<int>(sixteen_digits_value(_mm_shuffle_epi8(values, order)));
      exponent += (minus >> sign) & 1 ? -magnitude : magnitude;
      end = p + first + exponent_digits;
    }
  }
  const __m128i order =
      _mm_load_si128(reinterpret_cast<const __m128i *>(kDigitOrders.significand[integer_digits][fraction_digits]));
  out = {sixteen_digits_value(_mm_shuffle_epi8(values, order)), exponent, end};
  return true;
}
#endif

// `magnitude`, negated when `negative`: set as the sign bit, since a branch on the
// sign of random data is mispredicted every other number.
inline double with_sign(double magnitude, bool negative) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | std::uint64_t{negative} << 63);
}

// parse_simple_decimal() on `text`, the number starting at `begin`.
template <typename Text>
[[gnu::always_inline]] inline const char *read_simple_decimal(const Text &text, const char *begin, double &value) {
  const char *p = begin;
  const bool negative = text.at(p) == '-';
  p += negative;
  Decimal number;
  bool read = false;
#ifdef __SSSE3__
  if constexpr (std::is_same_v<Text, ReachableText>) read = read_short_decimal(p, number);
#endif
  if (!read && !read_decimal_in_words(text, p, number)) return nullptr;
  if (number.digits == 0) {
    value = with_sign(0.0, negative);
    return number.end;
  }
  // Where both the digits and the power of ten are exact doubles, one multiplication or
  // division rounds the exact value once, to nearest: the correctly rounded result.
  // Longer digits (up to 19, which fit 64 bits) and other powers take fast_float's
  // rounding, which needs no second reading of the text.
  const int exponent = number.exponent;
  double magnitude;
  if (number.digits <= (std::uint64_t{1} << 53) && exponent >= -kLargestExactPower && exponent <= kLargestExactPower) {
    const auto digits = static_cast<double>(number.digits);
    magnitude = exponent < 0 ? digits / kExactPowersOf10[-exponent] : digits * kExactPowersOf10[exponent];
  } else if (!round_decimal_to_nearest(number.digits, exponent, magnitude)) {
    return nullptr;
  }
  value = with_sign(magnitude, negative);
  return number.end;
}

// The common decimal form at `begin`, [-]digits[.digits][(e|E)[+|-]digits] with at
// most 19 digits and fewer than eight exponent digits. Stores the value std::atof
// gives for it and returns the end of the number; returns null, storing nothing, for
// anything else. Requires: double arithmetic rounding to nearest
// (double_arithmetic_rounds_to_nearest()).
//
// The number is read a word at a time. With at least kSimpleDecimalReach bytes
// from `begin` to `end` the words are read as they stand; callers whose text goes on
// past the number (a line ending in a line feed, say) may pass the end of all of it.
[[gnu::always_inline]] inline const char *parse_simple_decimal(const char *begin, const char *end, double &value) {
  if (end - begin >= kSimpleDecimalReach) return read_simple_decimal(ReachableText{}, begin, value);
  return read_simple_decimal(BoundedText{begin, end}, begin, value);
}

}  // inline namespace
}  // namespace respmat::detail

#endif
