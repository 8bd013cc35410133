#include "model/scaled_sine.h"

#include <cmath>

namespace respmat {

ScaledSine::ScaledSine(double amplitude) : amplitude_(amplitude) {
  for (int k = -kHalfSpan; k <= kHalfSpan; ++k) {
    const long double x = static_cast<long double>(k) / kStepsPerRadian;
    const long double s = sinl(x);
    const long double c = cosl(x);
    const double s_high = static_cast<double>(s);
    const double c_high = static_cast<double>(c);
    table_[static_cast<std::size_t>(k + kHalfSpan)] = {s_high, static_cast<double>(s - s_high), c_high,
                                                       static_cast<double>(c - c_high)};
  }
}

double ScaledSine::exact(long double u) const {
  return static_cast<double>(sinl(u) * amplitude_);
}

}  // namespace respmat
