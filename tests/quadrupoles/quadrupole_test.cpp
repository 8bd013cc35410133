// The quadrupole fit against lattices tracked with transfer matrices: the closed form
// and its Jacobian, the fit through the command (one plane, both, calibrations), the
// unobservable quadrupoles, the beta-beating, the pulls under noise and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numeric>
#include <random>
#include <sstream>

#include "analysis/quadrupole_fit.h"
#include "commands/fit_command.h"
#include "model/unperturbed_response.h"
#include "test_support.h"
#include "thin_lattice.h"

namespace respmat {
namespace {

using analysis::Dense;
using testing::ThinLattice;
using testing::TwissAt;

const std::vector<double> kErrors = {0.012, -0.02, 0.007, 0.015, -0.011, 0.004, -0.009, 0.018, 0.01, -0.006,
                                     0.013, -0.017, 0.003, 0.008, -0.014, 0.011, -0.004, 0.016, 0.002, -0.012};

std::vector<double> errors_for(std::size_t n) {
  std::vector<double> e(n);
  for (std::size_t q = 0; q < n; ++q) e[q] = kErrors[q % kErrors.size()] * (1.0 + 0.1 * static_cast<double>(q / kErrors.size()));
  return e;
}

Dense dense(const std::vector<std::vector<double>> &rows) {
  Dense d(static_cast<std::int32_t>(rows.size()), static_cast<std::int32_t>(rows.front().size()));
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = 0; j < rows[i].size(); ++j) d.at(static_cast<std::int32_t>(i), static_cast<std::int32_t>(j)) = rows[i][j];
  return d;
}

// alpha_c C of a ring with bends: sum of theta eta over them.
double compaction(const ThinLattice &lattice, const std::vector<double> &errors) {
  const std::vector<double> theta = lattice.angles(), eta = lattice.dispersion(errors, "B");
  return std::inner_product(theta.begin(), theta.end(), eta.begin(), 0.0);
}

// The tracked response; `fixed`: a ring's x plane at a fixed path length, each
// corrector's closed orbit with the momentum offset that takes back its path length
// sum theta x_j, x_j - eta (sum theta x_j) / (alpha_c C).
std::vector<std::vector<double>> tracked(const ThinLattice &lattice, int plane, const std::vector<double> &errors, bool fixed) {
  std::vector<std::vector<double>> r = lattice.response(plane, errors);
  if (!fixed || plane != 0) return r;
  const std::vector<double> eta = lattice.dispersion(errors, "M"), theta = lattice.angles();
  const std::vector<std::vector<double>> at_bends = lattice.response(0, errors, 'C', "B");
  for (std::size_t j = 0; j < r.front().size(); ++j) {
    double path = 0.0;
    for (std::size_t b = 0; b < theta.size(); ++b) path += theta[b] * at_bends[b][j];
    for (std::size_t i = 0; i < r.size(); ++i) r[i][j] -= eta[i] * path / compaction(lattice, errors);
  }
  return r;
}

// The closed form's plane of a tracked lattice, from its design optics.
analysis::QuadrupolePlane closed_form(const ThinLattice &lattice, bool ring, int plane, bool fixed = false) {
  double tune[2];
  const std::vector<double> design(lattice.quadrupoles_before(SIZE_MAX), 0.0);
  std::vector<OpticsElement> by_kind[3];
  for (const TwissAt &r : lattice.twiss(design, tune))
    by_kind[r.kind == 'M' ? 0 : r.kind == 'C' ? 1 : 2].push_back({r.name, r.s, r.beta[plane], r.mu[plane], r.eta});
  const std::optional<FixedRf> rf = fixed ? std::optional(FixedRf{compaction(lattice, design), 1.0}) : std::nullopt;
  const auto g = [&](int a, int b) {
    const std::vector<double> v =
        unperturbed_response(by_kind[a], by_kind[b], ring ? Lattice::ring : Lattice::line, tune[plane], rf);
    Dense d(static_cast<std::int32_t>(by_kind[a].size()), static_cast<std::int32_t>(by_kind[b].size()));
    std::copy(v.begin(), v.end(), d.values.begin());
    return d;
  };
  return {g(0, 1), g(0, 2), g(2, 2), g(2, 1), plane == 0 ? 1.0 : -1.0, 1.0};
}

ThinLattice ring_lattice(double bend = 0.0) { return ThinLattice(testing::thin_cells(8, 0.8, bend), true); }

ThinLattice line_lattice() {  // a quadrupole upstream of every corrector and one downstream of every monitor
  std::vector<testing::ThinElement> e = testing::thin_cells(5, 0.8);
  e.insert(e.begin() + 1, {{'D', 0.1, {}}, {'C', 0, "CSTART"}});  // so that every monitor sees a corrector
  e.push_back({'D', 0.3, {}});
  e.push_back({'Q', 0.5, "QEND"});
  return ThinLattice(e, false);
}

// With bends at a fixed path length (x), exact too: the dispersion and alpha_c C change
// with the errors.
TEST(QuadrupoleResponse, ClosedFormAndJacobianEqualTracking) {
  for (const int kind : {0, 1, 2}) {  // a line, a ring, a ring with bends at a fixed path length
    const bool ring = kind > 0, fixed = kind == 2;
    const ThinLattice lattice = ring ? ring_lattice(fixed ? 0.2 : 0.0) : line_lattice();
    const std::vector<double> errors = errors_for(lattice.quadrupoles_before(SIZE_MAX));
    for (int plane = 0; plane < (fixed ? 1 : 2); ++plane) {
      const analysis::QuadrupolePlane form = closed_form(lattice, ring, plane, fixed);
      const auto response = analysis::perturbed_response(form, errors);
      ASSERT_TRUE(response);
      const Dense tracked = dense(respmat::tracked(lattice, plane, errors, fixed)), free = dense(lattice.response(plane, errors));
      double largest = 0.0, term = 0.0;
      for (const double v : tracked.values) largest = std::max(largest, std::fabs(v));
      for (std::size_t k = 0; k < tracked.values.size(); ++k) {
        EXPECT_NEAR(response->response.values[k], tracked.values[k], 1e-12 * largest) << "kind " << kind << " plane " << plane;
        term = std::max(term, std::fabs(free.values[k] - tracked.values[k]));
      }
      EXPECT_TRUE(!fixed || term > 0.1 * largest) << term;
      // dR/dK_q = -s K L[:, q] M[q, :] against central differences of the tracking.
      for (const std::size_t q : {std::size_t{1}, errors.size() / 2}) {
        std::vector<double> up = errors, down = errors;
        up[q] += 1e-6;
        down[q] -= 1e-6;
        const Dense plus = dense(respmat::tracked(lattice, plane, up, fixed));
        const Dense minus = dense(respmat::tracked(lattice, plane, down, fixed));
        for (std::int32_t i = 0; i < tracked.rows; ++i)
          for (std::int32_t j = 0; j < tracked.cols; ++j)
            EXPECT_NEAR(-form.sign * response->left.at(i, static_cast<std::int32_t>(q)) * response->right.at(static_cast<std::int32_t>(q), j),
                        (plus.at(i, j) - minus.at(i, j)) / 2e-6, 1e-6 * largest);
      }
    }
  }
}

// Files of a tracked lattice and the command's options over them.
struct FitCase {
  testing::TempDir dir;
  FitOptions options;

  FitCase(const ThinLattice &lattice, bool ring, const std::string &planes, const std::vector<double> &errors,
          bool calibrations, bool fixed = false) {
    write(dir.file("optics.tfs"), lattice.table());
    options.model.optics = dir.file("optics.tfs");
    options.model.optics_model.lattice = ring ? Lattice::ring : Lattice::line;
    if (fixed) options.model.optics_model = {Plane::x, Lattice::ring, 1.0, {}, {}, {}, {}, Rf::fixed, compaction(lattice, std::vector<double>(errors.size())), 1.0};
    options.measurement.layout = MatrixLayout::monitors_by_correctors;
    options.kind = FitKind::quadrupoles;
    options.quadrupoles.settings.calibrations = calibrations;
    options.parameters = dir.file("parameters.csv");
    options.summary = dir.file("summary.json");
    options.quadrupoles.both_planes = planes == "both";
    options.model.optics_model.plane = planes == "y" ? Plane::y : Plane::x;
    for (int plane = 0; plane < 2; ++plane) {
      if ((plane == 0 && planes == "y") || (plane == 1 && planes == "x")) continue;
      std::vector<std::vector<double>> r = tracked(lattice, plane, errors, fixed);
      std::string text;
      for (std::size_t i = 0; i < r.size(); ++i) {
        for (std::size_t j = 0; j < r[i].size(); ++j)
          text += (j ? "," : "") + ThinLattice::number(r[i][j] * (calibrations ? gain(plane, i, r.size()) * strength(plane, j) : 1.0));
        text += "\n";
      }
      const std::string path = dir.file(plane == 0 ? "x.csv" : "y.csv");
      write(path, text);
      (plane == 0 || planes == "y" ? options.measurement.measured : *(options.quadrupoles.measured_y = path)) = path;
    }
  }

  // Known calibrations, their log gains summing to 0 in each plane.
  static double gain(int plane, std::size_t i, std::size_t monitors) {
    double mean = 0.0;
    for (std::size_t k = 0; k < monitors; ++k) mean += log_gain(plane, k) / static_cast<double>(monitors);
    return std::exp(log_gain(plane, i) - mean);
  }
  static double log_gain(int plane, std::size_t i) { return 0.03 * std::sin(1.3 * static_cast<double>(i) + plane); }
  static double strength(int plane, std::size_t j) { return 1.0 + 0.02 * std::cos(0.9 * static_cast<double>(j) + plane); }
  static void write(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

  [[nodiscard]] std::vector<FitParameter> parameters() const {
    std::ifstream in(dir.file("parameters.csv"));
    std::vector<FitParameter> list;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::stringstream fields(line);
      FitParameter p;
      std::string value, error;
      std::getline(fields, p.kind, ',');
      std::getline(fields, p.name, ',');
      std::getline(fields, value, ',');
      std::getline(fields, error, ',');
      p.value = std::stod(value);
      p.error = std::stod(error);
      list.push_back(p);
    }
    return list;
  }
  [[nodiscard]] nlohmann::json summary() const { return nlohmann::json::parse(std::ifstream(dir.file("summary.json"))); }
};

TEST(QuadrupoleFit, RecoversTrackedErrorsInOnePlaneBothAndWithCalibrations) {
  struct Case {
    bool ring;
    const char *planes;
    bool calibrations;
    bool fixed = false;  // with bends, at a fixed RF frequency
  };
  for (const Case c : {Case{true, "x", false}, Case{true, "y", false}, Case{true, "both", false},
                       Case{true, "both", true}, Case{false, "both", false}, Case{false, "both", true},
                       Case{true, "x", false, true}, Case{true, "both", true, true}}) {
    SCOPED_TRACE(std::string(c.ring ? "ring " : "line ") + c.planes + (c.calibrations ? " calibrations" : "") + (c.fixed ? " fixed" : ""));
    const ThinLattice lattice = c.ring ? ring_lattice(c.fixed ? 0.2 : 0.0) : line_lattice();
    const std::vector<double> errors = errors_for(lattice.quadrupoles_before(SIZE_MAX));
    FitCase fit(lattice, c.ring, c.planes, errors, c.calibrations, c.fixed);
    const CommandResult result = run_fit(fit.options);
    ASSERT_FALSE(result.error) << result.error->message;
    std::size_t q = c.ring ? 0 : 1;  // the line's first quadrupole and its last are unobservable
    int gains = 0;
    for (const FitParameter &p : fit.parameters()) {
      if (p.kind == "quadrupole_gradient") {
        EXPECT_NEAR(p.value, errors[q++], 1e-8) << p.name;
      }
      if (p.kind == "monitor_gain") {
        const int plane = c.planes == std::string("both") && p.name.ends_with(":y") ? 1 : 0;
        const std::size_t monitors = c.ring ? 16 : 10;
        EXPECT_NEAR(p.value, FitCase::gain(plane, static_cast<std::size_t>(gains++) % monitors, monitors), 1e-8) << p.name;
      }
    }
    const nlohmann::json summary = fit.summary();
    if (!c.ring) {
      EXPECT_EQ(summary["unobservable"], nlohmann::json({"QF0", "QEND"}));
    }
    EXPECT_LT(summary["rms_after"].get<double>(), 1e-12 * summary["rms_before"].get<double>());
  }
}

TEST(QuadrupoleFit, FirstOrderBetaBeatingAgreesWithTheTrackedLattice) {
  const ThinLattice lattice = ring_lattice();
  std::vector<double> errors = errors_for(lattice.quadrupoles_before(SIZE_MAX));
  for (double &e : errors) e *= 0.01;
  double design_tune[2], tune[2];
  const std::vector<TwissAt> design = lattice.twiss(std::vector<double>(errors.size(), 0.0), design_tune);
  const std::vector<TwissAt> perturbed = lattice.twiss(errors, tune);
  for (int plane = 0; plane < 2; ++plane) {
    std::vector<OpticsElement> monitors, quadrupoles;
    std::vector<double> tracked;
    for (std::size_t r = 0; r < design.size(); ++r) {
      const OpticsElement e{design[r].name, design[r].s, design[r].beta[plane], design[r].mu[plane]};
      if (design[r].kind == 'Q') quadrupoles.push_back(e);
      if (design[r].kind != 'M') continue;
      monitors.push_back(e);
      tracked.push_back(perturbed[r].beta[plane] / design[r].beta[plane] - 1.0);
    }
    std::vector<double> focusing = errors;
    for (double &e : focusing) e *= plane == 0 ? 1.0 : -1.0;
    const std::vector<double> first_order = beta_beating(monitors, quadrupoles, focusing, design_tune[plane]);
    double largest = 0.0;
    for (const double b : tracked) largest = std::max(largest, std::fabs(b));
    ASSERT_GT(largest, 1e-4);
    for (std::size_t i = 0; i < tracked.size(); ++i) EXPECT_NEAR(first_order[i], tracked[i], 0.02 * largest) << i;
  }
}

TEST(QuadrupoleFit, RefusalsWriteNothing) {
  const ThinLattice lattice = ring_lattice();
  FitCase fit(lattice, true, "x", errors_for(lattice.quadrupoles_before(SIZE_MAX)), false);
  const std::string tool = RESPMAT_EXE, folder = fit.dir.path().string();
  const std::string common = " fit --fit quadrupoles --optics optics.tfs --layout monitors-by-correctors --measured x.csv"
                             " --parameters out.csv ";
  std::string half = lattice.table();
  half.replace(half.find("@ Q1 %le ") + 9, half.find('\n') - 9, "3.5");
  FitCase::write(fit.dir.file("half.tfs"), half);
  struct Refusal {
    const char *args;
    int status;
  };
  for (const Refusal r : {Refusal{"--lattice ring --plane both", 64}, Refusal{"--lattice ring --rcond 1", 64},
                          Refusal{"--lattice ring --measured-y x.csv", 64}, Refusal{"--beta-beating b.csv", 64},
                          Refusal{"--lattice ring --exclude-outliers", 64}, Refusal{"--lattice ring --rf fixed", 64},
                          Refusal{"--lattice ring --quadrupoles-match ^NONE", 1},
                          Refusal{"--lattice ring --optics half.tfs", 1}}) {
    const int raw = std::system(("cd " + folder + " && " + tool + common + r.args + " 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(raw), r.status) << r.args;
    EXPECT_FALSE(std::filesystem::exists(fit.dir.file("out.csv"))) << r.args;
  }
  const int raw = std::system(("cd " + folder + " && " + tool + " fit --calibrations 2>/dev/null").c_str());
  EXPECT_EQ(WEXITSTATUS(raw), 64);
}

#ifndef RESPMAT_PULL_DRAWS
#define RESPMAT_PULL_DRAWS 12
#endif

TEST(QuadrupoleFit, PullsUnderNoiseHaveMeanZeroAndUnitSpread) {
  const ThinLattice lattice = ring_lattice();
  const std::vector<double> errors = errors_for(lattice.quadrupoles_before(SIZE_MAX));
  std::vector<analysis::QuadrupoleMeasurement> planes;
  for (int plane = 0; plane < 2; ++plane) {
    const Dense tracked = dense(lattice.response(plane, errors));
    planes.push_back({closed_form(lattice, true, plane), tracked, std::vector<double>(tracked.values.size(), 1.0 / 1e-3)});
  }
  std::mt19937_64 random(20261209);
  std::normal_distribution<double> noise(0.0, 1e-3);
  double sum = 0.0, squares = 0.0;
  std::size_t count = 0;
  for (int draw = 0; draw < RESPMAT_PULL_DRAWS; ++draw) {
    std::vector<analysis::QuadrupoleMeasurement> noisy = planes;
    for (analysis::QuadrupoleMeasurement &p : noisy)
      for (double &v : p.measured.values) v += noise(random);
    std::string reason;
    const auto fit = analysis::fit_quadrupoles(noisy, {false, true, {}, {}, 0.0}, reason);
    ASSERT_TRUE(fit) << reason;
    for (std::size_t q = 0; q < fit->errors.size(); ++q) {
      const double pull = (fit->errors[q] - errors[q]) / fit->error_errors[q];
      sum += pull;
      squares += pull * pull;
      ++count;
    }
  }
  const double mean = sum / static_cast<double>(count), spread = std::sqrt(squares / static_cast<double>(count) - mean * mean);
  const double tolerance = 4.0 / std::sqrt(static_cast<double>(count));
  EXPECT_NEAR(mean, 0.0, tolerance);
  EXPECT_NEAR(spread, 1.0, tolerance);
}

}  // namespace
}  // namespace respmat
