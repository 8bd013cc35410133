#include "base/worker_threads.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// The most threads RESPMAT_THREADS may ask for, as many as the tool's --threads.
constexpr long kMostThreadsAsked = 1024;

// The thread count RESPMAT_THREADS asks for; 0 when it is unset, empty or malformed.
int threads_from_environment() {
  const char *text = std::getenv("RESPMAT_THREADS");
  if (text == nullptr || malformed_threads_setting()) return 0;
  return static_cast<int>(std::strtol(text, nullptr, 10));
}

}  // namespace

std::optional<std::string> malformed_threads_setting() {
  const char *text = std::getenv("RESPMAT_THREADS");
  if (text == nullptr || *text == '\0') return std::nullopt;
  // Digits only: strtol would also take blanks and a sign.
  const bool digits = std::strspn(text, "0123456789") == std::strlen(text);
  errno = 0;
  const long value = digits ? std::strtol(text, nullptr, 10) : -1;
  if (digits && errno == 0 && value <= kMostThreadsAsked) return std::nullopt;
  return std::string(text);
}

int choose_threads(int requested) {
  if (requested > 0) return requested > kMaxThreads ? kMaxThreads : requested;
  const int from_environment = threads_from_environment();
  if (from_environment > 0) return from_environment;
  const int cores = cores_available();
  return cores > kMaxThreads ? kMaxThreads : cores;
}

}  // namespace respmat::detail
