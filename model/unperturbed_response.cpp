#include "model/unperturbed_response.h"

#include <cmath>
#include <numbers>

namespace respmat {
namespace {

// sin(2 pi t) with t reduced to [-1/2, 1/2] first, as the optics model does, so that
// elements at the same phase give exactly 0.
double sine_of_turns(double t) { return std::sin(2.0 * std::numbers::pi * (t - std::nearbyint(t))); }

}  // namespace

std::vector<double> unperturbed_response(const std::vector<OpticsElement> &at, const std::vector<OpticsElement> &from,
                                         Lattice lattice, double tune, const std::optional<FixedRf> &fixed_rf) {
  std::vector<double> values;
  values.reserve(at.size() * from.size());
  const double ring_factor = 1.0 / (2.0 * std::sin(std::numbers::pi * tune));
  const bool fixed = fixed_rf && lattice == Lattice::ring;
  const double path_factor = fixed ? 1.0 / (fixed_rf->momentum_compaction * fixed_rf->circumference) : 0.0;
  for (const OpticsElement &a : at) {
    const double root = std::sqrt(a.beta), shift = a.dispersion * path_factor;
    for (const OpticsElement &b : from) {
      const double amplitude = root * std::sqrt(b.beta);
      if (lattice == Lattice::ring)
        values.push_back(amplitude * ring_factor * std::cos(std::numbers::pi * (2.0 * std::fabs(a.mu - b.mu) - tune)) -
                         (fixed ? shift * b.dispersion : 0.0));
      else
        values.push_back(a.s > b.s ? amplitude * sine_of_turns(a.mu - b.mu) : 0.0);
    }
  }
  return values;
}

std::vector<double> beta_beating(const std::vector<OpticsElement> &at, const std::vector<OpticsElement> &quadrupoles,
                                 const std::vector<double> &errors, double tune) {
  std::vector<double> beating;
  const double denominator = 2.0 * std::sin(2.0 * std::numbers::pi * tune);
  for (const OpticsElement &a : at) {
    double sum = 0.0;
    for (std::size_t q = 0; q < quadrupoles.size(); ++q)
      sum += errors[q] * quadrupoles[q].beta *
             std::cos(2.0 * std::numbers::pi * (2.0 * std::fabs(a.mu - quadrupoles[q].mu) - tune));
    beating.push_back(-sum / denominator);
  }
  return beating;
}

}  // namespace respmat
