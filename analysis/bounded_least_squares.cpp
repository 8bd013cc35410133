#include "analysis/bounded_least_squares.h"

#include <cblas.h>
#include <fcntl.h>
#include <lapacke.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "base/stop_request.h"

// L-BFGS-B 3.0, which ships no header: Fortran, so every argument by address, and
// gfortran passes the lengths of the two character arguments after the others.
// gfortran's FLUSH intrinsic: writes out what a Fortran unit holds.
extern "C" void _gfortran_flush_i4(const int *unit);
extern "C" void setulb_(const int *n, const int *m, double *x, const double *l, const double *u, const int *nbd,
                        double *f, double *g, const double *factr, const double *pgtol, double *wa, int *iwa,
                        char *task, const int *iprint, char *csave, int *lsave, int *isave, double *dsave,
                        std::size_t task_length, std::size_t csave_length);

namespace respmat::analysis::detail {
namespace {

using Index = std::int32_t;

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
// L-BFGS-B stops once the projected gradient is within this many roundings of zero:
// closer, its search directions are rounding noise, and a line search along one that
// climbs fails and says so on standard output, whatever it was told about printing.
constexpr double kGradientRoundings = 100.0;
// The rounds of L-BFGS-B, each from where the last stopped with a fresh memory, and
// the iterations of one round: a badly conditioned problem needs a few of them.
constexpr int kMostRounds = 20;
constexpr int kMostIterations = 5000;
constexpr int kMostCorrections = 20;  // L-BFGS-B's memory; 3 to 20 is its authors' advice

std::size_t at(Index k) { return static_cast<std::size_t>(k); }

// The problem in the unknowns φ_j = d_j θ_j, d_j the power of two at or below the
// length of column j (over α): a quasi-Newton method converges fastest on columns
// of about one length, and powers of two scale the bounds and the answer without
// rounding, so an unknown at its bound is exactly at the given limit.
struct ScaledProblem {
  Dense a;                           // A D⁻¹
  std::vector<double> b;
  std::vector<double> alpha;         // α / d_j
  std::vector<double> lower;         // D lower
  std::vector<double> upper;         // D upper
  std::vector<double> column_scale;  // d_j
  bool regularised = false;
};

ScaledProblem scaled_problem(Dense a, const std::vector<double> &b, double alpha,
                             const std::vector<ChangeLimits> &limits) {
  ScaledProblem p{std::move(a), b, {}, {}, {}, {}, alpha > 0.0};
  for (Index j = 0; j < p.a.cols; ++j) {
    const double length = std::hypot(cblas_dnrm2(p.a.rows, p.a.values.data() + j, p.a.cols), alpha);
    const double d = length > 0.0 && std::isfinite(length) ? std::ldexp(1.0, std::ilogb(length)) : 1.0;
    for (Index i = 0; i < p.a.rows; ++i) p.a.at(i, j) /= d;
    p.alpha.push_back(alpha / d);
    p.lower.push_back(limits[at(j)].lower * d);
    p.upper.push_back(limits[at(j)].upper * d);
    p.column_scale.push_back(d);
  }
  return p;
}

// A x + b.
std::vector<double> residual(const ScaledProblem &p, const double *x) {
  std::vector<double> r = p.b;
  cblas_dgemv(CblasRowMajor, CblasNoTrans, p.a.rows, p.a.cols, 1.0, p.a.values.data(), p.a.cols, x, 1, 1.0, r.data(),
              1);
  return r;
}

// The gradient of ½‖A x + b‖² + ½ Σ α_j² x_j² from the residual r = A x + b.
void gradient(const ScaledProblem &p, const double *x, const std::vector<double> &r, double *g) {
  cblas_dgemv(CblasRowMajor, CblasTrans, p.a.rows, p.a.cols, 1.0, p.a.values.data(), p.a.cols, r.data(), 1, 0.0, g,
              1);
  for (Index j = 0; j < p.a.cols; ++j) g[j] += p.alpha[at(j)] * p.alpha[at(j)] * x[j];
}

// How large the rounding of each gradient component at x can be, but for a factor of
// the problem's size: |A|ᵀ(|A||x| + |b|) + α_j²|x_j|.
std::vector<double> gradient_rounding(const ScaledProblem &p, const std::vector<double> &x) {
  std::vector<double> rounding(at(p.a.cols), 0.0);
  for (Index i = 0; i < p.a.rows; ++i) {
    double row = std::abs(p.b[at(i)]);
    for (Index j = 0; j < p.a.cols; ++j) row += std::abs(p.a.at(i, j) * x[at(j)]);
    for (Index j = 0; j < p.a.cols; ++j) rounding[at(j)] += std::abs(p.a.at(i, j)) * row;
  }
  for (Index j = 0; j < p.a.cols; ++j) rounding[at(j)] += p.alpha[at(j)] * p.alpha[at(j)] * std::abs(x[at(j)]);
  return rounding;
}

// f(x) − f(reference), f = ½‖A x + b‖² + ½ Σ α_j² x_j², computed from the step
// x − reference: near the optimum f no longer changes in its last digits, while its
// difference from a point close by still does, and the line searches compare those.
class RelativeObjective {
 public:
  RelativeObjective(const ScaledProblem &p, std::vector<double> reference)
      : p_(p), reference_(std::move(reference)), reference_residual_(residual(p, reference_.data())),
        step_(reference_.size()), residual_(p.b.size()) {}

  double operator()(const double *x, double *g) {
    for (std::size_t j = 0; j < step_.size(); ++j) step_[j] = x[j] - reference_[j];
    cblas_dgemv(CblasRowMajor, CblasNoTrans, p_.a.rows, p_.a.cols, 1.0, p_.a.values.data(), p_.a.cols, step_.data(),
                1, 0.0, residual_.data(), 1);
    double f = 0.0;
    for (std::size_t i = 0; i < residual_.size(); ++i) {
      const double change = residual_[i];
      f += change * (reference_residual_[i] + 0.5 * change);
      residual_[i] = reference_residual_[i] + change;
    }
    for (std::size_t j = 0; j < step_.size(); ++j)
      f += p_.alpha[j] * p_.alpha[j] * step_[j] * (reference_[j] + 0.5 * step_[j]);
    gradient(p_, x, residual_, g);
    return f;
  }

 private:
  const ScaledProblem &p_;
  std::vector<double> reference_;
  std::vector<double> reference_residual_;
  std::vector<double> step_;
  std::vector<double> residual_;
};

// L-BFGS-B's messages: Fortran strings of 60 characters, padded with blanks.
using Message = std::array<char, 60>;

Message message(std::string_view text) {
  Message m;
  m.fill(' ');
  std::copy(text.begin(), text.end(), m.begin());
  return m;
}

bool starts_with(const Message &m, std::string_view prefix) {
  return std::string_view(m.data(), m.size()).starts_with(prefix);
}

std::string trimmed(const Message &m) {
  const std::string_view text(m.data(), m.size());
  return std::string(text.substr(0, text.find_last_not_of(' ') + 1));
}

// L-BFGS-B says so on standard output when a search direction climbs, whatever it is
// told about printing, and the Fortran runtime holds the text back until the process
// ends, when it would land among data written there. While one of these is alive the
// process's standard output leads nowhere, and the solver's unit 6 is emptied there
// before it comes back; how a run ends is reported through its result alone. For the
// length of a bounded solve, then, nothing else of the process reaches standard output.
// Solves may run on several threads at once: the first one in sets standard output
// aside, the last one out puts it back.
class SolverOutputDiscarded {
 public:
  SolverOutputDiscarded() {
    const std::lock_guard lock(mutex_);
    if (users_++ > 0) return;
    std::fflush(stdout);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    saved_ = nowhere >= 0 ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
    if (saved_ >= 0 && ::dup2(nowhere, STDOUT_FILENO) < 0) {
      ::close(saved_);
      saved_ = -1;
    }
    if (nowhere >= 0) ::close(nowhere);
  }
  ~SolverOutputDiscarded() {
    const std::lock_guard lock(mutex_);
    if (--users_ > 0 || saved_ < 0) return;
    const int solver_unit = 6;
    _gfortran_flush_i4(&solver_unit);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  SolverOutputDiscarded(const SolverOutputDiscarded &) = delete;
  SolverOutputDiscarded &operator=(const SolverOutputDiscarded &) = delete;

 private:
  inline static std::mutex mutex_;
  inline static int users_ = 0;
  inline static int saved_ = -1;  // the process's standard output, while it leads nowhere
};

// L-BFGS-B on the box of a scaled problem, its workspace kept between runs.
class Lbfgsb {
 public:
  explicit Lbfgsb(const ScaledProblem &p)
      : p_(p), n_(p.a.cols), corrections_(std::min(p.a.cols, kMostCorrections)),
        workspace_(at((2 * corrections_ + 5) * n_ + 11 * corrections_ * corrections_ + 8 * corrections_)),
        integer_workspace_(at(3 * n_)) {
    for (Index j = 0; j < n_; ++j) {
      const bool below = std::isfinite(p.lower[at(j)]), above = std::isfinite(p.upper[at(j)]);
      bound_kinds_.push_back(below && above ? 2 : below ? 1 : above ? 3 : 0);
    }
  }

  // A fresh run from x, which it leaves at the best point found; returns L-BFGS-B's
  // closing message. Stops after kMostIterations, and once the projected gradient is
  // within `gradient_tolerance` of zero.
  std::string minimise(std::vector<double> &x, RelativeObjective &objective, double gradient_tolerance) {
    Message task = message("START"), csave = message("");
    std::array<int, 4> lsave{};
    std::array<int, 44> isave{};
    std::array<double, 29> dsave{};
    std::vector<double> g(at(n_), 0.0);
    double f = 0.0;
    const double no_reduction_test = 0.0;  // the gradient and the iterations decide
    const int quiet = -1;
    for (int iterations = 0;;) {
      setulb_(&n_, &corrections_, x.data(), p_.lower.data(), p_.upper.data(), bound_kinds_.data(), &f, g.data(),
              &no_reduction_test, &gradient_tolerance, workspace_.data(), integer_workspace_.data(), task.data(),
              &quiet, csave.data(), lsave.data(), isave.data(), dsave.data(), task.size(), csave.size());
      stop_if_requested();
      if (starts_with(task, "FG")) {
        f = objective(x.data(), g.data());
      } else if (starts_with(task, "NEW_X")) {
        if (++iterations >= kMostIterations) task = message("STOP");
      } else {
        break;
      }
    }
    if (starts_with(task, "ERROR")) throw std::runtime_error("L-BFGS-B rejected the bounded problem: " + trimmed(task));
    return trimmed(task);
  }

 private:
  const ScaledProblem &p_;
  int n_;
  int corrections_;
  std::vector<int> bound_kinds_;
  std::vector<double> workspace_;
  std::vector<int> integer_workspace_;
};

// The size an unknown's rounding is measured against: its finite bounds, or the
// largest unknown.
double unknown_size(const ScaledProblem &p, Index j, double largest) {
  double size = largest;
  for (const double bound : {p.lower[at(j)], p.upper[at(j)]})
    if (std::isfinite(bound)) size = std::max(size, std::abs(bound));
  return size;
}

double largest_magnitude(const std::vector<double> &x) {
  double largest = 0.0;
  for (const double v : x) largest = std::max(largest, std::abs(v));
  return largest;
}

// An unknown within a few roundings of a bound is on it: L-BFGS-B's line searches
// can leave one an ulp inside, and it treats it as on the bound itself.
void snap_to_bounds(const ScaledProblem &p, std::vector<double> &x) {
  const double largest = largest_magnitude(x);
  for (Index j = 0; j < p.a.cols; ++j) {
    const double tolerance = 16.0 * kEpsilon * unknown_size(p, j, largest);
    double &v = x[at(j)];
    if (v - p.lower[at(j)] <= tolerance) v = p.lower[at(j)];
    if (p.upper[at(j)] - v <= tolerance) v = p.upper[at(j)];
  }
}

std::vector<Index> free_unknowns(const ScaledProblem &p, const std::vector<double> &x) {
  std::vector<Index> free;
  for (Index j = 0; j < p.a.cols; ++j)
    if (x[at(j)] != p.lower[at(j)] && x[at(j)] != p.upper[at(j)]) free.push_back(j);
  return free;
}

// The step of the free unknowns to the least-squares optimum with the others held:
// min ‖A_F δ + r‖² + Σ α_j² (x_j + δ_j)², the shortest such step where A_F is rank
// deficient, by LAPACK's dgelsd.
std::vector<double> free_step(const ScaledProblem &p, const std::vector<double> &x, const std::vector<Index> &free) {
  const Index k = static_cast<Index>(free.size());
  const Index rows = p.a.rows + (p.regularised ? k : 0);
  const Index leading = std::max(rows, k);
  std::vector<double> matrix(at(rows) * at(k), 0.0);  // column-major, A_F over diag(α_F)
  std::vector<double> rhs(at(leading), 0.0);
  const std::vector<double> r = residual(p, x.data());
  for (Index i = 0; i < p.a.rows; ++i) rhs[at(i)] = -r[at(i)];
  for (Index q = 0; q < k; ++q) {
    const Index j = free[at(q)];
    double *column = matrix.data() + at(q) * at(rows);
    for (Index i = 0; i < p.a.rows; ++i) column[i] = p.a.at(i, j);
    if (p.regularised) {
      column[p.a.rows + q] = p.alpha[at(j)];
      rhs[at(p.a.rows + q)] = -p.alpha[at(j)] * x[at(j)];
    }
  }
  std::vector<double> singular_values(at(std::min(rows, k)));
  lapack_int rank = 0;
  const double rcond = static_cast<double>(leading) * kEpsilon;  // the correction's default cut
  if (LAPACKE_dgelsd(LAPACK_COL_MAJOR, rows, k, 1, matrix.data(), rows, rhs.data(), leading, singular_values.data(),
                     rcond, &rank) != 0)
    throw std::runtime_error("the singular value decomposition did not converge");
  rhs.resize(at(k));
  return rhs;
}

// Moves the free unknowns of x along `step` as far as the box allows. True when the
// whole step fits (one past a bound by no more than its rounding ends on it);
// otherwise x stops where the first bound is met, with that unknown on it.
bool step_within_box(const ScaledProblem &p, std::vector<double> &x, const std::vector<Index> &free,
                     const std::vector<double> &step) {
  const double largest = largest_magnitude(x);
  const double roundings = 16.0 * kEpsilon * static_cast<double>(p.a.rows + p.a.cols);
  double fraction = 1.0;
  std::optional<std::size_t> blocking;
  for (std::size_t q = 0; q < free.size(); ++q) {
    const std::size_t j = at(free[q]);
    const double tolerance = roundings * std::max(unknown_size(p, free[q], largest), std::abs(step[q]));
    const double target = x[j] + step[q];
    const bool crosses = target < p.lower[j] - tolerance || target > p.upper[j] + tolerance;
    const double bound = step[q] < 0.0 ? p.lower[j] : p.upper[j];
    if (crosses && (bound - x[j]) / step[q] < fraction) {
      fraction = (bound - x[j]) / step[q];
      blocking = q;
    }
  }
  for (std::size_t q = 0; q < free.size(); ++q) {
    const std::size_t j = at(free[q]);
    x[j] = std::clamp(x[j] + fraction * step[q], p.lower[j], p.upper[j]);
  }
  if (!blocking) return true;
  const std::size_t j = at(free[*blocking]);
  x[j] = step[*blocking] < 0.0 ? p.lower[j] : p.upper[j];
  return false;
}

// The least-squares optimum on the face of the box that x lies on: exact solves on
// the free unknowns, each one that would leave the box stopping at the first bound
// it meets, which then holds. Each stop lowers the sum and leaves fewer unknowns free.
std::vector<double> optimum_on_face(const ScaledProblem &p, std::vector<double> x) {
  snap_to_bounds(p, x);
  for (std::vector<Index> free = free_unknowns(p, x); !free.empty(); free = free_unknowns(p, x)) {
    stop_if_requested();
    if (step_within_box(p, x, free, free_step(p, x, free))) break;
  }
  return x;
}

// The optimality conditions of the bounded problem: the gradient of every unknown on
// a bound points out of the box (within its rounding), so leaving the bound would
// not lower the sum. A gradient that overflowed meets none.
bool bounds_push_outward(const ScaledProblem &p, const std::vector<double> &x) {
  std::vector<double> g(at(p.a.cols));
  gradient(p, x.data(), residual(p, x.data()), g.data());
  const std::vector<double> rounding = gradient_rounding(p, x);
  const double roundings = 16.0 * kEpsilon * static_cast<double>(p.a.rows + p.a.cols);
  for (Index j = 0; j < p.a.cols; ++j) {
    const double lower = p.lower[at(j)], upper = p.upper[at(j)], v = x[at(j)];
    const double tolerance = roundings * rounding[at(j)], slope = g[at(j)];
    if (!std::isfinite(slope)) return false;
    if (lower < upper && ((v == lower && slope < -tolerance) || (v == upper && slope > tolerance))) return false;
  }
  return true;
}

}  // namespace

std::vector<double> bounded_least_squares(Dense a, const std::vector<double> &b, double alpha,
                                          std::vector<double> start, const std::vector<ChangeLimits> &limits) {
  const LongWork looks_for_stops;
  const ScaledProblem p = scaled_problem(std::move(a), b, alpha, limits);
  std::vector<double> x = std::move(start);
  // An unbounded answer that overflowed is no start; zero is as good as any.
  for (std::size_t j = 0; j < x.size(); ++j)
    x[j] = std::clamp(std::isfinite(x[j]) ? x[j] * p.column_scale[j] : 0.0, p.lower[j], p.upper[j]);
  Lbfgsb solver(p);
  const SolverOutputDiscarded quiet;
  std::string closing;
  double roundings = kGradientRoundings;
  for (int round = 0; round < kMostRounds; ++round) {
    const std::vector<double> before = x;
    RelativeObjective objective(p, x);
    closing = solver.minimise(x, objective, roundings * kEpsilon * largest_magnitude(gradient_rounding(p, x)));
    x = optimum_on_face(p, std::move(x));
    if (bounds_push_outward(p, x)) {
      for (std::size_t j = 0; j < x.size(); ++j) x[j] /= p.column_scale[j];
      return x;
    }
    if (x == before) {
      // A box narrower than the gradient's rounding keeps the projected gradient
      // that small anywhere in it: then only a zero one may stop L-BFGS-B.
      if (roundings == 0.0) break;
      roundings = 0.0;
    }
  }
  throw std::runtime_error("the bounded least-squares problem did not settle on its optimum (L-BFGS-B: " + closing +
                           "); a Tikhonov α > 0 conditions it better");
}

}  // namespace respmat::analysis::detail
