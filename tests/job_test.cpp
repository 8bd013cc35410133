#include <gtest/gtest.h>
#include <filesystem>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/report.h"
#include "reference_job.h"
#include "respmat/owners.hpp"
#include "test_support.h"

namespace {

using respmat::testing::OwnedFile;
using respmat::testing::TempDir;
using respmat::testing::contents_of;
using respmat::testing::read_bytes;
using respmat::testing::write_bytes;

struct DriverRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the main job in `dir` with the inputs named as on the command line.
DriverRun run_in(const TempDir &dir) {
  const std::string response = dir.file("response.csv");
  const std::string phases = dir.file("phases.csv");
  const std::string output = dir.file("er.csv");
  const respmat::DriverPaths paths{response.c_str(), phases.c_str(), output.c_str()};
  OwnedFile out(std::tmpfile());
  OwnedFile err(std::tmpfile());
  const int status = respmat::run_driver(paths, out.get(), err.get());
  return {status, contents_of(out.get()), contents_of(err.get())};
}

// The model text computed the obvious way: sinl in long double, printf "%.16lg".
std::string reference_model(const std::vector<double> &phases, int m) {
  std::string text;
  char number[64];
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) {
      double value = 0.0;
      if (i >= j) {
        const long double d = (long double)phases[i] - (long double)phases[j];
        const long double u = d * (long double)6.283185307179586 + (long double)0.1696;
        value = (double)(sinl(u) * (long double)0.47247222310000003);
      }
      std::snprintf(number, sizeof number, "%.16lg", value);
      if (j != 0) text += ',';
      text += number;
    }
    text += '\n';
  }
  return text + '\n';
}

TEST(TransformPair, ScalesAThenMixesItIntoB) {
  double a = 2.0, b = 3.0;
  transform_pair(&a, &b);
  const double stored_a = (double)(2.0L * (long double)0.47247222310000003);
  EXPECT_EQ(a, stored_a);
  EXPECT_EQ(b, (double)(3.0L * (long double)0.340975131 - (long double)stored_a * (long double)0.633062082));
}

TEST(ModelEntry, DiagonalAndQuarterTurn) {
  const double diagonal = respmat::model_entry(0.25, 0.25);
  EXPECT_EQ(diagonal, (double)(sinl((long double)0.1696) * (long double)0.47247222310000003));
  EXPECT_NEAR(diagonal, 0.0797476896, 1e-10);
  EXPECT_EQ(respmat::model_entry(0.25, 0.0),
            (double)(sinl(0.25L * (long double)6.283185307179586 + (long double)0.1696) *
                     (long double)0.47247222310000003));
}

TEST(Job, ThreeMonitorExample) {
  TempDir dir;
  write_bytes(dir.file("response.csv"), "9,9,9\n9,9,9\n");
  write_bytes(dir.file("phases.csv"), "0,7\n0.25,7\n0.5,7\n0.75\n");
  const DriverRun run = run_in(dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "m=3\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_bytes(dir.file("er.csv")), reference_model({0, 0.25, 0.5}, 3));
}

TEST(Job, NoColumnsWritesASingleLineFeed) {
  TempDir dir;
  write_bytes(dir.file("response.csv"), "");
  write_bytes(dir.file("phases.csv"), "");
  const DriverRun run = run_in(dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "m=0\n");
  EXPECT_EQ(read_bytes(dir.file("er.csv")), "\n");
}

// Writes `value` in one of many spellings that atof reads as the same number.
std::string awkward(double value, std::mt19937_64 &rng) {
  char text[64];
  switch (rng() % 7) {
    case 0: std::snprintf(text, sizeof text, "%.17g", value); break;
    case 1: std::snprintf(text, sizeof text, "  %.17g", value); break;
    case 2: std::snprintf(text, sizeof text, "%a", value); break;
    case 3: std::snprintf(text, sizeof text, "%+.20e", value); break;
    case 4: std::snprintf(text, sizeof text, "%.17gjunk", value); break;
    case 5: std::snprintf(text, sizeof text, "\t%.17g\"", value); break;
    default: std::snprintf(text, sizeof text, "%.25f", value); break;
  }
  return text;
}

TEST(Job, MatchesTheStraightforwardComputationOnAwkwardInputs) {
  std::mt19937_64 rng(12345);
  const char *line_ends[] = {"\n", "\r\n", "\r"};
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const int m = static_cast<int>(rng() % 24);
    const char *eol = line_ends[rng() % 3];
    std::string response;
    for (int c = 0; c < m; ++c) response += (c ? "," : "") + std::to_string(rng() % 1000);
    if (m != 0) response += std::string(eol) + "1,2" + eol;  // later rows are never read
    std::vector<double> phases;
    std::string phase_text;
    std::uniform_real_distribution<double> turns(-40.0, 40.0);
    const int rows = m + static_cast<int>(rng() % 3);
    for (int r = 0; r < rows; ++r) {
      const std::string field = rng() % 10 == 0 ? std::string() : awkward(turns(rng), rng);
      phases.push_back(std::atof(field.c_str()));
      phase_text += field;
      phase_text += rng() % 2 ? ",1.5,x" : "";
      if (r + 1 < rows || rng() % 2) phase_text += eol;
    }
    TempDir dir;
    write_bytes(dir.file("response.csv"), response);
    write_bytes(dir.file("phases.csv"), phase_text);
    const DriverRun run = run_in(dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "m=" + std::to_string(m) + "\n");
    EXPECT_EQ(read_bytes(dir.file("er.csv")), reference_model(phases, m)) << phase_text;
  }
}

TEST(Job, BadInputsAreReportedAndLeaveThePreviousOutput) {
  TempDir dir;
  write_bytes(dir.file("er.csv"), "previous\n");
  // The response file is missing.
  write_bytes(dir.file("phases.csv"), "0\n1\n");
  DriverRun run = run_in(dir);
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("response.csv: No such file or directory"), std::string::npos) << run.err;
  // Too few phases for the columns of the response matrix.
  write_bytes(dir.file("response.csv"), "1,2,3\n");
  run = run_in(dir);
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_NE(run.err.find("phases.csv: has 2 rows"), std::string::npos) << run.err;
  // The phases file is a directory.
  std::filesystem::remove(dir.file("phases.csv"));
  std::filesystem::create_directory(dir.file("phases.csv"));
  run = run_in(dir);
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_NE(run.err.find("phases.csv"), std::string::npos);
  EXPECT_EQ(read_bytes(dir.file("er.csv")), "previous\n");
}

TEST(Job, UnwritableOutputIsReportedAndLeavesNoTemporaryFile) {
  TempDir dir;
  write_bytes(dir.file("response.csv"), "1\n");
  write_bytes(dir.file("phases.csv"), "0\n");
  std::filesystem::create_directory(dir.file("er.csv"));  // cannot be replaced by a file
  const DriverRun run = run_in(dir);
  EXPECT_EQ(run.status, respmat::kExitWriteFailed);
  EXPECT_NE(run.err.find("er.csv: Is a directory"), std::string::npos) << run.err;
  std::size_t files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) files += entry.exists();
  EXPECT_EQ(files, 3u);
}

TEST(Job, ReplacesAnExistingOutputWhole) {
  TempDir dir;
  write_bytes(dir.file("er.csv"), std::string(100000, 'x'));
  write_bytes(dir.file("response.csv"), "1,1\n");
  write_bytes(dir.file("phases.csv"), "0.1\n0.2\n");
  ASSERT_EQ(run_in(dir).status, 0);
  EXPECT_EQ(read_bytes(dir.file("er.csv")), reference_model({0.1, 0.2}, 2));
  std::size_t files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) files += entry.exists();
  EXPECT_EQ(files, 3u);  // no temporary file left behind
}

TEST(Job, FastAndStraightforwardRunsAgreeOnRealPhaseTables) {
  for (const char *name : {"lhcb1_2018-10-27_measured_total_phase.csv", "sps_q20_model_bpms.csv"}) {
    TempDir dir;
    std::string response;
    for (int c = 0; c < 150; ++c) response += c ? ",0.5" : "0.5";
    write_bytes(dir.file("response.csv"), response + "\n");
    std::filesystem::copy_file(std::string(RESPMAT_TEST_DATA_DIR "/optics/") + name, dir.file("phases.csv"));
    const DriverRun fast = run_in(dir);
    ASSERT_EQ(fast.status, 0) << fast.err;
    const std::string fast_output = read_bytes(dir.file("er.csv"));
    const std::string response_path = dir.file("response.csv"), phases_path = dir.file("phases.csv"),
                      output_path = dir.file("er.csv");
    OwnedFile out(std::tmpfile()), err(std::tmpfile());
    ASSERT_EQ(respmat::run_driver_reference({response_path.c_str(), phases_path.c_str(), output_path.c_str()},
                                            out.get(), err.get()),
              0);
    EXPECT_EQ(contents_of(out.get()), fast.out);
    EXPECT_EQ(read_bytes(dir.file("er.csv")), fast_output) << name;
  }
}

// The binary form and the heat map take the model a row at a time, apart from the
// comma-separated writer: their matrix must be the straightforward one, bit for bit.
TEST(Job, RowStreamedOutputsEqualTheStraightforwardMatrix) {
  std::mt19937_64 rng(99);
  const double hostile[] = {0.0, -0.0, 1e300, -1e-310, NAN, INFINITY, 1e6 + 0.25, 4e15, -2.5};
  for (int trial = 0; trial < 30; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    TempDir dir;
    const int m = static_cast<int>(rng() % 60);
    std::string text;
    const respmat::OwnedMatrix phases(matrix_alloc(m, 1));
    std::uniform_real_distribution<double> turns(-50.0, 50.0);
    for (int r = 0; r < m; ++r) {
      phases.get()[r][0] = rng() % 8 == 0 ? hostile[rng() % std::size(hostile)] : turns(rng);
      char number[40];
      std::snprintf(number, sizeof number, "%a\n", phases.get()[r][0]);
      text += number;
    }
    write_bytes(dir.file("phases.csv"), text);
    respmat::ModelOptions job;
    job.source.phases = dir.file("phases.csv");
    job.source.monitors = m;
    job.source.strict_phases = false;  // infinities and NaNs as well
    OwnedFile out(std::tmpfile()), err(std::tmpfile());
    job.output = dir.file("plain.csv");
    ASSERT_EQ(respmat::run_reported(job, out.get(), err.get()), 0);
    job.output = dir.file("with_map.csv");
    job.heatmap = dir.file("map.png");
    ASSERT_EQ(respmat::run_reported(job, out.get(), err.get()), 0);
    EXPECT_EQ(read_bytes(dir.file("plain.csv")), read_bytes(dir.file("with_map.csv")));
    job.output = dir.file("model.bin");
    job.form.format = respmat::OutputFormat::bin;
    ASSERT_EQ(respmat::run_reported(job, out.get(), err.get()), 0);
    const respmat::OwnedMatrix model(matrix_alloc(m, m));
    respmat::fill_model(model.get(), phases.get());
    matrix_save_bin(model.get(), dir.file("expected.bin").c_str());
    EXPECT_EQ(read_bytes(dir.file("model.bin")), read_bytes(dir.file("expected.bin"))) << text;
  }
}

TEST(Tool, RunsTheBundledExampleFromItsRunFolder) {
  TempDir dir;
  const std::string examples = RESPMAT_EXAMPLES_DIR;
  for (const char *name : {"reponsematx_H0.1A.csv", "realmachinephases.csv"})
    std::filesystem::copy_file(examples + "/" + name, dir.file(name));
  std::filesystem::create_directory(dir.file("run"));
  const std::string command = "cd '" + dir.file("run") + "' && '" RESPMAT_EXE "' > stdout.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read_bytes(dir.file("run/stdout.txt")), "m=36\n");
  EXPECT_EQ(read_bytes(dir.file("run/er.csv")), read_bytes(RESPMAT_TEST_DATA_DIR "/example_er.csv"));
}

}  // namespace
