// The command line, through the real binary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "job/job_report.h"
#include "job/reference_job.h"
#include "job/model.h"
#include "job/picture_test_support.h"
#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "respmat/version.h"
#include "test_support.h"

namespace {

using respmat::testing::OwnedFile;
using respmat::testing::Picture;
using respmat::testing::Pixel;
using respmat::testing::TempDir;
using respmat::testing::contents_of;
using respmat::testing::read_bytes;
using respmat::testing::write_bytes;

const std::string kExamples = RESPMAT_EXAMPLES_DIR;
const std::string kData = RESPMAT_TEST_DATA_DIR;

struct ToolRun {
  int status;  // the exit status, or -1 when a signal ended the tool
  std::string out;
  std::string err;
};

// Runs the tool in `folder` with `args`; standard output goes to `stdout_fd` when
// given, else it is captured.
ToolRun run_tool(const std::string &folder, const std::vector<std::string> &args, int stdout_fd = -1) {
  const std::string out_path = folder + "/../stdout.txt", err_path = folder + "/../stderr.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char *> argv{const_cast<char *>(RESPMAT_EXE)};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const int out = stdout_fd >= 0 ? stdout_fd : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::chdir(folder.c_str()) != 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    ::execv(RESPMAT_EXE, argv.data());
    ::_exit(127);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_bytes(out_path), read_bytes(err_path)};
}

// A scratch folder with a run folder inside, where the tool runs.
struct Workspace {
  TempDir dir;
  std::string run = dir.file("run");
  Workspace() { std::filesystem::create_directory(run); }
  std::string at(const std::string &name) const { return dir.file(name); }
  ToolRun tool(const std::vector<std::string> &args, int stdout_fd = -1) const { return run_tool(run, args, stdout_fd); }
  std::string output(const std::string &name = "er.csv") const { return read_bytes(run + "/" + name); }
};

// The old way: the straightforward job on a response file of m columns.
std::string reference_matrix(const std::string &phases_csv, std::int32_t m, std::string *out = nullptr) {
  TempDir dir;
  std::string response = m > 0 ? "1" : "";
  for (std::int32_t k = 1; k < m; ++k) response += ",1";
  write_bytes(dir.file("r.csv"), response + "\n");
  const std::string r = dir.file("r.csv"), o = dir.file("er.csv");
  OwnedFile stdout_file(std::tmpfile()), stderr_file(std::tmpfile());
  EXPECT_EQ(respmat::run_driver_reference({r.c_str(), phases_csv.c_str(), o.c_str()}, stdout_file.get(),
                                          stderr_file.get()),
            0);
  if (out != nullptr) *out = contents_of(stdout_file.get());
  return read_bytes(o);
}

std::string random_phases(std::mt19937_64 &rng, int rows) {
  std::string text;
  std::uniform_real_distribution<double> turns(-30.0, 30.0);
  char number[40];
  for (int r = 0; r < rows; ++r) {
    std::snprintf(number, sizeof number, "%.17g", turns(rng));
    text += number + std::string(rng() % 2 ? ",0.5\n" : "\n");
  }
  return text;
}

TEST(Tool, BareRunMatchesTheStraightforwardJob) {
  std::mt19937_64 rng(2024);
  for (int trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Workspace ws;
    const int m = static_cast<int>(rng() % 40), rows = m + static_cast<int>(rng() % 3) - (trial == 5);
    std::string phases = random_phases(rng, rows);
    if (trial % 4 == 1 && m > 2) phases.insert(phases.find('\n') + 1, "junk");  // read as 0 and warned about
    std::string response = "9";
    for (int k = 1; k < m; ++k) response += ",9";
    write_bytes(ws.at("reponsematx_H0.1A.csv"), response + "\n");
    write_bytes(ws.at("realmachinephases.csv"), phases);
    write_bytes(ws.run + "/er.csv", "previous\n");
    const ToolRun run = ws.tool({});
    const std::string output = ws.output();
    OwnedFile out(std::tmpfile()), err(std::tmpfile());
    const std::string r = ws.at("reponsematx_H0.1A.csv"), p = ws.at("realmachinephases.csv"), o = ws.run + "/er.csv";
    write_bytes(o, "previous\n");
    EXPECT_EQ(run.status, respmat::run_driver_reference({r.c_str(), p.c_str(), o.c_str()}, out.get(), err.get()));
    EXPECT_EQ(run.out, contents_of(out.get()));
    EXPECT_EQ(output, read_bytes(o));
    if (phases.find("junk") != std::string::npos) {
      EXPECT_NE(run.err.find("realmachinephases.csv:2: column 0: \"junk"), std::string::npos) << run.err;
    }
  }
}

TEST(Tool, HelpAndVersionTouchNothing) {
  Workspace ws;
  write_bytes(ws.run + "/er.csv", "previous\n");
  for (const char *help : {"--help", "-h"}) {
    const ToolRun run = ws.tool({help, "--bogus"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: respmat [options]\n", 0), 0u);
    EXPECT_EQ(run.err, "");
  }
  const ToolRun run = ws.tool({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("respmat ") + respmat_version() + "\n");
  EXPECT_EQ(ws.output(), "previous\n");
}

TEST(Tool, UsageErrorsExit64AndWriteNothing) {
  Workspace ws;
  write_bytes(ws.at("p.csv"), "Name,Phase\nA,0.5\n");
  write_bytes(ws.run + "/er.csv", "previous\n");
  const std::string p = ws.at("p.csv"), iota = kExamples + "/optics/iota_v8.3_twiss.tfs";
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"}, {"-x"}, {"extra"}, {"-p", p, "extra"}, {"-m"}, {"-m", "abc"}, {"-m", "-1"},
      {"--threads", "5000"}, {"--threads", "x"}, {"-f", "xml"}, {"-c", ""}, {"--heatmap", "-"},
      {"-r", p, "-m", "3"}, {"-p", p, "-c", "phases"}, {"-p", iota}, {"-p", iota, "-c", "NAME"},
      {"-p", p, "-o", p}, {"-p", p, "-m", "1", "--heatmap", "er.csv"}, {"--response"}, {"--version=1"}};
  for (const auto &args : cases) {
    const ToolRun run = ws.tool(args);
    EXPECT_EQ(run.status, respmat::kExitUsage) << args[0] << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("respmat: ") && run.err.ends_with("; try 'respmat --help'\n") &&
                run.err.find('\n') == run.err.size() - 1) << run.err;
  }
  EXPECT_EQ(ws.output(), "previous\n");
  EXPECT_EQ(read_bytes(p), "Name,Phase\nA,0.5\n");
  EXPECT_NE(ws.tool({"-p", iota}).err.find("the columns to choose from are S, BETX"), std::string::npos);
}

TEST(Tool, OpticsTablesGiveTheMatrixOfTheirColumnAsCsv) {
  const struct {
    std::string table, column, csv;
    int rows;
  } cases[] = {
      {kExamples + "/optics/iota_v8.3_twiss.tfs", "MUX", kData + "/optics/iota_v8.3_model_bpms.csv", 21},
      {kData + "/tfs/lhcb1_measured_total_phase_x.tfs", "PHASEX", kData + "/tfs/lhcb1_measured_total_phase_x_PHASEX.csv", 514},
      {kData + "/tfs/resync_total_phase_x.tfs", "phasex", kData + "/tfs/resync_total_phase_x_PHASEX.csv", 52},
  };
  for (const auto &c : cases) {
    Workspace ws;
    const ToolRun run = ws.tool({"--phases", c.table, "--column", c.column});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string reference_out;
    EXPECT_EQ(ws.output(), reference_matrix(c.csv, c.rows, &reference_out)) << c.table;
    EXPECT_EQ(run.out, reference_out);
  }
}

TEST(Tool, InputOptionsChooseMAndTheColumn) {
  Workspace ws;
  write_bytes(ws.at("resp.csv"), "1,1,1\n");
  write_bytes(ws.at("p.csv"), "7,0.1,x\n7,0.2\n7,0.3\n7,0.4\n");
  write_bytes(ws.at("col1.csv"), "0.1\n0.2\n0.3\n0.4\n");
  const std::string resp = ws.at("resp.csv"), p = ws.at("p.csv");
  ToolRun run = ws.tool({"-r", resp, "-p", p, "-c", "1"});
  EXPECT_EQ(run.out, "m=3\n");
  EXPECT_EQ(ws.output(), reference_matrix(ws.at("col1.csv"), 3));
  run = ws.tool({"--monitors", "2", "--phases", p, "--column", "1", "--threads", "2", "-o", "two.csv"});
  EXPECT_EQ(run.out, "m=2\n");
  EXPECT_EQ(ws.output("two.csv"), reference_matrix(ws.at("col1.csv"), 2));
  run = ws.tool({"-p", p, "-c", "1"});  // m is the number of phase rows
  EXPECT_EQ(run.out, "m=4\n");
  EXPECT_EQ(ws.output(), reference_matrix(ws.at("col1.csv"), 4));
  run = ws.tool({"-p", p, "-c", "2"});
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_EQ(run.err, "respmat: " + p + ":1: column 2: \"x\" is not a number\n");
  run = ws.tool({"-p", p, "-m", "5", "-c", "1"});
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_NE(run.err.find("has 4 rows, but 5 monitors"), std::string::npos);
}

TEST(Tool, MatrixToStandardOutputOrInBinaryForm) {
  Workspace ws;
  const std::string p = kData + "/optics/sps_q20_model_bpms.csv";
  ASSERT_EQ(ws.tool({"-p", p, "-m", "50"}).status, 0);
  const std::string csv = ws.output();
  ToolRun run = ws.tool({"-p", p, "-m", "50", "-o", "-"});
  EXPECT_EQ(run.out, csv);
  EXPECT_EQ(run.err, "m=50\n");
  ASSERT_EQ(ws.tool({"-p", p, "-m", "50", "--format", "bin", "-o", "er.bin"}).status, 0);
  const respmat::OwnedMatrix phases(matrix_load_text(p.c_str(), 0, ",", 0, nullptr));
  const respmat::OwnedMatrix model(matrix_alloc(50, 50));
  respmat::fill_model(model.get(), phases.get());
  matrix_save_bin(model.get(), ws.at("expected.bin").c_str());
  EXPECT_EQ(ws.output("er.bin"), read_bytes(ws.at("expected.bin")));
}

// A device or a pipe named as the output is written in place: renaming a file over
// it (as root, over /dev/null) would destroy it.
TEST(Tool, AnOutputThatIsNotARegularFileIsWrittenInPlace) {
  Workspace ws;
  const std::string p = kData + "/optics/sps_q20_model_bpms.csv";
  ASSERT_EQ(ws.tool({"-p", p, "-m", "20"}).status, 0);
  const std::string fifo = ws.at("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Held open for writing so that neither the reader nor the tool waits on the other,
  // and closed after the tool has ended, which ends the reader's input. The reader opens
  // its end here, before the tool runs: opened later, after the keeper has closed, it
  // would wait for a writer forever.
  const int keeper = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(keeper, 0);
  std::ifstream reading(fifo, std::ios::binary);
  ASSERT_TRUE(reading.is_open());
  std::string received;
  std::thread reader([&] { received.assign(std::istreambuf_iterator<char>(reading), {}); });
  const ToolRun run = ws.tool({"-p", p, "-m", "20", "-o", fifo});
  ::close(keeper);
  reader.join();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(received, ws.output());
  EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
  for (const auto &entry : std::filesystem::directory_iterator(ws.dir.path()))
    EXPECT_EQ(entry.path().filename().string().rfind("pipe.", 0), std::string::npos) << entry.path();
}

TEST(Tool, AFailingStandardOutputNeitherStopsNorHidesTheJob) {
  Workspace ws;
  const std::string p = kExamples + "/realmachinephases.csv";
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);  // nobody reads: writing raises SIGPIPE
  const ToolRun run = ws.tool({"-p", p, "-m", "36"}, ends[1]);
  ::close(ends[1]);
  EXPECT_EQ(run.status, respmat::kExitStdoutFailed);
  EXPECT_EQ(run.err, "respmat: standard output: Broken pipe\n");
  EXPECT_EQ(ws.output(), reference_matrix(p, 36));
}

bool pure_red(std::uint32_t rgb) { return (rgb >> 16) >= 240 && (rgb >> 8 & 0xFF) <= 40 && (rgb & 0xFF) <= 40; }
bool pure_blue(std::uint32_t rgb) { return (rgb >> 16) <= 40 && (rgb >> 8 & 0xFF) <= 40 && (rgb & 0xFF) >= 240; }

// Whether the picture has a colour bar: a column, right of everything else in colour,
// whose strongest red lies above its strongest blue.
bool has_colour_bar(const Picture &picture) {
  for (int x = picture.width - 1; x >= 0; --x) {
    int top_red = -1, bottom_blue = -1;
    for (int y = 0; y < picture.height; ++y) {
      if (pure_red(picture.at(x, y)) && top_red < 0) top_red = y;
      if (pure_blue(picture.at(x, y))) bottom_blue = y;
    }
    if (top_red >= 0 || bottom_blue >= 0) return top_red >= 0 && top_red < bottom_blue;
  }
  return false;
}

TEST(Tool, HeatMapShowsTheMatrix) {
  // Every diagonal entry is sin(0.1696) of the amplitude, a pale red; the model is
  // lower triangular, so every entry above the diagonal is zero by construction.
  constexpr std::uint32_t kPaleRed = 0xFFD4D4, kGrey = 0xC0C0C0;
  Workspace ws;
  const std::string p = kExamples + "/realmachinephases.csv";
  ASSERT_EQ(ws.tool({"-p", p, "-m", "36", "--heatmap", "map.png"}).status, 0);
  const Picture small = respmat::testing::read_png(ws.run + "/map.png");
  EXPECT_GE(std::max(small.width, small.height), 600);
  EXPECT_TRUE(has_colour_bar(small));
  // Entries are blocks: the first pale red is entry (0, 0), the next 35 blocks of
  // its row are grey, and the last diagonal block is pale red again.
  const std::optional<Pixel> corner = small.find(kPaleRed);
  ASSERT_TRUE(corner);
  const int block = small.run(corner->x, corner->y, kPaleRed);
  EXPECT_GE(36 * block, 600);
  EXPECT_EQ(small.run(corner->x + block, corner->y, kGrey), 35 * block);
  EXPECT_NE(small.at(corner->x, corner->y + block), kGrey);
  EXPECT_EQ(small.at(corner->x + 35 * block, corner->y + 35 * block), kPaleRed);

  // Beyond 2048 entries a side, each cell is the mean of a block of entries: 2049
  // gives blocks of 2 and 1025 cells a side, the last of them one diagonal entry.
  // Phases all 0 make every entry on and below the diagonal pale red.
  std::string zeros;
  for (int i = 0; i < 2049; ++i) zeros += "0\n";
  write_bytes(ws.at("many.csv"), zeros);
  const int null = ::open("/dev/null", O_WRONLY);
  ASSERT_EQ(ws.tool({"-p", ws.at("many.csv"), "-o", "-", "--heatmap", "big.png"}, null).status, 0);
  ::close(null);
  const Picture big = respmat::testing::read_png(ws.run + "/big.png");
  const std::optional<Pixel> origin = big.find(kPaleRed);
  ASSERT_TRUE(origin);
  EXPECT_EQ(big.run(origin->x, origin->y, kPaleRed), 1);
  EXPECT_EQ(big.run(origin->x + 1, origin->y, kGrey), 1024);
  EXPECT_EQ(big.run(origin->x, origin->y + 1024, kPaleRed), 1025);
  EXPECT_NE(big.at(origin->x, origin->y + 1025), kPaleRed);
}

}  // namespace
