// A measured response matrix read from its files and set beside its model: what
// compare and fit share.
#ifndef RESPMAT_COMMANDS_MEASUREMENT_H
#define RESPMAT_COMMANDS_MEASUREMENT_H

#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "commands/measured_response.h"
#include "commands/model_inputs.h"
#include "input/measured_matrix.h"

namespace respmat {

struct MeasurementOptions {
  std::string measured = kDefaultResponse;
  // As --layout gives it; unset: the layout the file states, else a row per corrector.
  std::optional<MatrixLayout> layout;
  double step = 1.0;  // the corrector change of the measurement; measured values are divided by it
  std::optional<std::string> sigma;  // uncertainties, laid out as the measured matrix
  // For a phase model: the monitor (0-based index or name) at which each measured
  // corrector sits, comma-separated, one per corrector in order.
  std::optional<std::string> corrector_monitors;

  // The files the measurement is read from, which no output may replace.
  [[nodiscard]] std::vector<std::string> files() const;
};

// The files a measurement and its model are read from, which no output may replace.
[[nodiscard]] std::vector<std::string> measurement_inputs(const ModelSource &source,
                                                          const MeasurementOptions &measurement);

// Reads the measurement and the model of `source` (m is the measured matrix's) into
// `response`, with the model placed at the measured correctors; the warnings about
// the inputs go to `warnings`.
[[nodiscard]] std::optional<Failure> read_measurement(const ModelSource &source, const MeasurementOptions &measurement,
                                                      MeasuredResponse &response, std::vector<std::string> &warnings);

}  // namespace respmat

#endif
