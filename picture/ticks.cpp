#include "picture/ticks.h"

#include <cmath>
#include <cstdio>

#include "base/number_conventions.h"

namespace respmat {
namespace {

// The 1-2-5 steps from the least at or above `least`: step k is leading[k % 3] x
// 10^(k / 3 + start).
struct RoundStep {
  double mantissa;
  double power;

  [[nodiscard]] double value() const { return mantissa * power; }
  void next() {
    if (mantissa == 1) {
      mantissa = 2;
    } else if (mantissa == 2) {
      mantissa = 5;
    } else {
      mantissa = 1;
      power *= 10;
    }
  }
};

}  // namespace

std::vector<double> round_ticks(double low, double high, int most) {
  std::vector<double> ticks;
  if (!std::isfinite(low) || !std::isfinite(high) || !(low <= high) || most < 2) return ticks;
  const double span = high - low;
  if (span == 0) return {low};
  // A span past the largest double is ticked at half scale, then doubled.
  if (!std::isfinite(span)) {
    ticks = round_ticks(low / 2, high / 2, most);
    for (double &tick : ticks) tick *= 2;
    return ticks;
  }
  RoundStep step{1, std::pow(10.0, std::floor(std::log10(span / most)))};
  // Each value is a whole number divided or multiplied by a power of ten once, so
  // that it is the double nearest its decimal: 0.3, never 0.30000000000000004.
  const auto tick = [&](double k) {
    const double inverse = std::round(1 / step.power);
    return step.power < 1 && std::isfinite(inverse) ? k * step.mantissa / inverse : k * step.mantissa * step.power;
  };
  while (std::floor(high / step.value()) - std::ceil(low / step.value()) + 1 > most) step.next();
  for (double k = std::ceil(low / step.value()); k <= std::floor(high / step.value()); ++k)
    ticks.push_back(tick(k) == 0 ? 0.0 : tick(k));
  return ticks;
}

std::vector<int> decade_ticks(int low_exponent, int high_exponent, int most) {
  std::vector<int> ticks;
  if (low_exponent > high_exponent || most < 1) return ticks;
  RoundStep step{1, 1};
  const auto first = [&] { return static_cast<int>(std::ceil(low_exponent / step.value()) * step.value()); };
  const auto count = [&] { return (high_exponent - first()) / static_cast<int>(step.value()) + 1; };
  while (count() > most) step.next();
  for (int k = first(); k <= high_exponent; k += static_cast<int>(step.value())) ticks.push_back(k);
  return ticks;
}

std::string tick_text(double value) {
  char text[32];
  {
    detail::CNumberConventions c_numbers;
    std::snprintf(text, sizeof text, "%.6g", value == 0 ? 0.0 : value);
  }
  std::string result = text;
  if (result.front() == '-') result.replace(0, 1, "\u2212");
  return result;
}

std::string decade_text(int exponent) {
  if (exponent == 0) return "1";
  if (exponent == 1) return "10";
  static const char *const kSuperscript[] = {"\u2070", "\u00B9", "\u00B2", "\u00B3", "\u2074",
                                             "\u2075", "\u2076", "\u2077", "\u2078", "\u2079"};
  std::string text = "10";
  if (exponent < 0) text += "\u207B";
  for (const char digit : std::to_string(std::abs(exponent))) text += kSuperscript[digit - '0'];
  return text;
}

}  // namespace respmat
