#include "reference_model.h"

#include <cmath>
#include <cstdint>

#include "model/phase_model.h"

namespace {

constexpr double kPairFactorB = 0.340975131;
constexpr double kPairCrossFactor = 0.633062082;

}  // namespace

extern "C" void transform_pair(double *a, double *b) {
  *a = static_cast<double>(static_cast<long double>(*a) * static_cast<long double>(respmat::kAmplitude));
  const long double p = static_cast<long double>(*b) * static_cast<long double>(kPairFactorB);
  *b = static_cast<double>(p - static_cast<long double>(*a) * static_cast<long double>(kPairCrossFactor));
}

namespace respmat {

double model_entry(double phase_i, double phase_j) {
  const long double s = sinl(model_argument(phase_i, phase_j));
  return static_cast<double>(s * static_cast<long double>(kAmplitude));
}

void fill_model(Matrix G, const Matrix phases) {
  const std::int32_t m = matrix_rows(G);
  for (std::int32_t i = m; i-- > 0;)
    for (std::int32_t j = m; j-- > 0;)
      G[i][j] = i < j ? 0.0 : model_entry(phases[i][0], phases[j][0]);
}

}  // namespace respmat
