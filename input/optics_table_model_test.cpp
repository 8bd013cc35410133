#include "input/optics_table_model.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace respmat;

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// A thin-lens ring tracked in (x, x', delta, path length): drifts 'd', quadrupoles 'q',
// bends 'b' (x' += theta delta, path += theta x), monitors 'm', correctors 'c' (x' += 1
// for the one kicked).
struct Element {
  char kind;
  double value;
};
using State = std::array<double, 4>;

std::vector<Element> ring() {
  std::vector<Element> ring;
  for (int cell = 0; cell < 5; ++cell)  // unequal quadrupoles, so that entries differ
    for (const Element e : {Element{'d', .6}, {'m', 0}, {'d', .4}, {'q', .7 + .02 * cell}, {'c', 0}, {'d', 1},
                            {'b', .2}, {'d', .3}, {'m', 0}, {'d', .7}, {'q', -.7 - .02 * cell}, {'d', .5}, {'c', 0},
                            {'b', .2}, {'d', .5}})
      ring.push_back(e);
  return ring;
}

// Once around from `s`, kicking corrector `kicked`; the state at the kinds `seen`.
State turn(const std::vector<Element> &ring, State s, int kicked, const char *seen = "",
           std::vector<State> *at = nullptr) {
  int corrector = 0;
  for (const auto &[kind, v] : ring) {
    if (at && std::strchr(seen, kind)) at->push_back(s);
    if (kind == 'd') s[0] += v * s[1];
    if (kind == 'q') s[1] -= v * s[0];
    if (kind == 'b') s[1] += v * s[2], s[3] += v * s[0];
    if (kind == 'c' && corrector++ == kicked) s[1] += 1;
  }
  return s;
}

using Matrix3 = std::array<std::array<double, 3>, 3>;
double det(const Matrix3 &m) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// x at `seen` on the closed orbit of a unit kick at `kicked`, or of delta = 1 when -1:
// x and x' come back after a turn, and the path length (fixed) or delta stays.
std::vector<double> closed(const std::vector<Element> &ring, int kicked, bool fixed, const char *seen = "m") {
  const State start{0, 0, kicked < 0 ? 1.0 : 0.0, 0}, forced = turn(ring, start, kicked);
  Matrix3 a{};
  const std::array<double, 3> b{-forced[0], -forced[1], fixed ? -forced[3] : 0.0};
  for (int k = 0; k < 3; ++k) {
    State unit{};
    unit[k] = 1;
    const State t = turn(ring, unit, -1);
    a[0][k] = t[0] - (k == 0), a[1][k] = t[1] - (k == 1), a[2][k] = fixed ? t[3] : (k == 2);
  }
  State s = start;
  for (int k = 0; k < 3; ++k) {  // Cramer's rule
    Matrix3 m = a;
    for (int r = 0; r < 3; ++r) m[r][k] = b[r];
    s[k] += det(m) / det(a);
  }
  std::vector<State> at;
  turn(ring, s, kicked, seen, &at);
  std::vector<double> x;
  for (const State &state : at) x.push_back(state[0]);
  return x;
}

// The optics table at the monitors and correctors: beta and mu (turns) from the
// transfer matrices, DX from the closed orbit at delta = 1, alpha_c C the sum of theta
// eta over the bends; without the column or header value `omit`.
std::string optics_table(const std::vector<Element> &ring, const std::string &omit = "") {
  std::vector<State> c, s;  // the orbits from x = 1 and from x' = 1
  const State end_c = turn(ring, {1, 0, 0, 0}, -1, "mcb", &c), end_s = turn(ring, {0, 1, 0, 0}, -1, "mcb", &s);
  c.push_back(end_c), s.push_back(end_s);
  const double cos_mu = (end_c[0] + end_s[1]) / 2, sin_mu = std::copysign(std::sqrt(1 - cos_mu * cos_mu), end_s[0]);
  const double beta0 = end_s[0] / sin_mu, alpha0 = (end_c[0] - end_s[1]) / (2 * sin_mu);
  const std::vector<double> eta = closed(ring, -1, false, "mcb");
  std::string rows;
  double length = 0, compaction = 0, mu = 0;
  std::size_t k = 0;
  for (const auto &[kind, v] : ring) {
    length += kind == 'd' ? v : 0;
    if (!std::strchr("mcb", kind)) continue;
    const double a = c[k][0] * beta0 - s[k][0] * alpha0, turns = std::atan2(s[k][0], a) / (2 * std::numbers::pi);
    mu += turns - mu - std::floor(turns - mu);
    if (kind == 'b') compaction += v * eta[k];
    if (kind != 'b')
      rows += std::string(1, kind) + std::to_string(k) + (kind == 'm' ? " MONITOR " : " HKICKER ") + number(length) +
              " " + number((a * a + s[k][0] * s[k][0]) / beta0) + " " + number(mu) +
              (omit == "DX" ? "" : " " + number(eta[k])) + "\n";
    ++k;
  }
  const double turns = std::atan2(end_s[0], end_c[0] * beta0 - end_s[0] * alpha0) / (2 * std::numbers::pi);
  std::string text = "@ Q1 %le " + number(mu + turns - mu - std::floor(turns - mu)) + "\n";
  for (const auto &[name, value] : {std::pair{"ALFA", compaction / length}, std::pair{"LENGTH", length}})
    if (omit != name) text += std::string("@ ") + name + " %le " + number(value) + "\n";
  const bool dx = omit != "DX";
  return text + "* NAME KEYWORD S BETX MUX" + (dx ? " DX" : "") + "\n$ %s %s %le %le %le" + (dx ? " %le" : "") +
         "\n" + rows;
}

OpticsModelOptions ring_at(Rf rf) {
  OpticsModelOptions options;
  options.lattice = Lattice::ring, options.rf = rf;
  return options;
}

std::optional<Failure> model_of(std::string text, const OpticsModelOptions &options, std::optional<OpticsModel> &model) {
  std::FILE *memory = ::fmemopen(text.data(), text.size(), "rb");
  const OpticsTableResult table = read_optics_table("ring.tfs", memory);
  std::fclose(memory);
  return table.failure ? table.failure : optics_table_model(table.table, "ring.tfs", options, model);
}

// G, and G - eta eta^T / (alpha_c C) at a fixed RF frequency, against the closed orbits
// tracked at a fixed momentum and at a fixed path length.
TEST(OpticsTableModel, RingResponseAtEitherRfIsTheTrackedClosedOrbit) {
  for (const Rf rf : {Rf::free, Rf::fixed}) {
    std::optional<OpticsModel> model;
    ASSERT_FALSE(model_of(optics_table(ring()), ring_at(rf), model));
    ASSERT_EQ(model->rows(), 10);
    ASSERT_EQ(model->cols(), 10);
    std::vector<double> row(10);
    double worst = 0, largest = 0, term = 0;
    for (int j = 0; j < 10; ++j) {
      const std::vector<double> tracked = closed(ring(), j, rf == Rf::fixed), free = closed(ring(), j, false);
      for (int i = 0; i < 10; ++i) {
        (void)model->row(i, row.data());
        worst = std::max(worst, std::fabs(row[static_cast<std::size_t>(j)] - tracked[i]));
        largest = std::max(largest, std::fabs(tracked[i]));
        term = std::max(term, std::fabs(tracked[i] - free[i]));
      }
    }
    EXPECT_LT(worst, 1e-12 * largest) << rf_name(rf);
    EXPECT_GE(term, rf == Rf::fixed ? 0.05 * largest : 0.0);  // far from negligible here
  }
}

TEST(OpticsTableModel, FixedRfRefusesWhatItCannotApplyNamingIt) {
  const OpticsModelOptions fixed = ring_at(Rf::fixed);
  OpticsModelOptions line = fixed, vertical = fixed, free = fixed, given = fixed;
  line.lattice = Lattice::line, vertical.plane = Plane::y, free.rf = Rf::free, free.circumference = 20;
  given.momentum_compaction = 0.01;
  for (const auto &[omit, options, words] : std::vector<std::tuple<std::string, OpticsModelOptions, std::string>>{
           {"DX", fixed, "has no column DX"}, {"ALFA", fixed, "no header value ALFA"},
           {"LENGTH", fixed, "no header value LENGTH"}, {"ALFA", given, ""}, {"", line, "applies to a ring"},
           {"", vertical, "applies to the x plane"}, {"", free, "--circumference: has no effect"}}) {
    std::optional<OpticsModel> model;
    const std::optional<Failure> failure = model_of(optics_table(ring(), omit), options, model);
    EXPECT_EQ(failure.has_value(), !words.empty()) << omit << " " << words;
    EXPECT_TRUE(!failure || (failure->kind == Failure::Kind::usage && failure->message.find(words) != std::string::npos))
        << failure->message;
  }
}

}  // namespace
