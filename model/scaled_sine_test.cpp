#include "model/scaled_sine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model/phase_model.h"
#include "reference_model.h"

namespace {

using respmat::ScaledSine;
using respmat::model_argument;

std::uint64_t bits_of(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

std::vector<double> column0(const std::string &name) {
  std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/optics/") + name);
  std::vector<double> phases;
  std::string line;
  while (std::getline(in, line)) phases.push_back(std::atof(line.c_str()));
  return phases;
}

TEST(ScaledSine, EqualsSinlOnRandomModelArguments) {
  const ScaledSine scaled_sine(respmat::kAmplitude);
  std::mt19937_64 rng(8);
  const double spans[] = {0.5, 4, 64, 5000, 200000};
  long long mismatches = 0;
  for (int trial = 0; trial < 1000000; ++trial) {
    std::uniform_real_distribution<double> turns(-spans[trial % 5], spans[trial % 5]);
    const long double u = model_argument(turns(rng), turns(rng));
    mismatches += bits_of(scaled_sine(u)) != bits_of(scaled_sine.exact(u));
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(ScaledSine, EqualsSinlOnEveryPairOfRealPhaseTables) {
  const ScaledSine scaled_sine(respmat::kAmplitude);
  for (const char *name : {"lhcb1_inj2018_model_bpms.csv", "lhcb1_2018-10-27_measured_total_phase.csv",
                           "sps_q20_model_bpms.csv", "iota_v8.3_model_bpms.csv"}) {
    const std::vector<double> phases = column0(name);
    ASSERT_GT(phases.size(), 20u);
    long long mismatches = 0;
    for (double pi : phases)
      for (double pj : phases) {
        const long double u = model_argument(pi, pj);
        mismatches += bits_of(scaled_sine(u)) != bits_of(scaled_sine.exact(u));
      }
    EXPECT_EQ(mismatches, 0) << name;
  }
}

TEST(PhaseModel, RowsEqualTheStraightforwardEntryOnRealAndHostilePhases) {
  std::vector<double> phases = column0("sps_q20_model_bpms.csv");
  phases.insert(phases.end(), {1e300, -0.0, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 5e-324, 123456.789});
  std::vector<double> row(phases.size());
  const respmat::PhaseModel model(phases.data(), static_cast<std::int32_t>(phases.size()));
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(phases.size()); ++i) {
    model.row(i, row.data());
    for (std::int32_t j = 0; j <= i; ++j) {
      const double exact = respmat::model_entry(phases[i], phases[j]);
      ASSERT_TRUE(bits_of(row[j]) == bits_of(exact) || (std::isnan(row[j]) && std::isnan(exact)))
          << i << "," << j;
    }
  }
}

TEST(ScaledSine, EqualsSinlAtAwkwardArguments) {
  const ScaledSine scaled_sine(respmat::kAmplitude);
  const long double inf = std::numeric_limits<long double>::infinity();
  std::vector<long double> arguments = {0.0L, -0.0L, 1e-30L, -1e-4000L, 0x1p20L, -0x1p20L, 1e30L, inf, -inf,
                                        std::numeric_limits<long double>::quiet_NaN(),
                                        std::numeric_limits<long double>::denorm_min()};
  // Multiples of pi/4 and their neighbours: reduction boundaries and zero crossings.
  for (int k = -400; k <= 400; ++k) {
    const long double x = k * 0.78539816339744830961566084581987572L;
    arguments.insert(arguments.end(), {x, nextafterl(x, inf), nextafterl(x, -inf)});
  }
  // Table boundaries: halfway between points 1/128 apart.
  for (int k = -101; k <= 101; ++k) {
    const long double x = (k + 0.5L) / 128;
    arguments.insert(arguments.end(), {x, nextafterl(x, inf), nextafterl(x, -inf)});
  }
  for (long double u : arguments) {
    const double fast = scaled_sine(u), exact = scaled_sine.exact(u);
    EXPECT_TRUE(bits_of(fast) == bits_of(exact) || (std::isnan(fast) && std::isnan(exact)))
        << static_cast<double>(u);
  }
}

TEST(ScaledSine, ApproximationStaysWithinTheMarginItsRoundingTestAssumes) {
  const ScaledSine scaled_sine(respmat::kAmplitude);
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> turns(-100, 100);
  long double worst = 0;
  for (int trial = 0; trial < 200000; ++trial) {
    const long double u = model_argument(turns(rng), turns(rng));
    const long double exact = sinl(u);
    if (fabsl(exact) < 1e-6L) continue;
    worst = fmaxl(worst, fabsl((scaled_sine.approximate_sine(u) - exact) / exact));
  }
  EXPECT_LT(worst, 0x1p-61L);
}

}  // namespace
