#include "input/optics_table_model.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace {

using respmat::Failure;
using respmat::Lattice;
using respmat::OpticsModel;
using respmat::OpticsModelOptions;
using respmat::Plane;
using respmat::Rf;

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// A thin-lens ring tracked in (x, x', delta) with its path length: bends kick x' by
// theta delta and lengthen the path by theta x; correctors kick x' by their setting.
struct Element {
  enum Kind { drift, quadrupole, bend, monitor, corrector } kind;
  double value = 0.0;  // length, integrated strength or angle
};

struct State {
  double x = 0.0, px = 0.0, delta = 0.0, path = 0.0;
};

std::vector<Element> ring() {
  std::vector<Element> elements;
  for (int cell = 0; cell < 5; ++cell) {
    const double k = 0.7 + 0.02 * cell;  // no symmetry, so that entries differ
    for (const Element e : {Element{Element::drift, 0.6}, Element{Element::monitor}, Element{Element::drift, 0.4},
                            Element{Element::quadrupole, k}, Element{Element::corrector}, Element{Element::drift, 1.0},
                            Element{Element::bend, 0.2}, Element{Element::drift, 0.3}, Element{Element::monitor},
                            Element{Element::drift, 0.7}, Element{Element::quadrupole, -k},
                            Element{Element::drift, 0.5}, Element{Element::corrector}, Element{Element::bend, 0.2},
                            Element{Element::drift, 0.5}})
      elements.push_back(e);
  }
  return elements;
}

// Tracks once around from `state`, kicking at corrector `kicked` (none when -1), and
// keeps x at each monitor, or at every monitor, corrector and bend when `markers`.
State turn(const std::vector<Element> &elements, State state, int kicked, std::vector<double> *orbit,
           bool markers = false) {
  int corrector = 0;
  for (const Element &e : elements) {
    if (orbit && (e.kind == Element::monitor || (markers && e.kind != Element::drift && e.kind != Element::quadrupole)))
      orbit->push_back(state.x);
    switch (e.kind) {
      case Element::drift: state.x += e.value * state.px; break;
      case Element::quadrupole: state.px -= e.value * state.x; break;
      case Element::bend:
        state.px += e.value * state.delta;
        state.path += e.value * state.x;
        break;
      case Element::monitor: break;
      case Element::corrector:
        if (corrector++ == kicked) state.px += 1.0;
        break;
    }
  }
  return state;
}

using Matrix3 = std::array<std::array<double, 3>, 3>;

double det(const Matrix3 &m) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The closed orbit for a unit kick at `kicked`, or for delta = 1 when -1: x and x' come
// back after a turn, and either the path length (fixed RF) or delta stays as given.
std::vector<double> closed_orbit(const std::vector<Element> &elements, int kicked, bool fixed, bool markers = false) {
  const std::array<State, 3> unit{State{1, 0, 0, 0}, State{0, 1, 0, 0}, State{0, 0, 1, 0}};
  const State start = kicked < 0 ? unit[2] : State{};
  const State forced = turn(elements, start, kicked, nullptr);
  Matrix3 a{};
  const std::array<double, 3> b{-forced.x, -forced.px, fixed ? -forced.path : 0.0};
  for (int k = 0; k < 3; ++k) {
    const State through = turn(elements, unit[k], -1, nullptr);
    a[0][k] = through.x - (k == 0);
    a[1][k] = through.px - (k == 1);
    a[2][k] = fixed ? through.path : (k == 2);
  }
  State closed = start;
  double *unknown[3] = {&closed.x, &closed.px, &closed.delta};
  for (int k = 0; k < 3; ++k) {  // Cramer's rule
    Matrix3 m = a;
    for (int r = 0; r < 3; ++r) m[r][k] = b[r];
    *unknown[k] += det(m) / det(a);
  }
  std::vector<double> orbit;
  turn(elements, closed, kicked, &orbit, markers);
  return orbit;
}

// What the optics table may leave out.
struct Omit {
  bool dx = false, alfa = false, length = false;
};

// The optics table of the ring at its monitors and correctors: beta and phase
// (turns) from the transfer matrices, DX from the closed orbit at delta = 1, and
// alpha_c C = the sum over the bends of theta eta.
std::string optics_table(const std::vector<Element> &elements, Omit omit = {}) {
  std::vector<std::array<double, 4>> to;  // r11 r12 r21 r22 from the start to each element
  std::array<double, 4> r{1, 0, 0, 1};
  for (const Element &e : elements) {
    to.push_back(r);
    if (e.kind == Element::drift) r = {r[0] + e.value * r[2], r[1] + e.value * r[3], r[2], r[3]};
    if (e.kind == Element::quadrupole) r = {r[0], r[1], r[2] - e.value * r[0], r[3] - e.value * r[1]};
  }
  to.push_back(r);
  const double cos_mu = (r[0] + r[3]) / 2, sin_mu = std::copysign(std::sqrt(1 - cos_mu * cos_mu), r[1]);
  const double beta0 = r[1] / sin_mu, alpha0 = (r[0] - r[3]) / (2 * sin_mu);
  const std::vector<double> eta = closed_orbit(elements, -1, false, true);
  double s = 0.0, turns = 0.0, phase = 0.0, compaction = 0.0;
  std::size_t marker = 0;
  int monitors = 0, correctors = 0;
  std::string rows;
  for (std::size_t k = 0; k <= elements.size(); ++k) {
    const auto &m = to[k];
    const double cosine = m[0] * beta0 - m[1] * alpha0;
    double local = std::atan2(m[1], cosine) / (2 * std::numbers::pi);
    if (local < 0) local += 1;
    if (local + turns < phase - 1e-9) turns += 1;
    phase = local + turns;
    if (k == elements.size()) break;
    const Element &e = elements[k];
    if (e.kind == Element::drift) s += e.value;
    if (e.kind == Element::drift || e.kind == Element::quadrupole) continue;
    const double dispersion = eta[marker++];
    if (e.kind == Element::bend) {
      compaction += e.value * dispersion;
      continue;
    }
    const bool monitor = e.kind == Element::monitor;
    rows += std::string(monitor ? "M" : "C") + std::to_string(monitor ? monitors++ : correctors++) +
            (monitor ? " MONITOR " : " HKICKER ") + number(s) + " " + number((cosine * cosine + m[1] * m[1]) / beta0) +
            " " + number(phase) + (omit.dx ? "" : " " + number(dispersion)) + "\n";
  }
  std::string header = "@ Q1 %le " + number(phase) + "\n";
  if (!omit.alfa) header += "@ ALFA %le " + number(compaction / s) + "\n";
  if (!omit.length) header += "@ LENGTH %le " + number(s) + "\n";
  header += omit.dx ? "* NAME KEYWORD S BETX MUX\n$ %s %s %le %le %le\n"
                    : "* NAME KEYWORD S BETX MUX DX\n$ %s %s %le %le %le %le\n";
  return header + rows;
}

OpticsModelOptions ring_at_fixed_rf() {
  OpticsModelOptions options;
  options.lattice = Lattice::ring;
  options.rf = Rf::fixed;
  return options;
}

std::optional<Failure> model_of(const std::string &text, const OpticsModelOptions &options,
                                std::optional<OpticsModel> &model) {
  std::string bytes = text;
  std::FILE *memory = ::fmemopen(bytes.data(), bytes.size(), "rb");
  const respmat::OpticsTableResult table = respmat::read_optics_table("ring.tfs", memory);
  std::fclose(memory);
  if (table.failure) return table.failure;
  return respmat::optics_table_model(table.table, "ring.tfs", options, model);
}

// The model's matrix against the tracked closed orbits, at a free and a fixed RF
// frequency: G, and G - eta eta^T / (alpha_c C) with the path length held.
TEST(OpticsTableModel, RingResponseEqualsTheTrackedClosedOrbit) {
  const std::vector<Element> elements = ring();
  for (const Rf rf : {Rf::free, Rf::fixed}) {
    OpticsModelOptions options = ring_at_fixed_rf();
    options.rf = rf;
    std::optional<OpticsModel> model;
    ASSERT_FALSE(model_of(optics_table(elements), options, model));
    ASSERT_EQ(model->rows(), 10);
    ASSERT_EQ(model->cols(), 10);
    std::vector<double> row(10);
    double largest = 0.0, worst = 0.0, term = 0.0;
    for (int j = 0; j < 10; ++j) {
      const std::vector<double> tracked = closed_orbit(elements, j, rf == Rf::fixed);
      const std::vector<double> free = closed_orbit(elements, j, false);
      for (int i = 0; i < 10; ++i) {
        (void)model->row(i, row.data());
        largest = std::max(largest, std::fabs(tracked[i]));
        worst = std::max(worst, std::fabs(row[j] - tracked[i]));
        term = std::max(term, std::fabs(tracked[i] - free[i]));
      }
    }
    EXPECT_LT(worst, 1e-12 * largest) << respmat::rf_name(rf);
    if (rf == Rf::fixed) {
      EXPECT_GT(term, 0.05 * largest);  // the term is far from negligible here
    }
  }
}

// What a ring at a fixed RF frequency needs, each refused by name when missing, and
// the options that stand in for the header values.
TEST(OpticsTableModel, FixedRfRefusesWhatItCannotApply) {
  const std::vector<Element> elements = ring();
  const auto refusal = [&](Omit omit, OpticsModelOptions options) {
    std::optional<OpticsModel> model;
    const std::optional<Failure> failure = model_of(optics_table(elements, omit), options, model);
    return failure ? failure->message : std::string("accepted");
  };
  const OpticsModelOptions fixed = ring_at_fixed_rf();
  EXPECT_EQ(refusal({.dx = true}, fixed), "ring.tfs: has no column DX, the dispersion --rf fixed needs");
  EXPECT_NE(refusal({.alfa = true}, fixed).find("no header value ALFA"), std::string::npos);
  EXPECT_NE(refusal({.length = true}, fixed).find("no header value LENGTH"), std::string::npos);
  OpticsModelOptions given = fixed;
  given.momentum_compaction = 0.01;
  given.circumference = 20.0;
  EXPECT_EQ(refusal({.alfa = true, .length = true}, given), "accepted");
  OpticsModelOptions line = fixed, vertical = fixed, free = fixed;
  line.lattice = Lattice::line;
  vertical.plane = Plane::y;
  free.rf = Rf::free;
  free.circumference = 20.0;
  EXPECT_NE(refusal({}, line).find("applies to a ring"), std::string::npos);
  EXPECT_NE(refusal({}, vertical).find("applies to the x plane"), std::string::npos);
  EXPECT_NE(refusal({}, free).find("--circumference: has no effect"), std::string::npos);
  std::optional<OpticsModel> model;
  const auto kind = model_of(optics_table(elements, {.dx = true}), fixed, model)->kind;
  EXPECT_EQ(kind, Failure::Kind::usage);  // the option names what the table lacks
}

}  // namespace
