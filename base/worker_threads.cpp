#include "base/worker_threads.h"

#include <sched.h>

#include <cstdlib>

namespace respmat::detail {
namespace {

// More threads than this only add contention, whatever is asked.
constexpr int kMaxThreads = 256;

int cores_available() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

// A positive decimal number from the environment, or 0.
int threads_from_environment() {
  const char *text = std::getenv("RESPMAT_THREADS");
  if (text == nullptr || *text == '\0') return 0;
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0) return 0;
  return value > kMaxThreads ? kMaxThreads : static_cast<int>(value);
}

}  // namespace

int choose_threads(int requested) {
  if (requested > 0) return requested > kMaxThreads ? kMaxThreads : requested;
  const int from_environment = threads_from_environment();
  if (from_environment > 0) return from_environment;
  const int cores = cores_available();
  return cores > kMaxThreads ? kMaxThreads : cores;
}

}  // namespace respmat::detail
