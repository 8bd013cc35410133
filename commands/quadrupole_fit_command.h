// `respmat fit --fit quadrupoles`: the gradient errors of an optics table's
// quadrupoles from the measured response of one plane or both, and what they give:
// the parameters, the summary, the fitted model, their covariance and, for a ring,
// the beta-beating at the monitors.
#ifndef RESPMAT_COMMANDS_QUADRUPOLE_FIT_COMMAND_H
#define RESPMAT_COMMANDS_QUADRUPOLE_FIT_COMMAND_H

#include "commands/command_result.h"
#include "commands/fit_command.h"

namespace respmat {

// Run by run_fit() for FitKind::quadrupoles.
[[nodiscard]] CommandResult run_quadrupole_fit(const FitOptions &options, const CommandHooks &hooks);

}  // namespace respmat

#endif
