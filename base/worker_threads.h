// Internal: how many threads a job uses, and running a job's workers.
#ifndef RESPMAT_BASE_WORKER_THREADS_H
#define RESPMAT_BASE_WORKER_THREADS_H

#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace respmat::detail {

// The number of threads a job runs on. `requested` > 0 is taken as it is (up to a
// sane ceiling); 0 means the environment variable RESPMAT_THREADS when it holds a
// whole number from 1 to 1024, otherwise every core the process may run on.
[[nodiscard]] int choose_threads(int requested);

// The text of RESPMAT_THREADS when it is set but not a whole number from 0 to 1024
// (0: one thread per core), for the caller to warn about; the setting is then ignored.
[[nodiscard]] std::optional<std::string> malformed_threads_setting();

// Runs `work()` on `threads` threads, the calling one among them, and returns when
// every one has returned. `work` takes its tasks from a shared queue, so when the
// system refuses a thread the ones already running (at least the caller) still
// finish the whole job.
template <typename Work>
void run_workers(int threads, Work work) {
  std::vector<std::jthread> helpers;
  try {
    helpers.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
    for (int t = 1; t < threads; ++t) helpers.emplace_back(work);
  } catch (const std::system_error &) {
  } catch (const std::bad_alloc &) {
  }
  work();
}

}  // namespace respmat::detail

#endif
