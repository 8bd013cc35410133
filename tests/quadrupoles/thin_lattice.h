// Thin-lens lattices for the tests, built and tracked with 2 x 2 transfer matrices:
// the optics (beta, phase) by propagating the Twiss functions, the response with
// gradient errors by tracking the orbit of a unit kick (the closed orbit in a ring),
// the dispersion as the closed orbit of the bends' kicks at a unit momentum offset.
// Independent of the closed form the tool uses.
#ifndef RESPMAT_TESTS_QUADRUPOLES_THIN_LATTICE_H
#define RESPMAT_TESTS_QUADRUPOLES_THIN_LATTICE_H

#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace respmat::testing {

struct ThinElement {
  char kind;  // 'D' drift, 'Q' quadrupole, 'M' monitor, 'C' corrector, 'B' thin bend (x)
  double value = 0.0;  // a drift's length, a quadrupole's K1L, a bend's angle
  std::string name;
};

using Matrix2 = std::array<double, 4>;  // a b / c d

inline Matrix2 times(const Matrix2 &m, const Matrix2 &n) {
  return {m[0] * n[0] + m[1] * n[2], m[0] * n[1] + m[1] * n[3], m[2] * n[0] + m[3] * n[2], m[2] * n[1] + m[3] * n[3]};
}

struct TwissAt {
  std::string name;
  char kind;
  double s, beta[2], mu[2], k1l, eta = 0.0;  // per plane: x, y; eta in x
};

class ThinLattice {
 public:
  ThinLattice(std::vector<ThinElement> elements, bool ring) : elements_(std::move(elements)), ring_(ring) {}

  // Twiss functions at every thin element; `errors` per quadrupole in order.
  [[nodiscard]] std::vector<TwissAt> twiss(const std::vector<double> &errors, double tune[2]) const {
    std::vector<TwissAt> rows;
    double s = 0.0;
    for (const ThinElement &e : elements_) {
      if (e.kind == 'D') s += e.value;
      else if (e.kind != 'B') rows.push_back({e.name, e.kind, s, {0, 0}, {0, 0}, e.value});
    }
    if (!angles().empty())
      for (std::size_t r = 0; const double eta : dispersion(errors, "MCQ")) rows[r++].eta = eta;
    for (int plane = 0; plane < 2; ++plane) {
      double beta = 5.0, alpha = 0.0, mu = 0.0;  // a line's entrance
      if (ring_) {
        const Matrix2 m = turn(0, plane, errors);
        const double c = (m[0] + m[3]) / 2, sn = std::copysign(std::sqrt(1 - c * c), m[1]);
        beta = m[1] / sn;
        alpha = (m[0] - m[3]) / (2 * sn);
      }
      std::size_t row = 0, q = 0;
      for (const ThinElement &e : elements_) {
        const Matrix2 m = matrix(e, plane, e.kind == 'Q' ? errors[q] : 0.0);
        if (e.kind == 'Q') ++q;
        if (e.kind != 'D' && e.kind != 'B') {
          rows[row].beta[plane] = beta;
          rows[row++].mu[plane] = mu / (2 * std::numbers::pi);
        }
        const double gamma = (1 + alpha * alpha) / beta;
        mu += std::atan2(m[1], m[0] * beta - m[1] * alpha);
        const double next = m[0] * m[0] * beta - 2 * m[0] * m[1] * alpha + m[1] * m[1] * gamma;
        alpha = -m[0] * m[2] * beta + (m[0] * m[3] + m[1] * m[2]) * alpha - m[1] * m[3] * gamma;
        beta = next;
      }
      tune[plane] = mu / (2 * std::numbers::pi);
    }
    return rows;
  }

  // The tracked response, monitors x correctors, of one plane (0 x, 1 y); or at the
  // elements of the kinds `at` to a unit kick at each element of kind `from`.
  [[nodiscard]] std::vector<std::vector<double>> response(int plane, const std::vector<double> &errors,
                                                          char from = 'C', std::string_view at = "M") const {
    std::vector<std::vector<double>> r;
    const std::size_t n = elements_.size();
    for (std::size_t start = 0; start < n; ++start) {
      if (elements_[start].kind != from) continue;
      std::array<double, 2> z{0.0, 1.0};
      if (ring_) {  // (I - M) z = (0, 1): the closed orbit just after the kick
        const Matrix2 m = turn(start + 1, plane, errors);
        const double a = 1 - m[0], b = -m[1], c = -m[2], d = 1 - m[3], det = a * d - b * c;
        z = {-b / det, a / det};
      }
      // Monitors upstream of the corrector see the orbit after a turn (ring) or none (line).
      std::vector<double> seen(n, 0.0), column;
      std::size_t q = quadrupoles_before(start + 1);
      for (std::size_t step = 1; step <= (ring_ ? n : n - start - 1); ++step) {
        const std::size_t k = (start + step) % n;
        if (k == 0) q = 0;
        const ThinElement &e = elements_[k];
        if (at.find(e.kind) != at.npos) seen[k] = z[0];
        const Matrix2 m = matrix(e, plane, e.kind == 'Q' ? errors[q] : 0.0);
        if (e.kind == 'Q') ++q;
        z = {m[0] * z[0] + m[1] * z[1], m[2] * z[0] + m[3] * z[1]};
      }
      for (std::size_t k = 0; k < n; ++k)
        if (at.find(elements_[k].kind) != at.npos) column.push_back(seen[k]);
      r.push_back(std::move(column));
    }
    std::vector<std::vector<double>> by_monitor(r.empty() ? 0 : r.front().size(), std::vector<double>(r.size()));
    for (std::size_t j = 0; j < r.size(); ++j)
      for (std::size_t i = 0; i < r[j].size(); ++i) by_monitor[i][j] = r[j][i];
    return by_monitor;
  }

  [[nodiscard]] std::vector<double> angles() const {
    std::vector<double> theta;
    for (const ThinElement &e : elements_)
      if (e.kind == 'B') theta.push_back(e.value);
    return theta;
  }

  // The dispersion in x at the elements of the kinds `at`.
  [[nodiscard]] std::vector<double> dispersion(const std::vector<double> &errors, std::string_view at) const {
    std::vector<double> eta;
    for (const std::vector<double> &row : response(0, errors, 'B', at))
      eta.push_back(std::inner_product(row.begin(), row.end(), angles().begin(), 0.0));
    return eta;
  }

  // The optics table of the design lattice, as an optics code writes it.
  [[nodiscard]] std::string table() const {
    double tune[2];
    const std::vector<TwissAt> rows = twiss(std::vector<double>(quadrupoles_before(elements_.size()), 0.0), tune);
    std::string text = "@ Q1 %le " + number(tune[0]) + "\n@ Q2 %le " + number(tune[1]) +
                       "\n* NAME KEYWORD S BETX BETY MUX MUY K1L DX\n$ %s %s %le %le %le %le %le %le %le\n";
    for (const TwissAt &r : rows)
      text += "\"" + r.name + "\" \"" + (r.kind == 'Q' ? "QUADRUPOLE" : r.kind == 'M' ? "MONITOR" : "KICKER") + "\" " +
              number(r.s) + " " + number(r.beta[0]) + " " + number(r.beta[1]) + " " + number(r.mu[0]) + " " +
              number(r.mu[1]) + " " + number(r.k1l) + " " + number(r.eta) + "\n";
    return text;
  }

  [[nodiscard]] std::size_t quadrupoles_before(std::size_t end) const {
    std::size_t q = 0;
    for (std::size_t k = 0; k < end && k < elements_.size(); ++k) q += elements_[k].kind == 'Q';
    return q;
  }

  static std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
  }

 private:
  static Matrix2 matrix(const ThinElement &e, int plane, double error) {
    if (e.kind == 'D') return {1, e.value, 0, 1};
    if (e.kind == 'Q') return {1, 0, (plane == 0 ? -1 : 1) * (e.value + error), 1};
    return {1, 0, 0, 1};
  }
  // The one-turn matrix from element `from` on.
  [[nodiscard]] Matrix2 turn(std::size_t from, int plane, const std::vector<double> &errors) const {
    Matrix2 m{1, 0, 0, 1};
    const std::size_t n = elements_.size();
    std::size_t q = quadrupoles_before(from % n);
    for (std::size_t step = 0; step < n; ++step) {
      const std::size_t k = (from + step) % n;
      if (k == 0) q = 0;
      const ThinElement &e = elements_[k];
      m = times(matrix(e, plane, e.kind == 'Q' ? errors[q] : 0.0), m);
      if (e.kind == 'Q') ++q;
    }
    return m;
  }

  std::vector<ThinElement> elements_;
  bool ring_;
};

// A FODO-like lattice of `cells` cells, drifts varied so that no two phases repeat: in
// each cell a focusing and a defocusing quadrupole, two monitors and two correctors.
// With `bend`, a bend after each quadrupole.
inline std::vector<ThinElement> thin_cells(int cells, double k, double bend = 0.0) {
  std::vector<ThinElement> e;
  for (int c = 0; c < cells; ++c) {
    const std::string n = std::to_string(c);
    const double v = 0.05 * std::sin(1.7 * c + 0.3);
    e.push_back({'Q', k * (1 + v), "QF" + n});
    if (bend != 0.0) e.push_back({'B', bend * (1 + v), {}});
    e.push_back({'D', 0.4 + v, {}});
    e.push_back({'M', 0, "BPMA" + n});
    e.push_back({'D', 0.3, {}});
    e.push_back({'C', 0, "CORA" + n});
    e.push_back({'D', 0.5 - v, {}});
    e.push_back({'Q', -k * (1 - v), "QD" + n});
    if (bend != 0.0) e.push_back({'B', bend * (1 - v), {}});
    e.push_back({'D', 0.35, {}});
    e.push_back({'C', 0, "CORB" + n});
    e.push_back({'D', 0.45 + v, {}});
    e.push_back({'M', 0, "BPMB" + n});
    e.push_back({'D', 0.2, {}});
  }
  return e;
}

}  // namespace respmat::testing

#endif
