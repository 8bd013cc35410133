// End-to-end benchmark: generates inputs for several m, then runs the main job, the
// text loader and the csv writer both ways (fast and straightforward), interleaved,
// and prints the medians and ratios as a table. Checks that both ways write the same
// bytes. Usage: respmat_e2e_bench [repetitions] [m ...]   (default: 3 500 2000 4000)
// With numpy importable (from RESPMAT_BENCH_PYTHON, default python3) it is timed too.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/driver_reference.h"
#include "respmat/matrix.h"
#include "matrix/matrix_reference.h"
#include "respmat/owners.hpp"

namespace {

namespace fs = std::filesystem;

double seconds_of(const std::function<void()> &work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A measured response matrix (m x m values of a few mm/A) and m phases rising by a
// fraction of a turn per monitor. Written row by row, so that generating does not
// raise this process's memory (which a child started from it would inherit as its
// peak).
void generate_inputs(const fs::path &dir, int m) {
  std::mt19937_64 rng(static_cast<unsigned>(m));
  std::uniform_real_distribution<double> response(-0.5, 0.5), advance(0.15, 0.3);
  std::FILE *matrix = std::fopen((dir / "reponsematx_H0.1A.csv").c_str(), "w");
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) std::fprintf(matrix, c + 1 < m ? "%.16g," : "%.16g\n", response(rng));
  std::fclose(matrix);
  std::FILE *phases = std::fopen((dir / "realmachinephases.csv").c_str(), "w");
  double phase = 0;
  for (int k = 0; k < m; ++k, phase += advance(rng)) std::fprintf(phases, "%.10f,%.4f,%.3f\n", phase, 10.0 + k % 7, 7.85 * k);
  std::fclose(phases);
}

// Runs the tool itself in `run_dir` and returns its peak resident memory in bytes.
long peak_memory_of_tool(const fs::path &run_dir) {
  std::fflush(stdout);  // or the child would write this process's buffered lines again
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(run_dir.c_str()) != 0 || !std::freopen("/dev/null", "w", stdout)) _exit(127);
    execl(RESPMAT_EXE, RESPMAT_EXE, static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return usage.ru_maxrss * 1024L;
}

// The Python to compare with: RESPMAT_BENCH_PYTHON, or python3 from the PATH.
std::string python() {
  const char *chosen = std::getenv("RESPMAT_BENCH_PYTHON");
  return chosen != nullptr && *chosen != '\0' ? chosen : "python3";
}

bool numpy_available() {
  return std::system((python() + " -c 'import numpy' >/dev/null 2>&1").c_str()) == 0;
}

struct NumpyTimes {
  double load = 0;  // loadtxt of the response file
  double job = 0;   // the main job: both loadtxt calls, long-double sin, savetxt
};

NumpyTimes numpy_times(const fs::path &run_dir) {
  const std::string script =
      "import time, numpy as np\n"
      "t0 = time.perf_counter()\n"
      "r = np.loadtxt('../reponsematx_H0.1A.csv', delimiter=',', ndmin=2)\n"
      "t1 = time.perf_counter()\n"
      "p = np.loadtxt('../realmachinephases.csv', delimiter=',', ndmin=2)[:, 0].astype(np.longdouble)\n"
      "m = r.shape[1]\n"
      "d = p[:m, None] - p[None, :m]\n"
      "g = (np.sin(d * np.longdouble(6.283185307179586) + np.longdouble(0.1696))"
      " * np.longdouble(0.47247222310000003)).astype(np.float64)\n"
      "g[np.triu_indices(m, 1)] = 0\n"
      "np.savetxt('er_numpy.csv', g, fmt='%.16g', delimiter=',')\n"
      "print(t1 - t0, time.perf_counter() - t0)\n";
  std::ofstream(run_dir / "job.py") << script;
  const std::string command = "cd '" + run_dir.string() + "' && " + python() + " job.py";
  NumpyTimes times;
  if (std::FILE *pipe = popen(command.c_str(), "r")) {
    if (std::fscanf(pipe, "%lf %lf", &times.load, &times.job) != 2) std::fprintf(stderr, "numpy run failed\n");
    pclose(pipe);
  }
  return times;
}

}  // namespace

int main(int argc, char **argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {500, 2000, 4000};
  const bool with_numpy = numpy_available();
  const fs::path root = fs::temp_directory_path() / ("respmat-bench-" + std::to_string(getpid()));

  std::printf("| m | response file | main job: straightforward | fast | ratio | peak memory / model size |"
              " load: straightforward | fast | ratio | write csv: printf | fast | ratio |%s\n",
              with_numpy ? " numpy loadtxt | numpy main job |" : "");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|%s\n", with_numpy ? "---|---|" : "");
  // Inputs and the tool's peak memory first, while this process is still small.
  std::vector<double> memory_ratios;
  for (const int m : sizes) {
    const fs::path dir = root / std::to_string(m);
    fs::create_directories(dir / "run");
    generate_inputs(dir, m);
    memory_ratios.push_back(static_cast<double>(peak_memory_of_tool(dir / "run")) / (8.0 * m * m));
  }
  for (std::size_t size_index = 0; size_index < sizes.size(); ++size_index) {
    const int m = sizes[size_index];
    const fs::path dir = root / std::to_string(m);
    const std::string response = (dir / "reponsematx_H0.1A.csv").string();
    const std::string phases = (dir / "realmachinephases.csv").string();
    const std::string fast_out = (dir / "run" / "er.csv").string();
    const std::string reference_out = (dir / "run" / "er_reference.csv").string();
    std::FILE *devnull = std::fopen("/dev/null", "w");

    std::vector<double> job_fast, job_reference, load_fast, load_reference, write_fast, write_reference;
    for (int rep = 0; rep < repetitions; ++rep) {
      job_fast.push_back(seconds_of([&] {
        if (respmat::run_driver({response.c_str(), phases.c_str(), fast_out.c_str()}, devnull, stderr) != 0)
          std::exit(1);
      }));
      job_reference.push_back(seconds_of([&] {
        if (respmat::run_driver_reference({response.c_str(), phases.c_str(), reference_out.c_str()}, devnull,
                                          stderr) != 0)
          std::exit(1);
      }));
      respmat::OwnedMatrix loaded;
      load_fast.push_back(seconds_of([&] { loaded.reset(matrix_load_text(response.c_str(), 0, ",", 0, nullptr)); }));
      load_reference.push_back(seconds_of([&] {
        respmat::OwnedMatrix(respmat::detail::load_text_reference(response.c_str(), 0, ",", 0, nullptr));
      }));
      write_fast.push_back(seconds_of([&] { matrix_save_csv(loaded.get(), (dir / "w_fast.csv").c_str(), 0); }));
      write_reference.push_back(seconds_of([&] {
        std::FILE *file = std::fopen((dir / "w_reference.csv").c_str(), "w");
        respmat::detail::write_csv_reference(loaded.get(), file, 0);
        std::fclose(file);
      }));
    }
    std::fclose(devnull);
    if (slurp(fast_out) != slurp(reference_out) || slurp(dir / "w_fast.csv") != slurp(dir / "w_reference.csv")) {
      std::fprintf(stderr, "m=%d: fast and straightforward outputs differ\n", m);
      return 1;
    }
    const double memory_ratio = memory_ratios[size_index];
    std::printf("| %d | %.0f MB | %.2f s | %.3f s | %.1f× | %.2f | %.2f s | %.3f s | %.1f× | %.2f s | %.3f s | %.1f× |",
                m, static_cast<double>(fs::file_size(response)) / 1e6, median(job_reference), median(job_fast),
                median(job_reference) / median(job_fast), memory_ratio, median(load_reference), median(load_fast),
                median(load_reference) / median(load_fast), median(write_reference), median(write_fast),
                median(write_reference) / median(write_fast));
    if (with_numpy) {
      const NumpyTimes numpy = numpy_times(dir / "run");
      std::printf(" %.2f s | %.2f s |", numpy.load, numpy.job);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  fs::remove_all(root);
  return 0;
}
