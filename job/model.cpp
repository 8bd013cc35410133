#include "job/model.h"

#include <cmath>

#include "job/scaled_sine.h"

namespace respmat {

double model_entry(double phase_i, double phase_j) {
  const long double s = sinl(model_argument(phase_i, phase_j));
  return static_cast<double>(s * static_cast<long double>(kAmplitude));
}

void model_row(const double *phases, std::int32_t i, double *out) {
  static const ScaledSine scaled_sine(kAmplitude);
  // The steps of model_entry(), with the sine and the final rounding done faster. The
  // evaluations of a row are independent and overlap in the processor.
  for (std::int32_t j = 0; j <= i; ++j) out[j] = scaled_sine(model_argument(phases[i], phases[j]));
}

}  // namespace respmat

extern "C" void transform_pair(double *a, double *b) {
  *a = static_cast<double>(static_cast<long double>(*a) *
                           static_cast<long double>(respmat::kAmplitude));
  const long double p = static_cast<long double>(*b) * static_cast<long double>(respmat::kPairFactorB);
  *b = static_cast<double>(p - static_cast<long double>(*a) *
                                   static_cast<long double>(respmat::kPairCrossFactor));
}
