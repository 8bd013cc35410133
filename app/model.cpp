#include "app/model.h"

#include <cmath>

namespace respmat {

double model_entry(double phase_i, double phase_j) {
  const long double s = sinl(model_argument(phase_i, phase_j));
  return static_cast<double>(s * static_cast<long double>(kAmplitude));
}

}  // namespace respmat

extern "C" void transform_pair(double *a, double *b) {
  *a = static_cast<double>(static_cast<long double>(*a) *
                           static_cast<long double>(respmat::kAmplitude));
  const long double p = static_cast<long double>(*b) * static_cast<long double>(respmat::kPairFactorB);
  *b = static_cast<double>(p - static_cast<long double>(*a) *
                                   static_cast<long double>(respmat::kPairCrossFactor));
}
