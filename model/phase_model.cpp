#include "model/phase_model.h"

#include <cmath>

namespace respmat {

PhaseModel::PhaseModel(const double *phases, std::int32_t m, double amplitude, double offset)
    : phases_(phases), m_(m), amplitude_(amplitude), offset_(offset), sine_(amplitude) {}

std::int32_t PhaseModel::row(std::int32_t i, double *out) const {
  // The steps of the straightforward entry, with the sine and the final rounding done
  // faster. The evaluations of a row are independent and overlap in the processor.
  for (std::int32_t j = 0; j <= i; ++j) out[j] = sine_(model_argument(phases_[i], phases_[j], offset_));
  return i + 1;
}

double PhaseModel::bound() const { return std::fabs(amplitude_); }

}  // namespace respmat
