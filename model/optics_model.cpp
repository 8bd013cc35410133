#include "model/optics_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace respmat {
namespace {

// sin(2 pi t) and cos(2 pi t) with t reduced to [-1/2, 1/2] first: phase advances
// run to many turns, and 2 pi t would lose the fraction that matters.
double sine_of_turns(double t) { return std::sin(2.0 * std::numbers::pi * (t - std::nearbyint(t))); }

}  // namespace

const char *plane_name(Plane plane) { return plane == Plane::x ? "x" : "y"; }
const char *lattice_name(Lattice lattice) { return lattice == Lattice::line ? "line" : "ring"; }
const char *rf_name(Rf rf) { return rf == Rf::free ? "free" : "fixed"; }

std::optional<Plane> parse_plane(std::string_view name) {
  for (const Plane plane : {Plane::x, Plane::y})
    if (name == plane_name(plane)) return plane;
  return std::nullopt;
}

std::optional<Lattice> parse_lattice(std::string_view name) {
  for (const Lattice lattice : {Lattice::line, Lattice::ring})
    if (name == lattice_name(lattice)) return lattice;
  return std::nullopt;
}

std::optional<Rf> parse_rf(std::string_view name) {
  for (const Rf rf : {Rf::free, Rf::fixed})
    if (name == rf_name(rf)) return rf;
  return std::nullopt;
}

OpticsModel::OpticsModel(std::vector<OpticsElement> monitors, std::vector<OpticsElement> correctors, Lattice lattice,
                         double scale, double tune, bool correctors_at_monitors, std::optional<FixedRf> fixed_rf)
    : monitors_(std::move(monitors)),
      correctors_(std::move(correctors)),
      lattice_(lattice),
      scale_(scale),
      tune_(tune),
      correctors_at_monitors_(correctors_at_monitors),
      fixed_rf_(fixed_rf) {
  for (const OpticsElement &m : monitors_) monitor_roots_.push_back(std::sqrt(m.beta));
  for (const OpticsElement &c : correctors_) corrector_roots_.push_back(std::sqrt(c.beta));
  ring_factor_ = lattice_ == Lattice::ring ? scale_ / (2.0 * std::sin(std::numbers::pi * tune_)) : scale_;
  if (fixed_rf_) path_factor_ = scale_ / (fixed_rf_->momentum_compaction * fixed_rf_->circumference);
}

bool OpticsModel::downstream(const OpticsElement &monitor, const OpticsElement &corrector) const {
  return monitor.s > corrector.s || (correctors_at_monitors_ && monitor.s == corrector.s);
}

std::int32_t OpticsModel::row(std::int32_t i, double *out) const {
  const OpticsElement &monitor = monitors_[static_cast<std::size_t>(i)];
  const double root = monitor_roots_[static_cast<std::size_t>(i)] * ring_factor_;
  const std::int32_t cols = this->cols();
  if (lattice_ == Lattice::ring) {
    for (std::int32_t j = 0; j < cols; ++j) {
      const auto k = static_cast<std::size_t>(j);
      const double advance = std::fabs(monitor.mu - correctors_[k].mu);
      out[j] = root * corrector_roots_[k] * std::cos(std::numbers::pi * (2.0 * advance - tune_));
    }
    // The fixed-RF term in double, as the betatron part: eta_i scale / (alpha_c C) once
    // per row, then its product with eta_j and the difference, each rounded once. At a
    // free RF frequency the entries above are the ones written.
    if (fixed_rf_) {
      const double shift = monitor.dispersion * path_factor_;
      for (std::int32_t j = 0; j < cols; ++j) out[j] -= shift * correctors_[static_cast<std::size_t>(j)].dispersion;
    }
    return cols;
  }
  std::int32_t reach = 0;
  for (std::int32_t j = 0; j < cols; ++j) {
    const auto k = static_cast<std::size_t>(j);
    if (!downstream(monitor, correctors_[k])) {
      out[j] = 0.0;
      continue;
    }
    out[j] = root * corrector_roots_[k] * sine_of_turns(monitor.mu - correctors_[k].mu);
    reach = j + 1;
  }
  return reach;
}

double OpticsModel::bound() const {
  const auto largest = [](const std::vector<double> &roots) {
    return roots.empty() ? 0.0 : *std::max_element(roots.begin(), roots.end());
  };
  const double betatron = std::fabs(ring_factor_) * largest(monitor_roots_) * largest(corrector_roots_);
  if (!fixed_rf_) return betatron;
  const auto largest_dispersion = [](const std::vector<OpticsElement> &elements) {
    double most = 0.0;
    for (const OpticsElement &e : elements) most = std::max(most, std::fabs(e.dispersion));
    return most;
  };
  return betatron + std::fabs(path_factor_) * largest_dispersion(monitors_) * largest_dispersion(correctors_);
}

OpticsModel OpticsModel::arranged(std::vector<OpticsElement> monitors, std::vector<OpticsElement> correctors) const {
  return {std::move(monitors), std::move(correctors), lattice_, scale_, tune_, correctors_at_monitors_, fixed_rf_};
}

std::vector<std::string> OpticsModel::monitor_names() const {
  std::vector<std::string> names;
  for (const OpticsElement &m : monitors_) names.push_back(m.name);
  return names;
}

std::vector<std::string> OpticsModel::corrector_names() const {
  std::vector<std::string> names;
  for (const OpticsElement &c : correctors_) names.push_back(c.name);
  return names;
}

}  // namespace respmat
