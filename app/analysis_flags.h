// The flags of the commands that compare the model with a measurement (`compare`,
// `fit`) and of the one that corrects an orbit (`correct`).
#ifndef RESPMAT_APP_ANALYSIS_FLAGS_H
#define RESPMAT_APP_ANALYSIS_FLAGS_H

#include <set>
#include <string>

#include "app/flags.h"
#include "commands/compare_command.h"
#include "commands/correct_command.h"
#include "commands/fit_command.h"

namespace respmat {

[[nodiscard]] FlagList<CompareOptions> compare_command_flags();
[[nodiscard]] FlagList<FitOptions> fit_command_flags();
[[nodiscard]] FlagList<CorrectOptions> correct_command_flags();

// What is missing, contradictory or without effect once every flag is read.
[[nodiscard]] FlagProblem compare_conflict(const CompareOptions &options, const std::set<std::string> &given);
[[nodiscard]] FlagProblem fit_conflict(const FitOptions &options, const std::set<std::string> &given);
[[nodiscard]] FlagProblem correct_conflict(const CorrectOptions &options, const std::set<std::string> &given);

}  // namespace respmat

#endif
