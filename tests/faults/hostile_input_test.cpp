// Damaged, truncated and malicious inputs, and a tool whose output cannot be written:
// each gets a clear failure (or the normal result), never a crash, a hang, a huge
// allocation or a lost er.csv. Inputs that once broke a reader are kept here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/report.h"
#include "reference_job.h"
#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "test_support.h"
#include "respmat/text.h"

namespace {

using respmat::testing::OwnedFile;
using respmat::testing::TempDir;
using respmat::testing::contents_of;
using respmat::testing::read_bytes;
using respmat::testing::stream_over;
using respmat::testing::write_bytes;

std::string header(std::int32_t rows, std::int32_t cols) {
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &rows, 4);
  std::memcpy(bytes.data() + 4, &cols, 4);
  return bytes;
}

OwnedFile pipe_over(const std::string &bytes) {
  int ends[2];
  if (::pipe(ends) != 0) return nullptr;
  const ssize_t wrote = ::write(ends[1], bytes.data(), bytes.size());
  ::close(ends[1]);
  if (wrote != static_cast<ssize_t>(bytes.size())) {
    ::close(ends[0]);
    return nullptr;
  }
  return OwnedFile(::fdopen(ends[0], "rb"));
}

// Eight bytes claiming 2^31 - 1 rows of no columns once made the reader allocate
// 16 GiB of row pointers and then one row after another.
TEST(HostileBinaryMatrix, RowsWithoutColumnsCannotAskForBillionsOfAllocations) {
  const std::string bytes = header(INT32_MAX, 0);
  OwnedFile file = stream_over(bytes);
  EXPECT_EQ(matrix_read_bin(file.get()), nullptr);
  OwnedFile memory(::fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb"));
  EXPECT_EQ(matrix_read_bin(memory.get()), nullptr);
  OwnedFile pipe = pipe_over(bytes);
  ASSERT_TRUE(pipe);
  EXPECT_EQ(matrix_read_bin(pipe.get()), nullptr);

  // Reading into a matrix has nothing to store and must not walk the rows either.
  Matrix M = matrix_alloc(1, 1);
  M[0][0] = 7.0;
  file = stream_over(bytes);
  matrix_read_bin_into(file.get(), M);
  EXPECT_EQ(M[0][0], 7.0);
  matrix_free(M);

  // A modest number of empty rows is still a valid matrix.
  file = stream_over(header(65536, 0));
  M = matrix_read_bin(file.get());
  ASSERT_NE(M, nullptr);
  EXPECT_EQ(matrix_rows(M), 65536);
  EXPECT_EQ(matrix_cols(M), 0);
  matrix_free(M);
}

TEST(HostileText, LinesOfManyMegabytesAndNulBytesAreRead) {
  TempDir dir;
  const std::string long_field(5 << 20, 'x');
  write_bytes(dir.file("t.csv"), long_field + ",1\n" + std::string("a\0b,c\n", 6));
  respmat::OwnedStringTable table(table_read(dir.file("t.csv").c_str(), ",", 0, nullptr));
  ASSERT_TRUE(table);
  ASSERT_EQ(carray_count(table.get()), 3);
  EXPECT_EQ(std::strlen(table.get()[0][0]), long_field.size());
  EXPECT_STREQ(table.get()[1][0], "a");
  EXPECT_STREQ(table.get()[2][1], "c");
}

TEST(HostileText, AFolderGivesNoTableAndNoLines) {
  TempDir dir;
  EXPECT_EQ(table_read(dir.path().c_str(), ",", 0, nullptr), nullptr);
  EXPECT_EQ(matrix_load_text(dir.path().c_str(), 0, ",", 0, nullptr), nullptr);
  OwnedFile folder(std::fopen(dir.path().c_str(), "rb"));
  ASSERT_TRUE(folder);
  EXPECT_EQ(text_read_line(folder.get()), nullptr);
}

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the tool in `dir`/run, its inputs in `dir`, through the shell with `limits`
// (for example "ulimit -f 1;") applied first.
ToolRun run_tool(const TempDir &dir, const std::string &limits = "", const std::string &arguments = "") {
  std::filesystem::create_directories(dir.file("run"));
  const std::string command = "cd '" + dir.file("run") + "' && " + limits + " '" RESPMAT_EXE "' " + arguments +
                              " > '" + dir.file("out.txt") + "' 2> '" + dir.file("err.txt") + "'";
  const int raw = std::system(("/bin/sh -c \"" + command + "\"").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_bytes(dir.file("out.txt")),
          read_bytes(dir.file("err.txt"))};
}

std::size_t files_in(const std::string &folder) {
  std::size_t count = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) count += entry.exists();
  return count;
}

// Inputs for a model of m x m entries, with a previous result in run/er.csv.
void write_inputs(const TempDir &dir, int m) {
  std::string response = "1", phases;
  for (int k = 1; k < m; ++k) response += ",1";
  for (int k = 0; k < m; ++k) phases += std::to_string(k * 0.001) + "\n";
  write_bytes(dir.file("reponsematx_H0.1A.csv"), response + "\n");
  write_bytes(dir.file("realmachinephases.csv"), phases);
  std::filesystem::create_directories(dir.file("run"));
  write_bytes(dir.file("run/er.csv"), "previous\n");
}

TEST(DriverUnderFaults, AFileSizeLimitFailsTheWriteAndKeepsThePreviousOutput) {
  TempDir dir;
  write_inputs(dir, 200);
  const ToolRun run = run_tool(dir, "ulimit -f 1;");
  EXPECT_EQ(run.status, respmat::kExitWriteFailed);
  EXPECT_EQ(run.out, "m=200\n");
  EXPECT_NE(run.err.find("er.csv: File too large"), std::string::npos) << run.err;
  EXPECT_EQ(read_bytes(dir.file("run/er.csv")), "previous\n");
  EXPECT_EQ(files_in(dir.file("run")), 1u);  // no temporary file left behind
  // Without the limit the same run succeeds.
  EXPECT_EQ(run_tool(dir).status, respmat::kExitOk);
  EXPECT_GT(read_bytes(dir.file("run/er.csv")).size(), 200u * 200u * 2u);
}

// Starts the tool in `dir`/run, its inputs in `dir`, with the default action for the
// signals a caller might have ignored; returns its process id.
pid_t start_tool(const TempDir &dir) {
  const std::string run = dir.file("run");
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM}) std::signal(signal, SIG_DFL);
    const rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    const int null = ::open("/dev/null", O_WRONLY);
    if (::chdir(run.c_str()) == 0 && null >= 0 && ::dup2(null, 1) >= 0 && ::dup2(null, 2) >= 0)
      ::execl(RESPMAT_EXE, RESPMAT_EXE, static_cast<char *>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// The size of the first temporary file in `folder`, or -1 when there is none.
std::intmax_t temporary_file_size(const std::string &folder) {
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().filename().string().starts_with("er.csv.tmp.")) {
      const auto size = entry.file_size(error);
      return error ? 0 : static_cast<std::intmax_t>(size);
    }
  return -1;
}

TEST(DriverUnderFaults, AnInterruptedRunRemovesItsTemporaryFileAndEndsByTheSignal) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    write_inputs(dir, 20000);  // a 4 GB result: the run is still writing when signalled
    const pid_t tool = start_tool(dir);
    ASSERT_GT(tool, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (temporary_file_size(dir.file("run")) <= 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(tool, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(tool, &status, 0), tool);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(files_in(dir.file("run")), 1u);
    EXPECT_EQ(read_bytes(dir.file("run/er.csv")), "previous\n");
  }
}

TEST(DriverUnderFaults, AReplacedResultKeepsThePermissionsAndLinksOfThePreviousOne) {
  TempDir dir;
  write_inputs(dir, 3);
  const std::string result = dir.file("run/er.csv");
  ::chmod(result.c_str(), 0600);
  ASSERT_EQ(run_tool(dir).status, respmat::kExitOk);
  struct stat info;
  ASSERT_EQ(::stat(result.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string expected = read_bytes(result);
  ASSERT_NE(expected, "previous\n");

  // A link to a file in another folder, and a link to a file yet to be made.
  std::filesystem::create_directories(dir.file("kept"));
  for (const char *kept : {"kept/er.csv", "kept/new.csv"}) {
    SCOPED_TRACE(kept);
    std::filesystem::remove(result);
    if (std::string(kept) == "kept/er.csv") write_bytes(dir.file(kept), "previous\n");
    std::filesystem::create_symlink(std::string("../") + kept, result);
    ASSERT_EQ(run_tool(dir).status, respmat::kExitOk);
    EXPECT_TRUE(std::filesystem::is_symlink(result));
    EXPECT_EQ(read_bytes(dir.file(kept)), expected);
    EXPECT_EQ(files_in(dir.file("kept")), std::string(kept) == "kept/er.csv" ? 1u : 2u);
  }
  EXPECT_EQ(files_in(dir.file("run")), 1u);
}

// A writable er.csv in a folder that refuses new files: the folder is what to fix.
TEST(DriverUnderFaults, AFolderThatRefusesTheTemporaryFileIsNamed) {
  TempDir dir;
  write_inputs(dir, 3);
  const std::string run = dir.file("run");
  for (const char *name : {"out.txt", "err.txt"}) write_bytes(dir.file(name), "");
  for (const char *name : {"", "out.txt", "err.txt", "run/er.csv"}) ::chmod(dir.file(name).c_str(), 0666);
  ::chmod(dir.path().c_str(), 0777);
  ::chmod(run.c_str(), 0555);
  // Permissions bind a process without privileges only.
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(run_tool(dir).status);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), respmat::kExitWriteFailed);
  EXPECT_EQ(read_bytes(dir.file("err.txt")), "respmat: " + run + ": " + std::strerror(EACCES) + "\n");
  EXPECT_EQ(read_bytes(dir.file("run/er.csv")), "previous\n");
}

TEST(DriverUnderFaults, MissingOrFolderPhasesAreReportedInOneLine) {
  TempDir dir;
  write_bytes(dir.file("reponsematx_H0.1A.csv"), "1,2\n");
  std::filesystem::create_directories(dir.file("run"));
  write_bytes(dir.file("run/er.csv"), "previous\n");
  ToolRun run = run_tool(dir);
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  // A default input that is missing is named by its absolute path, with a hint.
  EXPECT_EQ(run.err, "respmat: " + (std::filesystem::canonical(dir.path()) / "realmachinephases.csv").string() +
                         ": No such file or directory; the inputs are expected in the parent folder, or can be "
                         "given with --response and --phases\n");
  std::filesystem::create_directory(dir.file("realmachinephases.csv"));
  run = run_tool(dir);
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_EQ(run.err, "respmat: ../realmachinephases.csv: Is a directory\n");
  // A dangling link: the file went away after it was named.
  std::filesystem::remove(dir.file("realmachinephases.csv"));
  std::filesystem::create_symlink(dir.file("gone.csv"), dir.file("realmachinephases.csv"));
  run = run_tool(dir);
  EXPECT_EQ(run.status, respmat::kExitBadInput);
  EXPECT_EQ(read_bytes(dir.file("run/er.csv")), "previous\n");
}

// The fast job and the straightforward one on the same damaged inputs.
void expect_jobs_agree(const std::string &response, const std::string &phases) {
  TempDir dir;
  write_bytes(dir.file("response.csv"), response);
  write_bytes(dir.file("phases.csv"), phases);
  const std::string output = dir.file("er.csv");
  const std::string r = dir.file("response.csv"), p = dir.file("phases.csv");
  const respmat::DriverPaths held{r.c_str(), p.c_str(), output.c_str()};
  OwnedFile out(std::tmpfile()), err(std::tmpfile());
  const int fast = respmat::run_driver(held, out.get(), err.get());
  const std::string fast_output = read_bytes(output);
  const std::string fast_out = contents_of(out.get());
  OwnedFile out2(std::tmpfile()), err2(std::tmpfile());
  const int reference = respmat::run_driver_reference(held, out2.get(), err2.get());
  EXPECT_EQ(fast, reference);
  EXPECT_EQ(fast_out, contents_of(out2.get()));
  EXPECT_EQ(fast_output, read_bytes(output));
}

TEST(DriverUnderFaults, NulBytesAndHugeLinesGiveTheSameResultAsTheStraightforwardJob) {
  expect_jobs_agree(std::string("1,2\0,3,4\n", 9), std::string("0\0 0.5\n0.25", 11));
  expect_jobs_agree(std::string("\0", 1), "");
  for (const char *first_line : {"", "\r", "\r\n", "\n", "\r\r", "1,2\r", ",,"})
    expect_jobs_agree(first_line, "0\n1\n2\n");
  const std::string junk(6 << 20, ' ');
  expect_jobs_agree("1,1\n", "0.125" + junk + ",9\n" + junk + "0.5\n");
  // A response line of a million columns needs a million phases, not m * m memory.
  std::string wide(2 << 20, ',');
  expect_jobs_agree(wide + "\n", "0\n1\n");
}

// Outputs are put in place only when all are complete, the matrix last: a matrix
// that cannot be written leaves the previous picture, whatever the format.
TEST(OutputsUnderFaults, AFailingMatrixLeavesThePreviousPicture) {
  TempDir dir;
  write_inputs(dir, 50);
  for (const char *format : {"csv", "bin"}) {
    write_bytes(dir.file("run/picture.png"), "previous picture\n");
    const ToolRun run = run_tool(dir, "", std::string("-p ../realmachinephases.csv -f ") + format +
                                              " -o /dev/full --heatmap picture.png");
    EXPECT_EQ(run.status, respmat::kExitWriteFailed) << run.err;
    EXPECT_EQ(read_bytes(dir.file("run/picture.png")), "previous picture\n") << format;
    EXPECT_EQ(files_in(dir.file("run")), 2u);  // er.csv and the picture, no temporary file
  }
}

// A run whose matrix cannot fit in the free space is refused before it writes: one
// line with what it needs and what is free. The file-size limit keeps a run that
// would try anyway from filling the disk.
TEST(OutputsUnderFaults, AMatrixThatCannotFitIsRefusedBeforeItIsWritten) {
  TempDir dir;
  struct statvfs space {};
  ASSERT_EQ(statvfs(dir.path().c_str(), &space), 0);
  const double free = static_cast<double>(space.f_bavail) * static_cast<double>(space.f_frsize);
  const auto m = static_cast<std::int64_t>(std::sqrt(free)) + 1000;  // 2 m^2 bytes at least: more than free
  std::string phases;
  for (std::int64_t k = 0; k < m; ++k) phases += "0\n";
  write_bytes(dir.file("phases.csv"), phases);
  std::filesystem::create_directories(dir.file("run"));
  const ToolRun run = run_tool(dir, "ulimit -f 64;", "-p ../phases.csv");
  EXPECT_EQ(run.status, respmat::kExitWriteFailed);
  EXPECT_NE(run.err.find("er.csv: needs at least "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" bytes free"), std::string::npos) << run.err;
  EXPECT_EQ(files_in(dir.file("run")), 0u);
}

}  // namespace
