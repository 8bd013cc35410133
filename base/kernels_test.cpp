#include "base/kernels.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The choice is made once per process, so each setting is tried in a child process:
// it exits with 1 when the SSSE3 kernels are chosen under `setting` (null: unset).
[[noreturn]] void exit_with_choice_under(const char *setting) {
  if (setting != nullptr)
    setenv("RESPMAT_KERNELS", setting, 1);
  else
    unsetenv("RESPMAT_KERNELS");
  std::_Exit(respmat::detail::use_ssse3_kernels() ? 1 : 0);
}

TEST(KernelChoice, OnlyTheBaselineSettingOverridesTheProcessor) {
  const int processor_choice = __builtin_cpu_supports("ssse3") ? 1 : 0;
  EXPECT_EXIT(exit_with_choice_under("baseline"), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exit_with_choice_under(nullptr), ::testing::ExitedWithCode(processor_choice), "");
  EXPECT_EXIT(exit_with_choice_under("ssse3"), ::testing::ExitedWithCode(processor_choice), "");
}

}  // namespace
