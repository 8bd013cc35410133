#include "output/model_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference_model.h"
#include "model/phase_model.h"
#include "output/row_text.h"
#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::testing::contents_of;

// The m x m model of `phases` as comma-separated text.
int write_model_csv(const double *phases, std::int32_t m, std::FILE *stream, int threads) {
  return respmat::write_model_text(respmat::PhaseModel(phases, m), respmat::ModelText{}, stream, threads);
}

std::string written_text(const std::vector<double> &phases, std::int32_t m, int threads) {
  const respmat::testing::OwnedFile file(std::tmpfile());
  EXPECT_EQ(write_model_csv(phases.data(), m, file.get(), threads), 0);
  return contents_of(file.get());
}

std::string reference_text(const std::vector<double> &phases, std::int32_t m) {
  const respmat::OwnedMatrix P(matrix_alloc(m, 1));
  for (std::int32_t i = 0; i < m; ++i) P.get()[i][0] = phases[static_cast<std::size_t>(i)];
  const respmat::OwnedMatrix G(matrix_alloc(m, m));
  respmat::fill_model(G.get(), P.get());
  const respmat::testing::OwnedFile file(std::tmpfile());
  respmat::detail::write_csv_reference(G.get(), file.get(), 0);
  return contents_of(file.get());
}

std::vector<double> real_phases() {
  std::ifstream in(RESPMAT_TEST_DATA_DIR "/optics/lhcb1_2018-10-27_measured_total_phase.csv");
  std::vector<double> phases;
  for (std::string line; std::getline(in, line);) phases.push_back(std::atof(line.c_str()));
  return phases;
}

TEST(ModelWriter, ThreadCountNeverChangesAByte) {
  std::mt19937_64 rng(41);
  std::uniform_real_distribution<double> turns(-60, 60);
  std::vector<double> random(900);
  for (double &phase : random) phase = turns(rng);
  std::vector<double> hostile = {0.0, -0.0, std::numeric_limits<double>::infinity(), 1e300,
                                 std::numeric_limits<double>::quiet_NaN(), 5e-324, 0.25};
  const std::vector<double> real = real_phases();
  ASSERT_GT(real.size(), 500u);
  for (const auto &[phases, sizes] : {std::pair{random, std::vector<std::int32_t>{0, 1, 2, 363, 900}},
                                      std::pair{hostile, std::vector<std::int32_t>{7}},
                                      std::pair{real, std::vector<std::int32_t>{static_cast<std::int32_t>(real.size())}}})
    for (const std::int32_t m : sizes) {
      const std::string expected = reference_text(phases, m);
      for (const int threads : {1, 2, 7}) EXPECT_TRUE(written_text(phases, m, threads) == expected) << m << " " << threads;
    }
}

// A stream that takes `accept` bytes, then fails every write with `error`, counting
// the writes attempted after the first failure.
struct FailingSink {
  std::size_t accept;
  int error;
  int writes_after_failure = 0;
  bool failed = false;

  static ssize_t write(void *cookie, const char *, std::size_t size) {
    auto &sink = *static_cast<FailingSink *>(cookie);
    if (sink.failed) ++sink.writes_after_failure;
    if (size <= sink.accept && !sink.failed) {
      sink.accept -= size;
      return static_cast<ssize_t>(size);
    }
    sink.failed = true;
    errno = sink.error;
    return -1;
  }
  respmat::testing::OwnedFile open() {
    return respmat::testing::OwnedFile(fopencookie(this, "w", {nullptr, &FailingSink::write, nullptr, nullptr}));
  }
};

TEST(ModelWriter, StopsAtTheFirstFailedWriteAndReportsItsError) {
  std::vector<double> phases(3000);
  for (std::size_t i = 0; i < phases.size(); ++i) phases[i] = 0.37 * static_cast<double>(i);
  // A sine of an infinite argument sets errno to EDOM on the computing thread; the
  // write's own error must come back, not that one.
  phases[1] = std::numeric_limits<double>::infinity();
  for (const int threads : {1, 2, 7}) {
    FailingSink sink{1 << 20, EIO};
    const respmat::testing::OwnedFile stream = sink.open();
    EXPECT_EQ(write_model_csv(phases.data(), 3000, stream.get(), threads), EIO) << threads;
    // Before closing, which flushes what is left. Within the failing call stdio may
    // try once more to hand over what it had buffered; nothing after that call.
    EXPECT_LE(sink.writes_after_failure, 1) << threads;
  }
}

}  // namespace

namespace {

// Every digit count writes what printf("%.*g") writes, the fast 16-digit path too.
TEST(RowText, NumbersAreWhatPrintfWritesForEveryDigitCount) {
  std::mt19937_64 rng(17);
  std::vector<double> values = {0.0, -0.0, 1.0, 0.1, 1e-320, -5e-324, 1.7976931348623157e308, 123456789012345678.0,
                                std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  for (int k = 0; k < 20000; ++k) {
    const std::uint64_t bits = rng();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(k % 2 ? value : std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 60));
  }
  for (int digits = 1; digits <= 17; ++digits)
    for (const double value : values) {
      char fast[32] = {}, expected[64];
      *respmat::format_number(value, digits, fast) = '\0';
      std::snprintf(expected, sizeof expected, "%.*g", digits, value);
      ASSERT_STREQ(fast, expected) << digits;
    }
}

// A rectangular model with names, zeros past each row's reach and a separator of its
// own: the same text on any number of threads, and each row as the row writer has it.
TEST(ModelWriter, RectangularNamedRowsAreTheSameOnAnyThreads) {
  class Staircase final : public respmat::ResponseModel {
   public:
    std::int32_t rows() const override { return 700; }
    std::int32_t cols() const override { return 90; }
    std::int32_t row(std::int32_t i, double *out) const override {
      const std::int32_t reach = (i * 7) % 91;
      for (std::int32_t j = 0; j < reach; ++j) out[j] = std::sin(0.37 * i - 1.3 * j) * (i + 1);
      return reach;
    }
    double bound() const override { return 700.0; }
    std::vector<std::string> monitor_names() const override { return respmat::index_names(700); }
    std::vector<std::string> corrector_names() const override { return respmat::index_names(90); }
  } model;
  respmat::ModelText text;
  text.header = "header\n";
  text.rows = {' ', 9, model.monitor_names(), true};
  text.trailer.clear();
  std::string expected = text.header;
  const respmat::RowText rows(text.rows, model.cols());
  std::vector<double> values(90);
  std::vector<char> line(rows.bound(0, 90) + 8);
  for (std::int32_t i = 0; i < model.rows(); ++i) {
    const std::int32_t reach = model.row(i, values.data());
    std::string row = "\"" + std::to_string(i) + "\"";
    for (std::int32_t j = 0; j < model.cols(); ++j) {
      char number[32];
      std::snprintf(number, sizeof number, " %.9g", j < reach ? values[static_cast<std::size_t>(j)] : 0.0);
      row += number;
    }
    expected += row + "\n";
    ASSERT_EQ(std::string(line.data(), rows.write(i, values.data(), reach, line.data())), row + "\n");
  }
  for (const int threads : {1, 2, 5}) {
    const respmat::testing::OwnedFile file(std::tmpfile());
    ASSERT_EQ(respmat::write_model_text(model, text, file.get(), threads), 0);
    EXPECT_TRUE(contents_of(file.get()) == expected) << threads;
  }
}

}  // namespace
