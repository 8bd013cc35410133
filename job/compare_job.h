// The measured response matrix against the model: `respmat compare` (residuals,
// their sizes, the entries that stand out) and `respmat fit` (the constants that
// make them agree).
#ifndef RESPMAT_JOB_COMPARE_JOB_H
#define RESPMAT_JOB_COMPARE_JOB_H

#include <optional>
#include <string>

#include "job/job.h"
#include "job/measured_matrix.h"
#include "job/response_fit.h"

namespace respmat {

struct MeasurementOptions {
  std::string measured = kDefaultResponse;
  MatrixLayout layout = MatrixLayout::correctors_by_monitors;
  double step = 1.0;  // the corrector change of the measurement; measured values are divided by it
  std::optional<std::string> sigma;  // uncertainties, laid out as the measured matrix
  // For a phase model: the monitor (0-based index or name) at which each measured
  // corrector sits, comma-separated, one per corrector in order.
  std::optional<std::string> corrector_monitors;
};

struct CompareOptions {
  JobOptions model;  // the model, and the outputs' form (digits, labels, format, heatmap)
  // The residual (compare; default residual.csv) or the fitted model (fit; none when
  // unset), in the measured file's layout.
  std::optional<std::string> output;
  MeasurementOptions measurement;
  double outlier_k = 5.0;
  std::optional<std::string> summary;     // JSON
  FitKind fit = FitKind::amplitude_offset;  // fit only
  std::optional<std::string> parameters;  // fit only: CSV kind,name,value,error
  bool exclude_outliers = false;          // fit only
};

// Writes the residual (measured / step - model) in the measured file's layout to
// options.model.output, and the summary and the picture when asked for; `line` gets
// the one line the tool prints.
[[nodiscard]] JobResult run_compare(const CompareOptions &options, std::string &line);

// Fits the amplitude and offset of the phase model (the scale and offset of an optics
// line, the scale of a ring) to the measurement by weighted linear least squares;
// writes the fitted model, the parameters and the summary.
[[nodiscard]] JobResult run_fit(const CompareOptions &options, std::string &line);

}  // namespace respmat

#endif
