#include "app/model.h"

#include <cmath>
#include <cstdint>

#include "app/scaled_sine.h"

namespace respmat {

double model_entry(double phase_i, double phase_j) {
  const long double d = static_cast<long double>(phase_i) - static_cast<long double>(phase_j);
  const long double t = d * static_cast<long double>(kFullTurn);
  const long double u = t + static_cast<long double>(kPhaseOffset);
  const long double s = sinl(u);
  return static_cast<double>(s * static_cast<long double>(kAmplitude));
}

void model_row(const double *phases, std::int32_t i, double *out) {
  static const ScaledSine scaled_sine(kAmplitude);
  const long double phase_i = phases[i];
  // The steps of model_entry(), with the sine and the final rounding done faster. The
  // evaluations of a row are independent and overlap in the processor.
  for (std::int32_t j = 0; j <= i; ++j) {
    const long double d = phase_i - static_cast<long double>(phases[j]);
    const long double t = d * static_cast<long double>(kFullTurn);
    out[j] = scaled_sine(t + static_cast<long double>(kPhaseOffset));
  }
}

void fill_model(Matrix G, const Matrix phases) {
  const std::int32_t m = matrix_rows(G);
  for (std::int32_t i = m; i-- > 0;)
    for (std::int32_t j = m; j-- > 0;)
      G[i][j] = i < j ? 0.0 : model_entry(phases[i][0], phases[j][0]);
}

}  // namespace respmat

extern "C" void transform_pair(double *a, double *b) {
  *a = static_cast<double>(static_cast<long double>(*a) *
                           static_cast<long double>(respmat::kAmplitude));
  const long double p = static_cast<long double>(*b) * static_cast<long double>(respmat::kPairFactorB);
  *b = static_cast<double>(p - static_cast<long double>(*a) *
                                   static_cast<long double>(respmat::kPairCrossFactor));
}
