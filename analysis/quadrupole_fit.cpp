#include "analysis/quadrupole_fit.h"

#include <cblas.h>
#include <ceres/ceres.h>
#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <utility>

#include "analysis/quiet_solver_log.h"

namespace respmat::analysis {
namespace {

// Entries of the product W[q, (j, a)] = M[q, j] T[q, a] formed at a time: a few MiB
// per block of correctors, however large the lattice.
constexpr std::size_t kProductValues = std::size_t{1} << 20;

// Where each plane's calibrations sit in the parameter vector, after the errors.
struct Layout {
  std::int32_t quadrupoles = 0;
  std::vector<std::int32_t> gains, strengths;  // first index of each plane's, when fitted
  std::int32_t size = 0;
};

Layout layout_of(const std::vector<QuadrupoleMeasurement> &planes, std::int32_t quadrupoles, bool calibrations) {
  Layout layout{quadrupoles, {}, {}, quadrupoles};
  if (!calibrations) return layout;
  for (const QuadrupoleMeasurement &plane : planes) {
    layout.gains.push_back(layout.size);
    layout.strengths.push_back(layout.size + plane.measured.rows);
    layout.size += plane.measured.rows + plane.measured.cols;
  }
  return layout;
}

// The residuals w (model - measured) of every entry of every plane, then alpha dK_q,
// at parameters p, and their derivatives along the columns of a direction matrix T
// (parameters x directions).
class Residuals {
 public:
  // `identity`: the direction matrices given are the identity.
  Residuals(const std::vector<QuadrupoleMeasurement> &planes, Layout layout, double tikhonov, bool identity)
      : planes_(planes), layout_(std::move(layout)), tikhonov_(tikhonov), identity_(identity) {
    for (const QuadrupoleMeasurement &plane : planes_) {
      count_ += plane.measured.rows * plane.measured.cols;
      uniform_ = uniform_ && std::all_of(plane.weights.begin(), plane.weights.end(),
                                         [&](double w) { return w == plane.weights.front(); });
    }
    data_ = count_;
    if (tikhonov_ > 0.0) count_ += layout_.quadrupoles;
  }

  // The residuals, JᵀJ (k x k, both triangles) and Jᵀr along the directions `t`.
  // With the errors themselves as the directions, no calibrations and one weight per
  // plane, J[(i, j), q] = -w s K L[i, q] M[q, j] makes JᵀJ the elementwise product
  // w² K² (LᵀL) ∘ (M Mᵀ) and Jᵀr a product of the small factors: the Jacobian itself
  // is never formed. Otherwise it is, in storage kept for the next call.
  bool normal_equations(std::span<const double> p, const Dense &t, double *residuals, Dense &normal,
                        std::vector<double> &gradient) const {
    const std::int32_t n = layout_.quadrupoles, k = t.cols, rows = count_;
    normal = Dense(k, k);
    gradient.assign(static_cast<std::size_t>(k), 0.0);
    if (!(identity_ && uniform_)) {
      jacobian_.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(k));
      if (!evaluate(p, t, residuals, jacobian_.data())) return false;
      cblas_dsyrk(CblasRowMajor, CblasUpper, CblasTrans, k, rows, 1.0, jacobian_.data(), k, 0.0, normal.values.data(), k);
      cblas_dgemv(CblasRowMajor, CblasTrans, rows, k, 1.0, jacobian_.data(), k, residuals, 1, 0.0, gradient.data(), 1);
    } else {
      if (!evaluate(p, t, residuals, nullptr)) return false;
      std::int32_t offset = 0;
      for (const QuadrupoleMeasurement &plane : planes_) {
        const std::int32_t m = plane.measured.rows, c = plane.measured.cols;
        const std::optional<PerturbedResponse> response = perturbed_response(plane.model, p.first(static_cast<std::size_t>(n)));
        if (!response) return false;
        const double w = plane.weights.front(), factor = -plane.model.sign * plane.model.scale * w;
        Dense left(n, n), right(n, n), mixed(m, n);
        cblas_dsyrk(CblasRowMajor, CblasUpper, CblasTrans, n, m, 1.0, response->left.values.data(), n, 0.0,
                    left.values.data(), n);
        cblas_dsyrk(CblasRowMajor, CblasUpper, CblasNoTrans, n, c, 1.0, response->right.values.data(), c, 0.0,
                    right.values.data(), n);
        // mixed = r Mᵀ, so that (Jᵀr)_q = factor sum_i L[i, q] mixed[i, q].
        cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, m, n, c, 1.0, residuals + offset, c,
                    response->right.values.data(), c, 0.0, mixed.values.data(), n);
        for (std::int32_t q = 0; q < n; ++q) {
          for (std::int32_t r = q; r < n; ++r) normal.at(q, r) += factor * factor * left.at(q, r) * right.at(q, r);
          double sum = 0.0;
          for (std::int32_t i = 0; i < m; ++i) sum += response->left.at(i, q) * mixed.at(i, q);
          gradient[static_cast<std::size_t>(q)] += factor * sum;
        }
        offset += m * c;
      }
      if (tikhonov_ > 0.0)
        for (std::int32_t q = 0; q < n; ++q) {
          normal.at(q, q) += tikhonov_ * tikhonov_;
          gradient[static_cast<std::size_t>(q)] += tikhonov_ * residuals[offset + q];
        }
    }
    for (std::int32_t a = 0; a < k; ++a)
      for (std::int32_t b = 0; b < a; ++b) normal.at(a, b) = normal.at(b, a);
    return true;
  }

  [[nodiscard]] std::int32_t count() const { return count_; }
  [[nodiscard]] std::int32_t data() const { return data_; }

  // False when the errors make the response singular.
  bool evaluate(std::span<const double> p, const Dense &t, double *residuals, double *jacobian,
                std::vector<Dense> *models = nullptr) const {
    const std::int32_t n = layout_.quadrupoles, k = t.cols;
    std::int32_t offset = 0;
    for (std::size_t pl = 0; pl < planes_.size(); ++pl) {
      const QuadrupoleMeasurement &plane = planes_[pl];
      const std::int32_t m = plane.measured.rows, c = plane.measured.cols;
      const std::optional<PerturbedResponse> response = perturbed_response(plane.model, p.first(static_cast<std::size_t>(n)));
      if (!response) return false;
      const bool calibrated = !layout_.gains.empty();
      const auto gain = [&](std::int32_t i) { return calibrated ? p[static_cast<std::size_t>(layout_.gains[pl] + i)] : 1.0; };
      const auto strength = [&](std::int32_t j) {
        return calibrated ? p[static_cast<std::size_t>(layout_.strengths[pl] + j)] : 1.0;
      };
      if (models != nullptr) models->push_back(Dense::unset(m, c));
      for (std::int32_t i = 0; i < m; ++i)
        for (std::int32_t j = 0; j < c; ++j) {
          const double model = gain(i) * strength(j) * response->response.at(i, j);
          if (models != nullptr) models->back().at(i, j) = model;
          const std::size_t e = static_cast<std::size_t>(i) * static_cast<std::size_t>(c) + static_cast<std::size_t>(j);
          residuals[offset + static_cast<std::int32_t>(e)] = plane.weights[e] * (model - plane.measured.values[e]);
        }
      if (jacobian != nullptr) {
        double *out = jacobian + static_cast<std::size_t>(offset) * static_cast<std::size_t>(k);
        if (identity_)
          for (std::int32_t i = 0; i < m; ++i)
            for (std::int32_t j = 0; j < c; ++j)
              for (std::int32_t q = 0; q < n; ++q)
                out[(static_cast<std::size_t>(i) * static_cast<std::size_t>(c) + static_cast<std::size_t>(j)) *
                        static_cast<std::size_t>(k) +
                    static_cast<std::size_t>(q)] = response->left.at(i, q) * response->right.at(q, j);
        else
          errors_part(*response, t, m, c, out);
        const double factor = -plane.model.sign * plane.model.scale;
        for (std::int32_t i = 0; i < m; ++i)
          for (std::int32_t j = 0; j < c; ++j) {
            const std::size_t e = static_cast<std::size_t>(i) * static_cast<std::size_t>(c) + static_cast<std::size_t>(j);
            const double w = plane.weights[e], r = response->response.values[e];
            double *row = out + e * static_cast<std::size_t>(k);
            for (std::int32_t a = 0; a < k; ++a) {
              double value = gain(i) * strength(j) * factor * row[a];
              if (calibrated)
                value += strength(j) * r * t.at(layout_.gains[pl] + i, a) + gain(i) * r * t.at(layout_.strengths[pl] + j, a);
              row[a] = w * value;
            }
          }
      }
      offset += m * c;
    }
    if (tikhonov_ > 0.0)
      for (std::int32_t q = 0; q < n; ++q) {
        residuals[offset + q] = tikhonov_ * p[static_cast<std::size_t>(q)];
        if (jacobian != nullptr)
          for (std::int32_t a = 0; a < k; ++a)
            jacobian[static_cast<std::size_t>(offset + q) * static_cast<std::size_t>(k) + static_cast<std::size_t>(a)] =
                tikhonov_ * t.at(q, a);
      }
    return true;
  }

 private:
  // out[(i, j), a] = sum_q L[i, q] M[q, j] T[q, a], a block of correctors at a time:
  // each block one matrix product written straight into its rows.
  static void errors_part(const PerturbedResponse &response, const Dense &t, std::int32_t m, std::int32_t c,
                          double *out) {
    const std::int32_t n = response.left.cols, k = t.cols;
    const auto block = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kProductValues / std::max<std::size_t>(1, static_cast<std::size_t>(n) * static_cast<std::size_t>(k)), 1,
                                static_cast<std::size_t>(std::max(c, 1))));
    Values product(static_cast<std::size_t>(n) * static_cast<std::size_t>(block) * static_cast<std::size_t>(k));
    for (std::int32_t j0 = 0; j0 < c; j0 += block) {
      const std::int32_t width = std::min(block, c - j0);
      for (std::int32_t q = 0; q < n; ++q)
        for (std::int32_t j = 0; j < width; ++j)
          for (std::int32_t a = 0; a < k; ++a)
            product[(static_cast<std::size_t>(q) * static_cast<std::size_t>(width) + static_cast<std::size_t>(j)) *
                        static_cast<std::size_t>(k) +
                    static_cast<std::size_t>(a)] = response.right.at(q, j0 + j) * t.at(q, a);
      cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, width * k, n, 1.0, response.left.values.data(), n,
                  product.data(), width * k, 0.0, out + static_cast<std::size_t>(j0) * static_cast<std::size_t>(k),
                  c * k);
    }
  }

  const std::vector<QuadrupoleMeasurement> &planes_;
  Layout layout_;
  double tikhonov_;
  bool identity_;
  bool uniform_ = true;  // one weight for every entry of each plane
  std::int32_t count_ = 0, data_ = 0;
  mutable Values jacobian_;  // the Jacobian, when it must be formed
};

// The residuals along the kept directions, p = p0 + T a from a = 0, as Ceres sees
// them: compressed, at each point, to k + 1 values rho with |rho| = |r| whose
// Jacobian R (R P' = the pivoted Cholesky factor of JᵀJ) gives RᵀR = JᵀJ and
// Rᵀrho = Jᵀr. The Levenberg–Marquardt model |r + J d|² = |rho + R d|² is then the
// same, and Ceres' linear algebra is on k + 1 rows instead of every entry of the
// measurement; JᵀJ is what its normal equations would form anyway.
class DirectionCost final : public ceres::CostFunction {
 public:
  DirectionCost(const Residuals &residuals, const Dense &t, const std::vector<double> &start)
      : residuals_(residuals), t_(t), start_(start), values_(static_cast<std::size_t>(residuals.count())) {
    set_num_residuals(t.cols + 1);
    mutable_parameter_block_sizes()->push_back(t.cols);
  }

  bool Evaluate(double const *const *parameters, double *residuals, double **jacobians) const override {
    const std::int32_t k = t_.cols, rows = residuals_.count();
    const bool derivatives = jacobians != nullptr && jacobians[0] != nullptr;
    Dense normal;
    std::vector<double> gradient;
    const std::vector<double> p = at(parameters[0]);
    if (derivatives ? !residuals_.normal_equations(p, t_, values_.data(), normal, gradient)
                    : !residuals_.evaluate(p, t_, values_.data(), nullptr))
      return false;
    std::fill_n(residuals, k + 1, 0.0);
    const double norm = cblas_dnrm2(rows, values_.data(), 1);
    if (!derivatives) {
      residuals[0] = norm;
      return true;
    }
    std::vector<lapack_int> pivots(static_cast<std::size_t>(k));
    lapack_int rank = 0;
    if (LAPACKE_dpstrf(LAPACK_ROW_MAJOR, 'U', k, normal.values.data(), k, pivots.data(), &rank, -1.0) < 0) return false;
    double *jacobian = jacobians[0];
    std::fill_n(jacobian, static_cast<std::size_t>(k + 1) * static_cast<std::size_t>(k), 0.0);
    for (lapack_int a = 0; a < rank; ++a) {
      residuals[a] = gradient[static_cast<std::size_t>(pivots[static_cast<std::size_t>(a)] - 1)];
      for (lapack_int b = a; b < k; ++b)
        jacobian[static_cast<std::size_t>(a) * static_cast<std::size_t>(k) + static_cast<std::size_t>(pivots[static_cast<std::size_t>(b)] - 1)] =
            normal.at(a, b);
    }
    if (rank > 0)
      cblas_dtrsv(CblasRowMajor, CblasUpper, CblasTrans, CblasNonUnit, rank, normal.values.data(), k, residuals, 1);
    const double rest = cblas_dnrm2(rank, residuals, 1);
    residuals[k] = std::sqrt(std::max(0.0, (norm - rest) * (norm + rest)));
    return true;
  }

  [[nodiscard]] std::vector<double> at(const double *a) const {
    std::vector<double> p = start_;
    cblas_dgemv(CblasRowMajor, CblasNoTrans, t_.rows, t_.cols, 1.0, t_.values.data(), t_.cols, a, 1, 1.0, p.data(), 1);
    return p;
  }

 private:
  const Residuals &residuals_;
  const Dense &t_;
  const std::vector<double> &start_;
  // Ceres evaluates the one residual block on one thread at a time: the full
  // residuals are kept between evaluations rather than allocated anew.
  mutable std::vector<double> values_;
};

// The quadrupoles some used entry of some plane depends on at dK = 0: its column of
// the Jacobian is not exactly zero. With other errors it stays zero, since no path
// from a corrector through the quadrupole reaches a monitor.
std::vector<bool> observable(const std::vector<QuadrupoleMeasurement> &planes, std::int32_t n) {
  std::vector<bool> seen(static_cast<std::size_t>(n), false);
  for (const QuadrupoleMeasurement &plane : planes) {
    const std::int32_t m = plane.measured.rows, c = plane.measured.cols;
    for (std::int32_t q = 0; q < n; ++q)
      for (std::int32_t i = 0; i < m && !seen[static_cast<std::size_t>(q)]; ++i) {
        if (plane.model.mq.at(i, q) == 0.0) continue;
        for (std::int32_t j = 0; j < c; ++j)
          if (plane.weights[static_cast<std::size_t>(i * c + j)] != 0.0 && plane.model.qc.at(q, j) != 0.0) {
            seen[static_cast<std::size_t>(q)] = true;
            break;
          }
      }
  }
  return seen;
}

// The planes with only the quadrupoles `kept`.
std::vector<QuadrupoleMeasurement> with_quadrupoles(const std::vector<QuadrupoleMeasurement> &planes,
                                                    const std::vector<std::int32_t> &kept) {
  const auto n = static_cast<std::int32_t>(kept.size());
  std::vector<QuadrupoleMeasurement> reduced;
  for (const QuadrupoleMeasurement &plane : planes) {
    QuadrupoleMeasurement r{{plane.model.mc, Dense(plane.model.mq.rows, n), Dense(n, n), Dense(n, plane.model.qc.cols),
                             plane.model.sign, plane.model.scale},
                            plane.measured,
                            plane.weights};
    for (std::int32_t a = 0; a < n; ++a) {
      const std::int32_t qa = kept[static_cast<std::size_t>(a)];
      for (std::int32_t i = 0; i < r.model.mq.rows; ++i) r.model.mq.at(i, a) = plane.model.mq.at(i, qa);
      for (std::int32_t j = 0; j < r.model.qc.cols; ++j) r.model.qc.at(a, j) = plane.model.qc.at(qa, j);
      for (std::int32_t b = 0; b < n; ++b) r.model.qq.at(a, b) = plane.model.qq.at(qa, kept[static_cast<std::size_t>(b)]);
    }
    reduced.push_back(std::move(r));
  }
  return reduced;
}

// An orthonormal basis (parameters x free directions) of the directions that do not
// merely move a plane's gauge (every gain up, every strength down): the identity
// without calibrations.
std::optional<Dense> free_directions(const std::vector<QuadrupoleMeasurement> &planes, const Layout &layout) {
  const std::int32_t size = layout.size, gauges = static_cast<std::int32_t>(layout.gains.size());
  Dense basis(size, size);  // column-major for LAPACK: the gauges first
  for (std::int32_t g = 0; g < gauges; ++g) {
    const auto pl = static_cast<std::size_t>(g);
    for (std::int32_t i = 0; i < planes[pl].measured.rows; ++i) basis.values[static_cast<std::size_t>(g * size + layout.gains[pl] + i)] = 1.0;
    for (std::int32_t j = 0; j < planes[pl].measured.cols; ++j)
      basis.values[static_cast<std::size_t>(g * size + layout.strengths[pl] + j)] = -1.0;
  }
  if (gauges == 0) {
    for (std::int32_t q = 0; q < size; ++q) basis.at(q, q) = 1.0;
    return basis;
  }
  std::vector<double> tau(static_cast<std::size_t>(gauges));
  if (LAPACKE_dgeqrf(LAPACK_COL_MAJOR, size, gauges, basis.values.data(), size, tau.data()) != 0 ||
      LAPACKE_dorgqr(LAPACK_COL_MAJOR, size, size, gauges, basis.values.data(), size, tau.data()) != 0)
    return std::nullopt;
  Dense free = Dense::unset(size, size - gauges);
  for (std::int32_t r = 0; r < size; ++r)
    for (std::int32_t col = gauges; col < size; ++col) free.at(r, col - gauges) = basis.values[static_cast<std::size_t>(col * size + r)];
  return free;
}

// Whether the cut keeps every direction beyond doubt, seen from the eigenvalues of
// JᵀJ: a product of the whole Jacobian at the speed of matrix products, where its
// decomposition would work row by row. The eigenvalues give the singular values to
// about sqrt(eps) s_1, so only a spectrum whose smallest value is far above that, and
// above the cut, is taken from them; any other goes to the decomposition.
bool every_direction_clearly_kept(Dense normal, double tolerance, std::optional<std::int32_t> count) {
  constexpr double kResolved = 1e-6;  // s_k / s_1 the eigenvalues still give to a few digits
  const std::int32_t cols = normal.cols;
  if (count && *count < cols) return false;
  std::vector<double> eigenvalues(static_cast<std::size_t>(cols));
  if (LAPACKE_dsyev(LAPACK_ROW_MAJOR, 'N', 'U', cols, normal.values.data(), cols, eigenvalues.data()) != 0)
    return false;
  const double largest = std::sqrt(std::max(0.0, eigenvalues.back()));
  const double smallest = std::sqrt(std::max(0.0, eigenvalues.front()));
  return smallest >= kResolved * largest && (count || tolerance * largest < 0.5 * smallest);
}

// The directions the cut keeps, as columns of the free directions' coordinates: the
// right singular vectors of the starting Jacobian along the free directions (all of
// them, as the identity, when the normal matrix shows every one kept).
std::optional<Dense> kept_directions(const Residuals &data, const std::vector<double> &start, const Dense &free,
                                     std::size_t points, const QuadrupoleFitSettings &settings, std::string &reason) {
  const std::int32_t cols = free.cols;
  const double tolerance =
      settings.rcond ? *settings.rcond
                     : static_cast<double>(std::max<std::size_t>(points, static_cast<std::size_t>(cols))) *
                           std::numeric_limits<double>::epsilon();
  std::vector<double> residuals(static_cast<std::size_t>(data.count())), gradient;
  Dense normal;
  if (static_cast<std::size_t>(data.count()) >= static_cast<std::size_t>(cols) &&
      data.normal_equations(start, free, residuals.data(), normal, gradient) &&
      every_direction_clearly_kept(std::move(normal), tolerance, settings.singular_values)) {
    Dense identity(cols, cols);
    for (std::int32_t c = 0; c < cols; ++c) identity.at(c, c) = 1.0;
    return identity;
  }
  Dense jacobian = Dense::unset(data.count(), cols);
  if (!data.evaluate(start, free, residuals.data(), jacobian.values.data())) {
    reason = "gives a singular model";
    return std::nullopt;
  }
  const std::int32_t rows = jacobian.rows, k = std::min(rows, cols);
  // Row-major J is column-major Jᵀ, whose left singular vectors are J's right ones.
  // A tall Jacobian is reduced first to its triangle L (Jᵀ = L Q), whose left singular
  // vectors and values are Jᵀ's: the decomposition then works on a small matrix.
  lapack_int width = rows;
  std::vector<double> tau(static_cast<std::size_t>(k));
  if (rows > cols) {
    if (LAPACKE_dgelqf(LAPACK_COL_MAJOR, cols, rows, jacobian.values.data(), cols, tau.data()) != 0) {
      reason = "gives a Jacobian that cannot be reduced";
      return std::nullopt;
    }
    for (std::int32_t c = 0; c < cols; ++c)
      for (std::int32_t r = 0; r < c; ++r) jacobian.values[static_cast<std::size_t>(c * cols + r)] = 0.0;
    width = cols;
  }
  Dense v(cols, cols);
  std::vector<double> s(static_cast<std::size_t>(k)), superb(static_cast<std::size_t>(std::max(k - 1, 1)));
  if (LAPACKE_dgesvd(LAPACK_COL_MAJOR, 'S', 'N', cols, width, jacobian.values.data(), cols, s.data(), v.values.data(),
                     cols, nullptr, 1, superb.data()) != 0) {
    reason = "gives a Jacobian whose singular values do not converge";
    return std::nullopt;
  }
  std::int32_t kept = 0;
  while (kept < k && s[static_cast<std::size_t>(kept)] > 0.0 &&
         (settings.singular_values ? kept < *settings.singular_values : s[static_cast<std::size_t>(kept)] > tolerance * s[0]))
    ++kept;
  if (kept == 0) {
    reason = "leaves no direction of the fit above the singular-value cut";
    return std::nullopt;
  }
  Dense directions = Dense::unset(cols, kept);  // v is column-major: v.values[col * cols + r]
  for (std::int32_t r = 0; r < cols; ++r)
    for (std::int32_t a = 0; a < kept; ++a) directions.at(r, a) = v.values[static_cast<std::size_t>(a * cols + r)];
  return directions;
}

Dense product(const Dense &a, const Dense &b, CBLAS_TRANSPOSE b_transposed = CblasNoTrans) {
  const std::int32_t cols = b_transposed == CblasNoTrans ? b.cols : b.rows;
  Dense c(a.rows, cols);
  if (a.rows > 0 && cols > 0 && a.cols > 0)
    cblas_dgemm(CblasRowMajor, CblasNoTrans, b_transposed, a.rows, cols, a.cols, 1.0, a.values.data(), a.cols,
                b.values.data(), b.cols, 0.0, c.values.data(), cols);
  return c;
}

// (JᵀJ)⁻¹ of the directions' coordinates; nothing when it is singular.
// (JᵀJ)⁻¹ from JᵀJ; nothing when it is singular.
std::optional<Dense> inverse_normal_matrix(Dense normal) {
  const std::int32_t k = normal.rows;
  if (LAPACKE_dpotrf(LAPACK_ROW_MAJOR, 'U', k, normal.values.data(), k) != 0 ||
      LAPACKE_dpotri(LAPACK_ROW_MAJOR, 'U', k, normal.values.data(), k) != 0)
    return std::nullopt;
  for (std::int32_t a = 0; a < k; ++a)
    for (std::int32_t b = 0; b < a; ++b) normal.at(a, b) = normal.at(b, a);
  return normal;
}

// Carries the parameters and their covariance to each plane's gauge of sum log g = 0:
// g' = g e^-u, c' = c e^u with u the mean log gain.
void fix_gauges(const std::vector<QuadrupoleMeasurement> &planes, const Layout &layout, std::vector<double> &p,
                Dense &covariance) {
  Dense change(layout.size, layout.size);
  for (std::int32_t r = 0; r < layout.size; ++r) change.at(r, r) = 1.0;
  for (std::size_t pl = 0; pl < layout.gains.size(); ++pl) {
    const std::int32_t m = planes[pl].measured.rows, c = planes[pl].measured.cols;
    const std::int32_t g0 = layout.gains[pl], c0 = layout.strengths[pl];
    double mean = 0.0;
    for (std::int32_t i = 0; i < m; ++i) mean += std::log(p[static_cast<std::size_t>(g0 + i)]) / m;
    const double down = std::exp(-mean), up = std::exp(mean);
    for (std::int32_t i = 0; i < m; ++i)
      for (std::int32_t k = 0; k < m; ++k)
        change.at(g0 + i, g0 + k) = down * ((i == k ? 1.0 : 0.0) - p[static_cast<std::size_t>(g0 + i)] /
                                                                        (m * p[static_cast<std::size_t>(g0 + k)]));
    for (std::int32_t j = 0; j < c; ++j) {
      change.at(c0 + j, c0 + j) = up;
      for (std::int32_t k = 0; k < m; ++k)
        change.at(c0 + j, g0 + k) = p[static_cast<std::size_t>(c0 + j)] * up / (m * p[static_cast<std::size_t>(g0 + k)]);
    }
    for (std::int32_t i = 0; i < m; ++i) p[static_cast<std::size_t>(g0 + i)] *= down;
    for (std::int32_t j = 0; j < c; ++j) p[static_cast<std::size_t>(c0 + j)] *= up;
  }
  covariance = product(product(change, covariance), change, CblasTrans);
}

double rms(const std::vector<QuadrupoleMeasurement> &planes, const std::vector<Dense> &models, std::size_t points) {
  double sum = 0.0;
  for (std::size_t pl = 0; pl < planes.size(); ++pl)
    for (std::size_t e = 0; e < planes[pl].measured.values.size(); ++e)
      if (planes[pl].weights[e] != 0.0) {
        const double d = planes[pl].measured.values[e] - models[pl].values[e];
        sum += d * d;
      }
  return std::sqrt(sum / static_cast<double>(points));
}

// Levenberg–Marquardt from a = 0; the parameters it ends at. The problem, and with
// it the cost's copy of the Jacobian, is gone when this returns.
std::optional<std::vector<double>> solve(const Residuals &residual, const Dense &directions,
                                         const std::vector<double> &start, int &iterations, std::string &reason) {
  std::vector<double> a(static_cast<std::size_t>(directions.cols), 0.0);
  auto cost = std::make_unique<DirectionCost>(residual, directions, start);
  const DirectionCost &direction_cost = *cost;
  ceres::Problem problem;
  problem.AddResidualBlock(cost.release(), nullptr, a.data());  // the problem owns it
  ceres::Solver::Options options;
  options.linear_solver_type = ceres::DENSE_QR;
  options.dense_linear_algebra_library_type = ceres::LAPACK;
  // The errors are small beside the design strengths, so the problem is nearly
  // linear: a trust region as large as Ceres allows lets the first steps be the
  // Gauss-Newton steps, and each step costs a product JᵀJ of the whole Jacobian.
  options.initial_trust_region_radius = options.max_trust_region_radius;
  options.max_num_iterations = 200;
  options.function_tolerance = 1e-15;
  options.gradient_tolerance = 1e-15;
  options.parameter_tolerance = 1e-14;
  options.num_threads = 2;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  iterations = static_cast<int>(summary.iterations.size());
  if (summary.termination_type != ceres::CONVERGENCE) {
    reason = "does not converge: " + summary.message;
    return std::nullopt;
  }
  return direction_cost.at(a.data());
}

}  // namespace

std::optional<QuadrupoleFit> fit_quadrupoles(const std::vector<QuadrupoleMeasurement> &all_planes,
                                             const QuadrupoleFitSettings &settings, std::string &reason) {
  const QuietSolverLog quiet;
  QuadrupoleFit fit;
  const std::int32_t quadrupoles = all_planes.front().model.qq.rows;
  const std::vector<bool> seen = observable(all_planes, quadrupoles);
  for (std::int32_t q = 0; q < quadrupoles; ++q) (seen[static_cast<std::size_t>(q)] ? fit.fitted : fit.unobservable).push_back(q);
  if (fit.fitted.empty()) {
    reason = "depends on none of the quadrupoles: no monitor sees one at a phase advance from a corrector";
    return std::nullopt;
  }
  const std::vector<QuadrupoleMeasurement> planes = with_quadrupoles(all_planes, fit.fitted);
  for (const QuadrupoleMeasurement &plane : planes)
    for (const double w : plane.weights) fit.points += w != 0.0 ? 1 : 0;
  const Layout layout = layout_of(planes, static_cast<std::int32_t>(fit.fitted.size()), settings.calibrations);
  std::vector<double> start(static_cast<std::size_t>(layout.size), 1.0);
  std::fill_n(start.begin(), layout.quadrupoles, 0.0);

  const std::optional<Dense> free = free_directions(planes, layout);
  if (!free) {
    reason = "gives calibrations whose gauge cannot be separated";
    return std::nullopt;
  }
  const Residuals data(planes, layout, 0.0, !settings.calibrations);
  std::vector<double> residuals(static_cast<std::size_t>(data.count()));
  std::vector<Dense> models;
  if (!data.evaluate(start, *free, residuals.data(), nullptr, &models)) {
    reason = "gives a singular model";
    return std::nullopt;
  }
  fit.rms_before = rms(planes, models, fit.points);
  const std::optional<Dense> kept = kept_directions(data, start, *free, fit.points, settings, reason);
  if (!kept) return std::nullopt;
  fit.kept = kept->cols;
  if (fit.points <= static_cast<std::size_t>(fit.kept)) {
    reason = "has " + std::to_string(fit.points) + " points, too few to fit " + std::to_string(fit.kept) + " directions";
    return std::nullopt;
  }
  // Every free direction kept: the free directions themselves span the same space,
  // and without calibrations they are the errors themselves, whose derivatives need
  // no product with the directions.
  const bool every_direction = kept->cols == free->cols;
  const Dense directions = every_direction ? *free : product(*free, *kept);

  const Residuals residual(planes, layout, settings.tikhonov, every_direction && !settings.calibrations);
  std::optional<std::vector<double>> solved = solve(residual, directions, start, fit.iterations, reason);
  if (!solved) return std::nullopt;
  std::vector<double> p = std::move(*solved);
  residuals.assign(static_cast<std::size_t>(residual.count()), 0.0);
  models.clear();
  Dense normal;
  std::vector<double> gradient;
  if (!residual.evaluate(p, directions, residuals.data(), nullptr, &models) ||
      !residual.normal_equations(p, directions, residuals.data(), normal, gradient)) {
    reason = "gives a singular model at the fitted errors";
    return std::nullopt;
  }
  double chi2 = 0.0;
  for (std::int32_t r = 0; r < residual.data(); ++r) chi2 += residuals[static_cast<std::size_t>(r)] * residuals[static_cast<std::size_t>(r)];
  fit.chi2_reduced = chi2 / static_cast<double>(fit.points - static_cast<std::size_t>(fit.kept));
  fit.rms_after = rms(planes, models, fit.points);
  fit.models = std::move(models);
  std::optional<Dense> inverse = inverse_normal_matrix(std::move(normal));
  if (!inverse) {
    reason = "gives a singular problem: the kept directions are not told apart";
    return std::nullopt;
  }
  if (!settings.weighted)
    for (double &v : inverse->values) v *= fit.chi2_reduced;
  fit.covariance = product(product(directions, *inverse), directions, CblasTrans);
  if (settings.calibrations) fix_gauges(planes, layout, p, fit.covariance);

  const auto error = [&](std::int32_t r) { return std::sqrt(std::max(0.0, fit.covariance.at(r, r))); };
  for (std::int32_t q = 0; q < layout.quadrupoles; ++q) {
    fit.errors.push_back(p[static_cast<std::size_t>(q)]);
    fit.error_errors.push_back(error(q));
  }
  for (std::size_t pl = 0; pl < layout.gains.size(); ++pl) {
    PlaneCalibrations &c = fit.calibrations.emplace_back();
    for (std::int32_t i = 0; i < planes[pl].measured.rows; ++i) {
      c.gains.push_back(p[static_cast<std::size_t>(layout.gains[pl] + i)]);
      c.gain_errors.push_back(error(layout.gains[pl] + i));
    }
    for (std::int32_t j = 0; j < planes[pl].measured.cols; ++j) {
      c.strengths.push_back(p[static_cast<std::size_t>(layout.strengths[pl] + j)]);
      c.strength_errors.push_back(error(layout.strengths[pl] + j));
    }
  }
  return fit;
}

}  // namespace respmat::analysis
