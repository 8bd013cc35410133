#include "job/model.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>

#include "base/worker_threads.h"
#include "job/scaled_sine.h"

namespace respmat {
namespace {

// Below this order a matrix takes less time to compute than threads take to start.
constexpr std::int32_t kRowsPerThread = 256;

}  // namespace

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

void model_matrix(const double *phases, std::int32_t m, double *out) {
  // Rows are handed out one at a time, since their lengths differ; each entry depends
  // on its two phases alone, so the values never depend on the number of threads.
  std::atomic<std::int32_t> next_row{0};
  const int threads = std::min(detail::choose_threads(0), 1 + m / kRowsPerThread);
  detail::run_workers(threads, [&] {
    for (std::int32_t i; (i = next_row.fetch_add(1, std::memory_order_relaxed)) < m;) {
      double *row = out + static_cast<std::ptrdiff_t>(i) * m;
      model_row(phases, i, row);
      std::fill(row + i + 1, row + m, 0.0);
    }
  });
}

}  // namespace respmat

extern "C" void transform_pair(double *a, double *b) {
  *a = static_cast<double>(static_cast<long double>(*a) *
                           static_cast<long double>(respmat::kAmplitude));
  const long double p = static_cast<long double>(*b) * static_cast<long double>(respmat::kPairFactorB);
  *b = static_cast<double>(p - static_cast<long double>(*a) *
                                   static_cast<long double>(respmat::kPairCrossFactor));
}
