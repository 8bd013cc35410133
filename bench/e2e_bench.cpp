// End-to-end benchmark: generates inputs for several m, then runs the main job and
// the response-file load each in a fresh process, the straightforward C way, with
// numpy, with pandas and with respmat at 1, 2 and all threads, interleaved, and the
// optics model of as many monitors and correctors; prints medians and peak memory as
// one table, with the ratios below it. Checks that every way writes the same er.csv
// and that the thread count changes no byte.
// Usage: respmat_e2e_bench [repetitions] [m ...]   (default: 3 1000 4000 10000)
// Python comes from RESPMAT_BENCH_PYTHON (default python3); numpy and pandas are
// measured when importable, and like the straightforward C path only up to m = 4000:
// they hold the whole model (numpy and pandas in several long-double copies).
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/report.h"
#include "reference_job.h"
#include "matrix/matrix_reference.h"
#include "base/worker_threads.h"
#include "respmat/matrix.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLargestCompared = 4000;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A measured response matrix (m x m values of a few mm/A, printed like %.9e) and m
// phases rising by a fraction of a turn per monitor. Written row by row, so that this
// process stays small: every measured run is a child of it.
void generate_inputs(const fs::path &dir, int m) {
  std::mt19937_64 rng(static_cast<unsigned>(m));
  std::uniform_real_distribution<double> response(-0.005, 0.005), advance(0.15, 0.3);
  std::FILE *matrix = std::fopen((dir / "reponsematx_H0.1A.csv").c_str(), "w");
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) std::fprintf(matrix, c + 1 < m ? "%.9e," : "%.9e\n", response(rng));
  std::fclose(matrix);
  std::FILE *phases = std::fopen((dir / "realmachinephases.csv").c_str(), "w");
  double phase = 0;
  for (int k = 0; k < m; ++k, phase += advance(rng)) std::fprintf(phases, "%.10f,%.4f,%.3f\n", phase, 10.0 + k % 7, 7.85 * k);
  std::fclose(phases);
  // An optics table of a line with a kicker after each of its m monitors.
  std::FILE *optics = std::fopen((dir / "optics.tfs").c_str(), "w");
  std::uniform_real_distribution<double> beta(2.0, 40.0);
  std::fprintf(optics, "@ Q1 %%le %.6f\n* NAME KEYWORD S BETX MUX\n$ %%s %%s %%le %%le %%le\n", phase + 0.31);
  phase = 0;
  for (int k = 0; k < m; ++k, phase += advance(rng)) {
    std::fprintf(optics, " \"BPM%d\" \"MONITOR\" %.3f %.9f %.10f\n", k, 7.85 * k, beta(rng), phase);
    std::fprintf(optics, " \"KICK%d\" \"KICKER\" %.3f %.9f %.10f\n", k, 7.85 * k + 1.0, beta(rng), phase + 0.05);
  }
  std::fclose(optics);
}

struct Run {
  double seconds = 0;
  double peak_mb = 0;
};

// Runs `child` in a forked process that reports its own time through a pipe (or, for
// a child that execs, is timed from here) and returns the time and peak memory.
Run run_child(const std::function<void(int report_fd)> &child) {
  std::fflush(stdout);  // or the child would write this process's buffered lines again
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const double start = now();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    child(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  double reported = -1;
  // Read to the end: closing early would fail a child still writing.
  char text[64] = {};
  ssize_t got = 0;
  for (ssize_t n; (n = read(fds[0], text + got, sizeof text - 1 - static_cast<std::size_t>(got))) > 0;) got += n;
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double elapsed = now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || (got > 0 && std::sscanf(text, "%lf", &reported) != 1)) {
    std::fprintf(stderr, "a measured run failed (status %d, report \"%s\")\n", status, text);
    std::exit(1);
  }
  return {got > 0 ? reported : elapsed, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

void report_time(int fd, double seconds) {
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%.6f", seconds);
  if (write(fd, text, static_cast<std::size_t>(length)) != length) _exit(1);
}

// Every run writes its output afresh: replacing a previous er.csv costs freeing its
// blocks, which would count against whichever run came after it.
Run run_tool(const fs::path &run_dir, int threads, const std::vector<std::string> &arguments = {}) {
  fs::remove(run_dir / "er.csv");
  return run_child([&](int report_fd) {
    close(report_fd);  // timed from the parent: exec leaves nothing to report from
    setenv("RESPMAT_THREADS", std::to_string(threads).c_str(), 1);
    if (chdir(run_dir.c_str()) != 0 || !std::freopen("/dev/null", "w", stdout)) _exit(127);
    std::vector<char *> argv = {const_cast<char *>(RESPMAT_EXE)};
    for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    execv(RESPMAT_EXE, argv.data());
    _exit(127);
  });
}

Run run_reference_job(const fs::path &dir) {
  fs::remove(dir / "run" / "er_c.csv");
  return run_child([&](int report_fd) {
    const std::string response = (dir / "reponsematx_H0.1A.csv").string(), phases = (dir / "realmachinephases.csv").string(),
                      output = (dir / "run" / "er_c.csv").string();
    std::FILE *devnull = std::fopen("/dev/null", "w");
    const double start = now();
    if (respmat::run_driver_reference({response.c_str(), phases.c_str(), output.c_str()}, devnull, stderr) != 0) _exit(1);
    report_time(report_fd, now() - start);
  });
}

Run run_load(const fs::path &dir, std::optional<int> threads) {
  return run_child([&](int report_fd) {
    const std::string response = (dir / "reponsematx_H0.1A.csv").string();
    if (threads) setenv("RESPMAT_THREADS", std::to_string(*threads).c_str(), 1);
    const double start = now();
    Matrix M = threads ? matrix_load_text(response.c_str(), 0, ",", 0, nullptr)
                       : respmat::detail::load_text_reference(response.c_str(), 0, ",", 0, nullptr);
    const double seconds = now() - start;
    if (M == nullptr) _exit(1);
    report_time(report_fd, seconds);
  });
}

// The Python to compare with: RESPMAT_BENCH_PYTHON, or python3 from the PATH.
std::string python() {
  const char *chosen = std::getenv("RESPMAT_BENCH_PYTHON");
  return chosen != nullptr && *chosen != '\0' ? chosen : "python3";
}

bool importable(const char *module) {
  return std::system((python() + " -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
}

// The main job in Python: both files loaded, the long-double model, er.csv written
// with 16 digits. The time excludes the interpreter's start and the imports.
const char *kNumpyJob =
    "import sys, time, numpy as np\n"
    "t0 = time.perf_counter()\n"
    "r = np.loadtxt('../reponsematx_H0.1A.csv', delimiter=',', ndmin=2)\n"
    "p = np.loadtxt('../realmachinephases.csv', delimiter=',', ndmin=2)[:, 0].astype(np.longdouble)\n"
    "m = r.shape[1]\n"
    "d = p[:m, None] - p[None, :m]\n"
    "g = (np.sin(d * np.longdouble(6.283185307179586) + np.longdouble(0.1696))"
    " * np.longdouble(0.47247222310000003)).astype(np.float64)\n"
    "g[np.triu_indices(m, 1)] = 0\n"
    "np.savetxt('er_numpy.csv', g, fmt='%.16g', delimiter=',')\n"
    "print(time.perf_counter() - t0)\n";
const char *kPandasJob =
    "import sys, time, numpy as np, pandas as pd\n"
    "t0 = time.perf_counter()\n"
    "r = pd.read_csv('../reponsematx_H0.1A.csv', header=None)\n"
    "p = pd.read_csv('../realmachinephases.csv', header=None)[0].to_numpy().astype(np.longdouble)\n"
    "m = r.shape[1]\n"
    "d = p[:m, None] - p[None, :m]\n"
    "g = (np.sin(d * np.longdouble(6.283185307179586) + np.longdouble(0.1696))"
    " * np.longdouble(0.47247222310000003)).astype(np.float64)\n"
    "g[np.triu_indices(m, 1)] = 0\n"
    "pd.DataFrame(g).to_csv('er_pandas.csv', header=False, index=False, float_format='%.16g')\n"
    "print(time.perf_counter() - t0)\n";
const char *kNumpyLoad =
    "import time, numpy as np\n"
    "t0 = time.perf_counter()\n"
    "r = np.loadtxt('../reponsematx_H0.1A.csv', delimiter=',', ndmin=2)\n"
    "print(time.perf_counter() - t0)\n";
const char *kPandasLoad =
    "import time, pandas as pd\n"
    "t0 = time.perf_counter()\n"
    "r = pd.read_csv('../reponsematx_H0.1A.csv', header=None)\n"
    "print(time.perf_counter() - t0)\n";

Run run_python(const fs::path &run_dir, const char *name, const char *script) {
  std::ofstream(run_dir / name) << script;
  fs::remove(run_dir / "er_numpy.csv");
  fs::remove(run_dir / "er_pandas.csv");
  return run_child([&](int report_fd) {
    if (chdir(run_dir.c_str()) != 0 || dup2(report_fd, 1) < 0) _exit(127);
    execlp(python().c_str(), python().c_str(), name, static_cast<char *>(nullptr));
    _exit(127);
  });
}

bool same_file(const fs::path &a, const fs::path &b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), static_cast<std::streamsize>(p.size()));
    y.read(q.data(), static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), static_cast<std::size_t>(x.gcount())) != 0)
      return false;
  }
  return !x && !y;
}

std::string cell(const std::vector<Run> &runs, bool seconds) {
  if (runs.empty()) return "—";
  std::vector<double> values;
  for (const Run &run : runs) values.push_back(seconds ? run.seconds : run.peak_mb);
  char text[32];
  std::snprintf(text, sizeof text, seconds ? "%.3f s" : "%.0f MB", median(values));
  return text;
}

double median_seconds(const std::vector<Run> &runs) {
  std::vector<double> values;
  for (const Run &run : runs) values.push_back(run.seconds);
  return median(values);
}

std::string ratio(const std::vector<Run> &slow, const std::vector<Run> &fast) {
  if (slow.empty() || fast.empty()) return "—";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f×", median_seconds(slow) / median_seconds(fast));
  return text;
}

// The cores this process gets while others share the machine: `threads` threads spin
// for half a second; their CPU time over the wall time.
double cores_granted(int threads) {
  auto cpu_seconds = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  const double wall = now(), cpu = cpu_seconds();
  std::vector<std::thread> spinners;
  for (int t = 0; t < threads; ++t)
    spinners.emplace_back([wall] {
      while (now() - wall < 0.5) {
      }
    });
  for (std::thread &spinner : spinners) spinner.join();
  return (cpu_seconds() - cpu) / (now() - wall);
}

// One way of doing the main job and the load, measured side by side with the others.
struct Way {
  std::string name;
  std::function<Run(const fs::path &dir)> job;   // inputs in dir, run folder dir/run
  std::function<Run(const fs::path &dir)> load;  // of dir's response file; none for a way without one
  bool holds_whole_model = false;  // measured only up to kLargestCompared
  std::string output;              // what its job leaves in the run folder, to compare; "" for none
  std::vector<std::vector<Run>> job_runs = {}, load_runs = {};  // per m
};

// The tool's job on `threads` threads, its er.csv kept as er_<threads>.csv.
Way tool_way(const std::string &name, int threads) {
  const std::string output = "er_" + std::to_string(threads) + ".csv";
  return {name,
          [threads, output](const fs::path &dir) {
            const Run run = run_tool(dir / "run", threads);
            fs::rename(dir / "run" / "er.csv", dir / "run" / output);
            return run;
          },
          [threads](const fs::path &dir) { return run_load(dir, threads); }, false, output};
}

Way python_way(const std::string &name, const char *job_script, const char *load_script) {
  return {name, [=](const fs::path &dir) { return run_python(dir / "run", ("job_" + name + ".py").c_str(), job_script); },
          [=](const fs::path &dir) { return run_python(dir / "run", ("load_" + name + ".py").c_str(), load_script); },
          true, ""};
}

// Every way that can run here; the thread counts 1, 2 and all, the last two once when
// all is 2.
std::vector<Way> available_ways(int all) {
  std::vector<Way> ways;
  ways.push_back({"straightforward C (table reader, atof, sinl, fprintf)", run_reference_job,
                  [](const fs::path &dir) { return run_load(dir, std::nullopt); }, true, "er_c.csv"});
  if (importable("numpy")) ways.push_back(python_way("numpy", kNumpyJob, kNumpyLoad));
  if (importable("numpy") && importable("pandas")) ways.push_back(python_way("pandas", kPandasJob, kPandasLoad));
  ways.push_back(tool_way("respmat, 1 thread", 1));
  if (all != 2) ways.push_back(tool_way("respmat, 2 threads", 2));
  ways.push_back(tool_way("respmat, all " + std::to_string(all) + " threads", all));
  // The optics model of as many monitors and correctors, with the same writer.
  ways.push_back({"respmat model --optics (m monitors x m correctors), all threads",
                  [all](const fs::path &dir) {
                    return run_tool(dir / "run", all, {"model", "--optics", "../optics.tfs", "-o", "er_optics.csv"});
                  },
                  nullptr, false, ""});
  return ways;
}

const Way *find_way(const std::vector<Way> &ways, const std::string &name) {
  for (const Way &way : ways)
    if (way.name == name) return &way;
  return nullptr;
}

// Runs every way `repetitions` times on inputs of order m, interleaved; false when
// the outputs differ.
bool measure(std::vector<Way> &ways, const fs::path &dir, int m, int repetitions) {
  const bool compared = m <= kLargestCompared;
  for (Way &way : ways) {
    way.job_runs.emplace_back();
    way.load_runs.emplace_back();
  }
  for (int rep = 0; rep < repetitions; ++rep) {
    for (Way &way : ways)
      if (compared || !way.holds_whole_model) way.job_runs.back().push_back(way.job(dir));
    for (Way &way : ways)
      if (way.load && (compared || !way.holds_whole_model)) way.load_runs.back().push_back(way.load(dir));
  }
  std::optional<fs::path> first;
  for (const Way &way : ways) {
    if (way.output.empty() || (!compared && way.holds_whole_model)) continue;
    const fs::path output = dir / "run" / way.output;
    if (first && !same_file(*first, output)) return false;
    if (!first) first = output;
  }
  return true;
}

void print_table(const std::vector<Way> &ways, const std::vector<int> &sizes, std::size_t shown,
                 const std::vector<double> &response_mb) {
  std::printf("| | ");
  for (const int m : sizes) std::printf("main job, m = %d | ", m);
  std::printf("peak memory, m = %d | load the %.0f MB response file (m = %d) |\n|---|", sizes[shown],
              response_mb[shown], sizes[shown]);
  for (std::size_t k = 0; k < sizes.size() + 2; ++k) std::printf("---|");
  std::printf("\n");
  for (const Way &way : ways) {
    std::printf("| %s | ", way.name.c_str());
    for (const std::vector<Run> &runs : way.job_runs) std::printf("%s | ", cell(runs, true).c_str());
    std::printf("%s | %s |\n", cell(way.job_runs[shown], false).c_str(), cell(way.load_runs[shown], true).c_str());
  }
}

}  // namespace

int main(int argc, char **argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {1000, 4000, 10000};
  const int all = respmat::detail::choose_threads(0);
  const fs::path root = fs::temp_directory_path() / ("respmat-bench-" + std::to_string(getpid()));
  std::vector<Way> ways = available_ways(all);
  std::vector<double> response_mb;
  const double granted_before = cores_granted(all);
  for (const int m : sizes) {
    const fs::path dir = root / std::to_string(m);
    fs::create_directories(dir / "run");
    generate_inputs(dir, m);
    response_mb.push_back(static_cast<double>(fs::file_size(dir / "reponsematx_H0.1A.csv")) / 1e6);
    if (!measure(ways, dir, m, repetitions)) {
      std::fprintf(stderr, "m=%d: the outputs differ\n", m);
      return 1;
    }
    fs::remove_all(dir);
  }

  // The largest m that every way ran gives the memory and load columns.
  std::size_t shown = 0;
  for (std::size_t k = 0; k < sizes.size(); ++k)
    if (sizes[k] <= kLargestCompared) shown = k;
  print_table(ways, sizes, shown, response_mb);
  const Way &c = ways.front(), &one = *find_way(ways, "respmat, 1 thread");
  const Way &every = *find_way(ways, "respmat, all " + std::to_string(all) + " threads");
  const Way &two = all == 2 ? every : *find_way(ways, "respmat, 2 threads");
  const Way *numpy = find_way(ways, "numpy");
  std::printf("\nm = %d: all threads %s the straightforward C path's speed, 2 threads %s one thread's "
              "(main job); the loader on all threads %.2f GB/s, %s numpy's loadtxt.\n",
              sizes[shown], ratio(c.job_runs[shown], every.job_runs[shown]).c_str(),
              ratio(one.job_runs[shown], two.job_runs[shown]).c_str(),
              response_mb[shown] / 1e3 / median_seconds(every.load_runs[shown]),
              numpy != nullptr ? ratio(numpy->load_runs[shown], every.load_runs[shown]).c_str() : "—");
  if (const Way *optics = find_way(ways, "respmat model --optics (m monitors x m correctors), all threads"))
    std::printf("m = %d: the optics model takes %s the phase model's time (same writer, same threads).\n",
                sizes[shown], ratio(optics->job_runs[shown], every.job_runs[shown]).c_str());
  std::printf("%d threads spinning got %.2f cores before the runs and %.2f after (others' load).\n", all,
              granted_before, cores_granted(all));
  fs::remove_all(root);
  return 0;
}
