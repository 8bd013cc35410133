// `respmat fit`: the model's constants, or the monitors' and correctors'
// calibrations, that make it agree with the measured response matrix.
#ifndef RESPMAT_COMMANDS_FIT_COMMAND_H
#define RESPMAT_COMMANDS_FIT_COMMAND_H

#include <optional>
#include <string>

#include "commands/command_result.h"
#include "commands/measurement.h"
#include "commands/model_inputs.h"
#include "commands/quadrupole_response_fit.h"
#include "commands/response_fit.h"
#include "output/matrix_form.h"

namespace respmat {

struct FitOptions {
  ModelSource model;
  MeasurementOptions measurement;
  FitKind kind = FitKind::amplitude_offset;
  bool exclude_outliers = false;  // leave out the outliers compare finds
  double outlier_k = 5.0;
  std::optional<std::string> parameters;  // CSV kind,name,value,error
  std::optional<std::string> summary;     // JSON
  std::optional<std::string> covariance;  // CSV of the fitted parameters' covariance
  std::optional<std::string> output;      // the fitted model, in the measured file's layout
  MatrixForm form;                        // of the fitted model
  QuadrupoleFitOptions quadrupoles;       // of --fit quadrupoles
};

// Fits, then writes the parameters, the summary, the covariance and the fitted
// model, each when asked for; the figures of the result are the fit's.
[[nodiscard]] CommandResult run_fit(const FitOptions &options, const CommandHooks &hooks = {});

}  // namespace respmat

#endif
