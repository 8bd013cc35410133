#include "text/number_text.h"
#include "text/simple_decimal_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>

namespace {

using respmat::detail::format_g16;
using respmat::detail::parse_number;
using respmat::detail::parse_number_in_general;

std::uint64_t bits_of(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

double from_bits(std::uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// Checks parse_number, and its general path alone, against atof, bit for bit, on
// `text` alone and followed by a separator (which must not change what is read).
void expect_parses_like_atof(const std::string &text) {
  const std::uint64_t expected = bits_of(std::atof(text.c_str()));
  for (auto parse : {parse_number, parse_number_in_general})
    ASSERT_EQ(bits_of(parse(text.data(), text.data() + text.size())), expected) << testing::PrintToString(text);
  const std::string followed = text + ",9";
  ASSERT_EQ(bits_of(parse_number(followed.data(), followed.data() + text.size())), expected)
      << testing::PrintToString(text);
}

std::string g16(double x) {
  char out[respmat::detail::kMaxG16Length];
  return std::string(out, format_g16(x, out));
}

std::string printf_g16(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%.16lg", x);
  return text;
}

TEST(ParseNumber, AgreesWithAtofOnTheVectorFiles) {
  int checked = 0;
  for (const char *name : {"atof-semantics.txt", "atof-c99-extensions.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    std::string line;
    while (std::getline(in, line)) {
      if (line.size() < 17) continue;
      const std::string input = line.substr(17);
      expect_parses_like_atof(input);
      if (input.find("nan") == std::string::npos) {  // NaN bits are the library's own
        EXPECT_EQ(bits_of(parse_number(input.data(), input.data() + input.size())),
                  std::strtoull(line.substr(0, 16).c_str(), nullptr, 16))
            << input;
      }
      ++checked;
    }
  }
  for (const char *name : {"parse-number-fxx-more-test-cases.txt", "parse-number-fxx-lemire-fast-float.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    std::string line;
    while (std::getline(in, line)) {
      const std::string input = line.substr(31);
      const std::uint64_t expected = std::strtoull(line.substr(14, 16).c_str(), nullptr, 16);
      for (auto parse : {parse_number, parse_number_in_general})
        EXPECT_EQ(bits_of(parse(input.data(), input.data() + input.size())), expected) << input;
      ++checked;
    }
  }
  EXPECT_GT(checked, 3000);
}

TEST(ParseNumber, AgreesWithAtofOnRandomAndHostileText) {
  std::mt19937_64 rng(77);
  const char pieces[][6] = {"0", "1", "9", "5", ".", "e", "E", "+", "-", "x", "X", "p", "a", "f",
                            "inf", "nan", "(", ")", " ", "\t", "\v", "00", "e-", "e+", "0x", "\"",
                            "9999", "e400", "e-400", "n", "i", "y"};
  for (int trial = 0; trial < 200000; ++trial) {
    std::string text;
    for (int k = static_cast<int>(rng() % 8); k >= 0; --k) text += pieces[rng() % std::size(pieces)];
    expect_parses_like_atof(text);
  }
  for (int trial = 0; trial < 100000; ++trial) {
    const double x = from_bits(rng());
    char text[64];
    const char *formats[] = {"%.17g", "%.16g", "%a", "%.3e", "%+.20f", " %.25g", "%.40g"};
    std::snprintf(text, sizeof text, formats[rng() % std::size(formats)], x);
    expect_parses_like_atof(text);
  }
}

// The simple decimal form read straight from the text: where it takes a number, the
// value and the end of the number are strtod's; where it does not, the general path
// gives atof's value.
TEST(ParseNumber, SimpleDecimalsEndWhereStrtodEnds) {
  std::mt19937_64 rng(5);
  for (int trial = 0; trial < 300000; ++trial) {
    const std::string text = respmat::testing::simple_decimal_test_text(rng, trial);
    expect_parses_like_atof(text);
    respmat::testing::expect_simple_decimal_like_strtod(text);
  }
}

TEST(FormatG16, AgreesWithPrintfOnTheVectorFiles) {
  int checked = 0;
  for (const char *name : {"printf-g-vectors.txt", "printf-g-ties.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    std::string bits, g16_text;
    std::string rest;
    while (in >> bits >> g16_text && std::getline(in, rest)) {
      const double x = from_bits(std::strtoull(bits.c_str(), nullptr, 16));
      ASSERT_EQ(g16(x), g16_text) << bits;
      ++checked;
    }
  }
  EXPECT_GT(checked, 15000);
}

TEST(FormatG16, AgreesWithPrintfOnRandomBitsAndSpecialValues) {
  std::mt19937_64 rng(99);
  for (int trial = 0; trial < 300000; ++trial) {
    const double x = trial % 3 == 0 ? from_bits(rng())
                   : trial % 3 == 1 ? std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 150)
                                    : static_cast<double>(static_cast<std::int64_t>(rng() % 100000000)) / 1000;
    ASSERT_EQ(g16(x), printf_g16(x)) << std::hexfloat << x;
  }
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double x : {0.0, -0.0, inf, -inf, nan, -nan, from_bits(0x7ff0000000000001), from_bits(0xfff8000000000123),
                   5e-324, 1e16, 9999999999999999.0, 1e-5, 0.0001, 123456789012345678.0})
    EXPECT_EQ(g16(x), printf_g16(x)) << std::hexfloat << x;
}

// The decimal exponent comes from comparisons with powers of ten and the digits from a
// rounded product, exact between 2^-36 and 2^53: errors would show next to the powers of
// ten and of two and on the ties of the 17th digit (M x 2^-j with M odd and M x 5^j of
// 17 digits is one).
TEST(FormatG16, AgreesWithPrintfNearPowersAndTiesAndOnModelValues) {
  const std::uint64_t seed = 16;
  std::mt19937_64 rng(seed);
  const auto expect_near_like_printf = [seed](double x, int reach) {
    for (int step = -reach; step <= reach; ++step)
      for (const double y : {from_bits(bits_of(x) + step), -from_bits(bits_of(x) + step)})
        ASSERT_EQ(g16(y), printf_g16(y)) << "seed " << seed << ", value " << std::hexfloat << y;
  };
  for (int power = -323; power <= 308; ++power)
    expect_near_like_printf(std::strtod(("1e" + std::to_string(power)).c_str(), nullptr), 8);
  for (std::uint64_t exponent = 1; exponent < 2047; ++exponent) expect_near_like_printf(from_bits(exponent << 52), 2);
  for (int trial = 0; trial < 100000; ++trial) {
    const int j = 1 + static_cast<int>(rng() % 24);
    std::uint64_t power_of_5 = 1;
    for (int i = 0; i < j; ++i) power_of_5 *= 5;
    const std::uint64_t low = (10000000000000000ULL + power_of_5 - 1) / power_of_5;
    const std::uint64_t high = std::min(99999999999999999ULL / power_of_5, (1ULL << 53) - 1);
    const std::uint64_t odd = (low + rng() % (high - low + 1)) | 1;
    expect_near_like_printf(std::ldexp(static_cast<double>(odd <= high ? odd : odd - 2), -j), 1);
  }
  std::uniform_real_distribution<double> model_value(-0.5, 0.5);
  for (int trial = 0; trial < 100000; ++trial) expect_near_like_printf(model_value(rng), 0);
}

}  // namespace

namespace {

bool whole(const std::string &text, double &value) {
  return respmat::detail::parse_whole_number(text.data(), text.data() + text.size(), value);
}

// What the C library says: the text is strtod's number and white space, nothing else.
bool whole_by_strtod(const std::string &text, double &value) {
  char *end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || text.find('\0') != std::string::npos) return false;
  while (*end == ' ' || (*end >= '\t' && *end <= '\r')) ++end;
  if (*end != '\0') return false;
  value = parsed;
  return true;
}

TEST(ParseWholeNumber, AcceptsOneNumberWithBlanksAroundAndNothingElse) {
  for (const char *text : {"0.5", " \t-1e-3 ", "+7", "0x1p-2", "inf", "nan", "1e400", ".5"}) {
    double value = -99.0;
    EXPECT_TRUE(whole(text, value)) << text;
    const double expected = std::atof(text);
    EXPECT_TRUE(bits_of(value) == bits_of(expected) || (std::isnan(value) && std::isnan(expected))) << text;
  }
  for (const char *text : {"", "  ", "0.5x", "x", "1,2", "\"0.5\"", "1 2", "-", ".", "e5", "0.5\"", "--1"}) {
    double value = -99.0;
    EXPECT_FALSE(whole(text, value)) << text;
    EXPECT_EQ(value, -99.0) << text;
  }
}

TEST(ParseWholeNumber, AgreesWithStrtodOnRandomAndHostileTexts) {
  std::mt19937_64 rng(17);
  const std::string pieces[] = {"0", "7", "12345678901234567890", " ", "\t", "-", "+", ".", "e", "E-", "x", "0x1p",
                                "inf", "nan", "e400", std::string(1, '\0'), ",", "\"", "1.", "e-330"};
  for (int trial = 0; trial < 300000; ++trial) {
    std::string text = respmat::testing::simple_decimal_test_text(rng, trial);
    if (trial % 3 == 0)
      for (int k = static_cast<int>(rng() % 5); k >= 0; --k) text += pieces[rng() % std::size(pieces)];
    double got = -99.0, expected = -99.0;
    ASSERT_EQ(whole(text, got), whole_by_strtod(text, expected)) << text;
    ASSERT_TRUE(bits_of(got) == bits_of(expected) || (std::isnan(got) && std::isnan(expected))) << text;
  }
}

}  // namespace
