// The command line, through the real binary.
#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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

#include "app/report.h"
#include "reference_job.h"
#include "model/phase_model.h"
#include "picture/picture_test_support.h"
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
// given, else it is captured; standard input comes from `stdin_fd` when given.
ToolRun run_tool(const std::string &folder, const std::vector<std::string> &args, int stdout_fd = -1,
                 int stdin_fd = -1) {
  const std::string out_path = folder + "/../stdout.txt", err_path = folder + "/../stderr.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char *> argv{const_cast<char *>(RESPMAT_EXE)};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const int out = stdout_fd >= 0 ? stdout_fd : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::chdir(folder.c_str()) != 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    if (stdin_fd >= 0 && ::dup2(stdin_fd, 0) < 0) ::_exit(127);
    ::execv(RESPMAT_EXE, argv.data());
    ::_exit(127);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_bytes(out_path), read_bytes(err_path)};
}

// The exit status and the most memory of a run, started without a copy of this
// process's memory (a forked child would inherit its peak), its output discarded.
std::pair<int, long> peak_memory_of_run(const std::vector<std::string> &args) {
  std::vector<char *> argv{const_cast<char *>(RESPMAT_EXE)};
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, RESPMAT_EXE, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {-1, 0};
  int raw = 0;
  struct rusage usage {};
  ::wait4(child, &raw, 0, &usage);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, usage.ru_maxrss};
}

// Runs the tool with `bytes` coming through a pipe on its standard input.
ToolRun run_tool_on_pipe(const std::string &folder, const std::vector<std::string> &args, std::string_view bytes) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {-1, {}, {}};
  std::jthread writer([&, in = ends[1]] { respmat::testing::feed(in, bytes); });
  ToolRun run = run_tool(folder, args, -1, ends[0]);
  ::close(ends[0]);
  return run;
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
      {"-p", p, "-o", p}, {"-p", p, "-m", "1", "--heatmap", "er.csv"}, {"--response"}, {"--version=1"},
      {"-p", ""}, {"-r", ""}, {"-o", ""}, {"-p", p, "-c", "2"}, {"-p", iota, "-c", "999"}};
  for (const auto &args : cases) {
    const ToolRun run = ws.tool(args);
    EXPECT_EQ(run.status, respmat::kExitUsage) << args[0] << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("respmat: ") && run.err.ends_with("; try 'respmat --help'\n") &&
                run.err.find('\n') == run.err.size() - 1) << run.err;
  }
  EXPECT_EQ(ws.output(), "previous\n");
  EXPECT_EQ(read_bytes(p), "Name,Phase\nA,0.5\n");
  EXPECT_NE(ws.tool({"-p", iota}).err.find("the columns to choose from are MUX, MUY, PHIX"), std::string::npos);
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

// A pipe gives its bytes to one reader only: a phase table read through one must give
// what the file gives, and the response's width too.
TEST(Tool, InputsThroughPipesGiveWhatTheirFilesGive) {
  Workspace ws;
  std::string phases = "name,phase\n";
  for (int k = 0; k < 3000; ++k) phases += "BPM" + std::to_string(k) + "," + std::to_string(k * 0.0123) + "\n";
  write_bytes(ws.at("ph.csv"), phases);
  const std::string optics = read_bytes(kExamples + "/optics/iota_v8.3_twiss.tfs");
  write_bytes(ws.at("iota.tfs"), optics);
  const std::vector<std::vector<std::string>> runs = {
      {"-c", "1", "-m", "3"}, {"-c", "phase"}, {"-c", "MUX"}, {"-r", "RESPONSE", "-c", "1"}};
  for (const auto &args : runs) {
    const bool is_optics = args[1] == "MUX";
    const std::string table = is_optics ? optics : phases;
    std::vector<std::string> from_file = {"-p", ws.at(is_optics ? "iota.tfs" : "ph.csv"), "-o", "file.csv"};
    std::vector<std::string> from_pipe = {"-p", "/dev/stdin", "-o", "pipe.csv"};
    for (std::string arg : args) {
      if (arg == "RESPONSE") write_bytes(ws.at("r.csv"), "1,2,3,4\n");
      from_file.push_back(arg == "RESPONSE" ? ws.at("r.csv") : arg);
      from_pipe.push_back(arg == "RESPONSE" ? ws.at("r.csv") : arg);
    }
    const ToolRun file_run = ws.tool(from_file);
    const ToolRun pipe_run = run_tool_on_pipe(ws.run, from_pipe, table);
    ASSERT_EQ(file_run.status, 0) << file_run.err;
    EXPECT_EQ(pipe_run.status, 0) << pipe_run.err;
    EXPECT_EQ(pipe_run.out, file_run.out);
    EXPECT_EQ(ws.output("pipe.csv"), ws.output("file.csv")) << args[1];
  }
  // The response matrix's width through a pipe.
  const ToolRun width = run_tool_on_pipe(ws.run, {"-r", "/dev/stdin", "-p", ws.at("ph.csv"), "-c", "1"}, "1,2\n");
  EXPECT_EQ(width.out, "m=2\n") << width.err;
}

// With m known, only m rows are read: endless and huge tables cost no more memory than
// short ones.
TEST(Tool, KnownMReadsOnlyTheRowsItNeeds) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory and quarantine make peak memory no measure of the tool's own";
#endif
  Workspace ws;
  write_bytes(ws.at("short.csv"), "0.1\n0.2\n0.3\n");
  const long start_up = peak_memory_of_run({"-p", ws.at("short.csv"), "-m", "3", "-o", ws.at("er.csv")}).second;
  write_bytes(ws.at("sparse.csv"), "");
  std::filesystem::resize_file(ws.at("sparse.csv"), std::uintmax_t{2} << 30);  // a hole of line-ending NULs
  std::string wide = "* NAME MUX";
  std::string types = "$ %s %le";
  for (int k = 0; k < 500; ++k) wide += " C" + std::to_string(k), types += " %le";
  wide += "\n" + types + "\n";
  std::string row = "\"B\" 0.25";
  for (int k = 0; k < 500; ++k) row += " 1.5";
  for (int k = 0; k < 3000; ++k) wide += row + "\n";
  write_bytes(ws.at("wide.tfs"), wide);
  const struct {
    std::vector<std::string> args;
    int status;
  } runs[] = {{{"-p", "/dev/zero", "-m", "3"}, respmat::kExitBadInput},
              {{"-p", ws.at("sparse.csv"), "-m", "3"}, respmat::kExitBadInput},
              {{"-p", ws.at("wide.tfs"), "-c", "MUX", "-m", "3"}, 0}};
  for (auto run : runs) {
    run.args.insert(run.args.end(), {"-o", ws.at("er.csv")});
    const auto [status, peak] = peak_memory_of_run(run.args);
    EXPECT_EQ(status, run.status) << run.args[1];
    EXPECT_LT(peak, start_up + 8 * 1024) << run.args[1];
  }
  EXPECT_EQ(ws.tool({"-p", "/dev/zero", "-m", "3"}).err, "respmat: /dev/zero:1: holds a NUL byte: binary data, not text\n");
}

// Binary data and an endless line are refused at once, in little memory, by the
// readers of matrices and optics tables, which once read them whole.
TEST(Tool, BinaryDataAndEndlessLinesAreRefusedInLittleMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory and quarantine make peak memory no measure of the tool's own";
#endif
  Workspace ws;
  const std::string phases = ws.at("p.csv"), line = ws.at("line.csv");
  write_bytes(phases, "0\n0.25\n");
  write_bytes(line, std::string(std::size_t{20} << 20, '1'));
  const long start_up = peak_memory_of_run({"-p", phases, "-o", ws.at("er.csv")}).second;
  for (const std::string &bad : {std::string("/dev/zero"), line})
    for (const std::vector<std::string> &args : {std::vector<std::string>{"compare", "--measured", bad, "-p", phases},
                                                 {"correct", "--matrix", bad, "--orbit", phases},
                                                 {"model", "--optics", bad}}) {
      const auto [status, peak] = peak_memory_of_run(args);
      EXPECT_EQ(status, respmat::kExitBadInput) << args[0] << " " << bad;
      EXPECT_LT(peak, start_up + 64 * 1024) << args[0] << " " << bad;
    }
}

TEST(Tool, AMalformedThreadCountIsWarnedAboutAndLeftAside) {
  Workspace ws;
  write_bytes(ws.at("p.csv"), "0.1\n0.2\n0.3\n");
  const ToolRun plain = ws.tool({"-p", ws.at("p.csv"), "-o", "plain.csv"});
  for (const char *setting : {"abc", "100000", "-1", " 2", "8"}) {
    ::setenv("RESPMAT_THREADS", setting, 1);
    const ToolRun run = ws.tool({"-p", ws.at("p.csv"), "-o", "set.csv"});
    ::unsetenv("RESPMAT_THREADS");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, plain.out);
    EXPECT_EQ(ws.output("set.csv"), ws.output("plain.csv"));
    if (std::string_view(setting) == "8")
      EXPECT_EQ(run.err, "");
    else
      EXPECT_EQ(run.err, std::string("respmat: warning: RESPMAT_THREADS=\"") + setting +
                             "\" is not a whole number from 0 to 1024; one thread per core is used\n");
  }
}

}  // namespace

namespace {

TEST(Tool, TheModelCommandIsTheBareCommandAndRefusesWhatCannotGoTogether) {
  Workspace ws;
  write_bytes(ws.at("reponsematx_H0.1A.csv"), "1,2,3\n");
  write_bytes(ws.at("realmachinephases.csv"), "0\n0.25\nx\n");
  const ToolRun bare = ws.tool({});
  const std::string bare_output = ws.output();
  const ToolRun named = ws.tool({"model"});
  EXPECT_EQ(named.status, bare.status);
  // The bare reading's warning included, said in the named command's voice.
  std::string named_err = named.err;
  named_err.replace(0, std::string("respmat model:").size(), "respmat:");
  EXPECT_EQ(named.out + named_err, bare.out + bare.err);
  EXPECT_EQ(ws.output(), bare_output);

  EXPECT_NE(ws.tool({"--help"}).out.find("\n  model    write a model response matrix\n"), std::string::npos);
  EXPECT_EQ(ws.tool({"model", "--help"}).out.rfind("Usage: respmat model [options]\n", 0), 0u);

  const std::string p = ws.at("realmachinephases.csv"), iota = kExamples + "/optics/iota_v8.3_twiss.tfs";
  const std::vector<std::vector<std::string>> cases = {
      {"--optics", iota, "--plane", "z"}, {"--optics", iota, "--lattice", "loop"}, {"--digits", "0"},
      {"--digits", "18"}, {"--optics", iota, "-p", p}, {"--plane", "y"}, {"-f", "bin", "--labels"},
      {"--heatmap", "h.png", "--range", "0"}, {"--range", "1"}, {"--amplitude", "nan"},
      {"--optics", iota, "--monitors-match", "("}, {"model", "extra"}, {"model", "--optics", iota, "-o", iota}};
  for (const auto &args : cases) {
    const ToolRun run = ws.tool(args);
    EXPECT_EQ(run.status, respmat::kExitUsage) << args[0] << args[1] << run.err;
    const std::string voice = args[0] == "model" ? "respmat model" : "respmat";
    EXPECT_TRUE(run.err.starts_with(voice + ": ") && run.err.ends_with("; try '" + voice + " --help'\n")) << run.err;
  }
  EXPECT_EQ(ws.output(), bare_output);
  for (const std::vector<std::string> &input_failure :
       {std::vector<std::string>{"--optics", iota, "--correctors-match", "^NOTHING$"},
        std::vector<std::string>{"--optics", p}}) {
    const ToolRun run = ws.tool(input_failure);
    EXPECT_EQ(run.status, respmat::kExitBadInput) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

}  // namespace

namespace {

// An output path that names a descriptor the tool already has is written through it,
// as "-" is: standard output appended to a log keeps the log.
TEST(Tool, AnOutputNamingAnOpenDescriptorWritesThroughIt) {
  Workspace ws;
  write_bytes(ws.at("p.csv"), "0\n0.25\n");
  write_bytes(ws.at("log.txt"), "log line\n");
  const int log = ::open(ws.at("log.txt").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(log, 0);
  const ToolRun run = ws.tool({"-p", ws.at("p.csv"), "-o", "/dev/stdout"}, log);
  ::close(log);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "m=2\n");
  const std::string logged = read_bytes(ws.at("log.txt"));
  EXPECT_TRUE(logged.starts_with("log line\n0.07974768961286402,0\n")) << logged;
}

// Two outputs named differently for the same place clash before either exists.
TEST(Tool, OutputsThatResolveToOnePlaceAreAUsageError) {
  Workspace ws;
  write_bytes(ws.at("p.csv"), "0\n0.25\n");
  const ToolRun run = ws.tool({"-p", ws.at("p.csv"), "-o", "out.csv", "--heatmap", "./out.csv"});
  EXPECT_EQ(run.status, respmat::kExitUsage) << run.err;
  EXPECT_FALSE(std::filesystem::exists(ws.run + "/out.csv"));
}

}  // namespace
