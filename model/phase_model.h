// The phase model: its constants, the sine's argument, and the model matrix of m
// monitors with a corrector just upstream of each.
#ifndef RESPMAT_MODEL_PHASE_MODEL_H
#define RESPMAT_MODEL_PHASE_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "model/response_model.h"
#include "model/scaled_sine.h"

namespace respmat {

inline constexpr double kFullTurn = 6.283185307179586;     // 2 pi as a double
inline constexpr double kPhaseOffset = 0.1696;
inline constexpr double kAmplitude = 0.47247222310000003;  // one ulp above 0.4724722231

// The sine's argument for the phases pi and pj (in turns): (pi - pj) x 2 pi + offset,
// each step in extended precision. Every evaluation of the model starts here, so the
// fast writer and the straightforward entry of the tests see the same argument.
[[nodiscard]] inline long double model_argument(long double phase_i, long double phase_j,
                                                double offset = kPhaseOffset) {
  const long double d = phase_i - phase_j;
  const long double t = d * static_cast<long double>(kFullTurn);
  return t + static_cast<long double>(offset);
}

// Entry (i, j) is amplitude x sin(2 pi (pi - pj) + offset) for j <= i, 0 above the
// diagonal: every step in extended precision, the amplitude and offset doubles, only
// the final product rounded to double.
class PhaseModel final : public ResponseModel {
 public:
  // `phases` (at least m values) must outlive the model.
  PhaseModel(const double *phases, std::int32_t m, double amplitude = kAmplitude, double offset = kPhaseOffset);

  [[nodiscard]] std::int32_t rows() const override { return m_; }
  [[nodiscard]] std::int32_t cols() const override { return m_; }
  std::int32_t row(std::int32_t i, double *out) const override;
  [[nodiscard]] std::int32_t reach_limit(std::int32_t i) const override { return i + 1; }
  [[nodiscard]] double bound() const override;
  [[nodiscard]] std::vector<std::string> monitor_names() const override { return index_names(m_); }
  [[nodiscard]] std::vector<std::string> corrector_names() const override { return index_names(m_); }

 private:
  const double *phases_;
  std::int32_t m_;
  double amplitude_;
  double offset_;
  ScaledSine sine_;
};

}  // namespace respmat

#endif
