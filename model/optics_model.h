// The response of a beam line or ring from its optics: the orbit at each monitor per
// unit kick of each corrector, from the beta functions and phase advances (in
// turns) at both, in double precision.
//   line: G[i][j] = scale sqrt(beta_i beta_j) sin(2 pi (mu_i - mu_j)) when monitor i
//         is downstream of corrector j (greater S; equal S too when the correctors
//         sit at the monitors, where it gives sin 0 = 0), else 0;
//   ring: G[i][j] = scale sqrt(beta_i beta_j) / (2 sin(pi Q)) cos(2 pi |mu_i - mu_j| - pi Q);
//         at a fixed RF frequency, less scale eta_i eta_j / (alpha_c C) (see FixedRf).
#ifndef RESPMAT_MODEL_OPTICS_MODEL_H
#define RESPMAT_MODEL_OPTICS_MODEL_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/response_model.h"

namespace respmat {

enum class Plane { x, y };
enum class Lattice { line, ring };
// Whether a ring's RF frequency follows the orbit (free: the path length may change
// and the momentum stays) or is held (fixed: the path length stays, the momentum moves).
enum class Rf { free, fixed };

[[nodiscard]] const char *plane_name(Plane plane);      // "x", "y"
[[nodiscard]] const char *lattice_name(Lattice lattice);  // "line", "ring"
[[nodiscard]] const char *rf_name(Rf rf);                 // "free", "fixed"
// The plane, lattice or RF a name gives; nothing for any other text.
[[nodiscard]] std::optional<Plane> parse_plane(std::string_view name);
[[nodiscard]] std::optional<Lattice> parse_lattice(std::string_view name);
[[nodiscard]] std::optional<Rf> parse_rf(std::string_view name);

// Where a monitor or corrector sits and its optics in the chosen plane.
struct OpticsElement {
  std::string name;
  double s = 0.0;
  double beta = 0.0;
  double mu = 0.0;  // phase advance, in turns
  // The orbit per unit relative momentum offset delta = dp/p (DX), where it is read.
  double dispersion = 0.0;
};

// A ring at a fixed RF frequency: a horizontal kick theta_j lengthens the closed orbit
// by eta_j theta_j, so the momentum moves by delta = -eta_j theta_j / (alpha_c C) to keep
// the path length, and monitor i sees eta_i delta more.
struct FixedRf {
  double momentum_compaction = 0.0;  // alpha_c
  double circumference = 0.0;        // C
};

class OpticsModel final : public ResponseModel {
 public:
  OpticsModel(std::vector<OpticsElement> monitors, std::vector<OpticsElement> correctors, Lattice lattice,
              double scale, double tune, bool correctors_at_monitors,
              std::optional<FixedRf> fixed_rf = std::nullopt);

  [[nodiscard]] std::int32_t rows() const override { return static_cast<std::int32_t>(monitors_.size()); }
  [[nodiscard]] std::int32_t cols() const override { return static_cast<std::int32_t>(correctors_.size()); }
  std::int32_t row(std::int32_t i, double *out) const override;
  [[nodiscard]] double bound() const override;
  [[nodiscard]] std::vector<std::string> monitor_names() const override;
  [[nodiscard]] std::vector<std::string> corrector_names() const override;

  [[nodiscard]] Lattice lattice() const { return lattice_; }
  [[nodiscard]] const std::vector<OpticsElement> &monitors() const { return monitors_; }
  [[nodiscard]] const std::vector<OpticsElement> &correctors() const { return correctors_; }
  [[nodiscard]] double tune() const { return tune_; }
  [[nodiscard]] const std::optional<FixedRf> &fixed_rf() const { return fixed_rf_; }

  // The same lattice, scale and tune with other monitors and correctors, such as
  // these in another order.
  [[nodiscard]] OpticsModel arranged(std::vector<OpticsElement> monitors, std::vector<OpticsElement> correctors) const;

 private:
  [[nodiscard]] bool downstream(const OpticsElement &monitor, const OpticsElement &corrector) const;

  std::vector<OpticsElement> monitors_;
  std::vector<OpticsElement> correctors_;
  std::vector<double> monitor_roots_;    // sqrt(beta) of each monitor
  std::vector<double> corrector_roots_;  // sqrt(beta) of each corrector
  Lattice lattice_;
  double scale_;
  double tune_;
  bool correctors_at_monitors_;
  std::optional<FixedRf> fixed_rf_;
  double ring_factor_ = 1.0;  // scale / (2 sin(pi Q)) for a ring, scale for a line
  double path_factor_ = 0.0;  // scale / (alpha_c C) at a fixed RF frequency
};

}  // namespace respmat

#endif
