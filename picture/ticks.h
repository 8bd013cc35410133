// Tick values a reader takes in at a glance: round numbers in steps of 1, 2 or 5
// times a power of ten on a linear scale, whole decades on a log scale, written as
// the C locale writes them with a true minus sign.
#ifndef RESPMAT_PICTURE_TICKS_H
#define RESPMAT_PICTURE_TICKS_H

#include <string>
#include <vector>

namespace respmat {

// The multiples of the least step 1, 2 or 5 x 10^k that leaves at most `most` ticks
// within [low, high], in order; none when the interval is empty or not finite.
// Requires: most >= 2.
[[nodiscard]] std::vector<double> round_ticks(double low, double high, int most);

// The exponents of the decades 10^k within [low_exponent, high_exponent], every
// step-th from a multiple of the step, the step the least of 1, 2, 5, 10, ... that
// leaves at most `most` of them.
[[nodiscard]] std::vector<int> decade_ticks(int low_exponent, int high_exponent, int most);

// A tick value: "0.2", "−0.4", "1.5e+04"; zero without a sign.
[[nodiscard]] std::string tick_text(double value);

// A decade as a reader writes it: "10⁻³", "1", "10", "10²".
[[nodiscard]] std::string decade_text(int exponent);

}  // namespace respmat

#endif
