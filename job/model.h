// The model response matrix: its constants, the sine's argument and one entry.
#ifndef RESPMAT_JOB_MODEL_H
#define RESPMAT_JOB_MODEL_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "job/response_model.h"
#include "job/scaled_sine.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Scales a by the model's amplitude factor (stored as a double), then sets
 * b = b x 0.340975131 - a x 0.633062082, formed in extended precision and rounded
 * once. `a` and `b` must be distinct. */
void transform_pair(double *a, double *b);

#ifdef __cplusplus
}
#endif

namespace respmat {

inline constexpr double kFullTurn = 6.283185307179586;        // 2 pi as a double
inline constexpr double kPhaseOffset = 0.1696;
inline constexpr double kAmplitude = 0.47247222310000003;     // one ulp above 0.4724722231
inline constexpr double kPairFactorB = 0.340975131;
inline constexpr double kPairCrossFactor = 0.633062082;

// The sine's argument for the phases pi and pj (in turns): (pi - pj) x 2 pi + offset,
// each step in extended precision. Every evaluation of the model starts here, so the
// fast writer and the straightforward entry below see the same argument.
[[nodiscard]] inline long double model_argument(long double phase_i, long double phase_j,
                                                double offset = kPhaseOffset) {
  const long double d = phase_i - phase_j;
  const long double t = d * static_cast<long double>(kFullTurn);
  return t + static_cast<long double>(offset);
}

// Entry (i, j) on or below the diagonal for the phases pi = P[i][0] and pj = P[j][0]:
// every step in extended precision, only the final product rounded to double.
[[nodiscard]] double model_entry(double phase_i, double phase_j);

// Entries 0..i of row i of the model matrix, phases[i] against phases[0..i], into
// out[0..i]: bit-identical to model_entry() and to the values written to er.csv, in
// a fraction of its time. `phases` holds at least i + 1 values. Safe to call from
// several threads at once.
void model_row(const double *phases, std::int32_t i, double *out);

// The model of m monitors with a corrector just upstream of each: entry (i, j) is
// amplitude x sin(2 pi (pi - pj) + offset) for j <= i, 0 above the diagonal, each
// step in extended precision as model_entry() takes it, with the given amplitude and
// offset (doubles) in place of the constants.
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

// The whole rows x cols matrix of `model` into out[0 .. rows*cols), row by row, on up
// to one thread per core: entry for entry what the writers write, whatever the
// number of threads. Once *stop is set, no further row is begun and `out` is left
// part written. With `reach`, reach[i] is the reach of row i.
void model_matrix(const ResponseModel &model, double *out, const std::atomic<bool> *stop = nullptr,
                  std::int32_t *reach = nullptr);

}  // namespace respmat

#endif
