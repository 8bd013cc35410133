#include "base/kernels.h"

#include <cstdlib>
#include <cstring>

namespace respmat::detail {
namespace {

bool baseline_kernels_requested() {
  const char *setting = std::getenv("RESPMAT_KERNELS");
  return setting != nullptr && std::strcmp(setting, "baseline") == 0;
}

}  // namespace

bool use_ssse3_kernels() {
  // Decided once, on whichever thread asks first (the initialisation of a local static
  // is thread-safe): the environment is not read again while worker threads run.
  static const bool chosen = __builtin_cpu_supports("ssse3") && !baseline_kernels_requested();
  return chosen;
}

}  // namespace respmat::detail
