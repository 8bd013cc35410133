#include "job/model.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

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

std::vector<std::string> index_names(std::int32_t count) {
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (std::int32_t k = 0; k < count; ++k) names.push_back(std::to_string(k));
  return names;
}

PhaseModel::PhaseModel(const double *phases, std::int32_t m, double amplitude, double offset)
    : phases_(phases), m_(m), amplitude_(amplitude), offset_(offset), sine_(amplitude) {}

std::int32_t PhaseModel::row(std::int32_t i, double *out) const {
  // The steps of model_entry(), with the sine and the final rounding done faster. The
  // evaluations of a row are independent and overlap in the processor.
  for (std::int32_t j = 0; j <= i; ++j) out[j] = sine_(model_argument(phases_[i], phases_[j], offset_));
  return i + 1;
}

double PhaseModel::bound() const { return std::fabs(amplitude_); }

void model_matrix(const ResponseModel &model, double *out, const std::atomic<bool> *stop, std::int32_t *reach) {
  const std::int32_t rows = model.rows();
  const std::int32_t cols = model.cols();
  // Rows are handed out one at a time, since their lengths may differ; each entry
  // depends on its row and column alone, so the values never depend on the number
  // of threads.
  std::atomic<std::int32_t> next_row{0};
  const int threads = std::min(detail::choose_threads(0), 1 + rows / kRowsPerThread);
  detail::run_workers(threads, [&] {
    for (std::int32_t i; (stop == nullptr || !stop->load(std::memory_order_relaxed)) &&
                         (i = next_row.fetch_add(1, std::memory_order_relaxed)) < rows;) {
      double *row = out + static_cast<std::ptrdiff_t>(i) * cols;
      const std::int32_t reached = model.row(i, row);
      std::fill(row + reached, row + cols, 0.0);
      if (reach != nullptr) reach[i] = reached;
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
