// The correct command's own options; the model options of the one option table
// describe the model it computes when no --matrix is given.
#ifndef RESPMAT_APP_CORRECT_OPTIONS_H
#define RESPMAT_APP_CORRECT_OPTIONS_H

#include <optional>
#include <string>

#include "job/correct_job.h"

namespace respmat {

// Codes of the correct command's long options, above every other option's.
enum CorrectOption : int {
  kMatrix = 512,
  kCorrectLayout,
  kOrbit,
  kOrbitColumn,
  kWeights,
  kWeightsColumn,
  kExcludeMonitors,
  kExcludeCorrectors,
  kLimits,
  kSingularValues,
  kRcond,
  kTikhonov,
  kPredicted,
  kSpectrum,
  kCorrectSummary,
  kSpectrumPlot
};

extern const char kCorrectHelp[];

[[nodiscard]] inline bool is_correct_option(int code) { return code >= kMatrix && code <= kSpectrumPlot; }

// Applies one of the correct command's options; returns what is wrong with its
// value, if anything. `name` is the option as written, for the message.
[[nodiscard]] std::optional<std::string> apply_correct_option(int code, const std::string &name, const char *value,
                                                              CorrectOptions &options);

// What is missing or contradictory once every option is read.
[[nodiscard]] std::optional<std::string> correct_conflict(const CorrectOptions &options);

}  // namespace respmat

#endif
