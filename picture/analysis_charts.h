// The figures of the analysis: the singular values of a correction on a log scale
// with the cut between the kept and the cut ones; the orbit before and after a
// correction with the corrector changes; the residual's rms per monitor and per
// corrector. Each is a chart (chart.h), so that its layout can be looked at before
// it is drawn.
#ifndef RESPMAT_PICTURE_ANALYSIS_CHARTS_H
#define RESPMAT_PICTURE_ANALYSIS_CHARTS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "picture/chart.h"
#include "picture/heat_map.h"

namespace respmat {

// `values` largest first, the first `kept` of them kept; zeros, which a log scale
// cannot show, sit on the bottom edge.
[[nodiscard]] Chart singular_value_chart(const std::vector<double> &values, std::int32_t kept);

// Draws singular_value_chart() to `stream`. False with errno set when a write fails.
[[nodiscard]] bool draw_singular_values(std::FILE *stream, PictureFormat format, const std::vector<double> &values,
                                        std::int32_t kept);

// What a correction did, per monitor and per corrector, with their names.
struct CorrectionValues {
  std::string title;
  std::vector<std::string> monitors;
  std::vector<double> before;  // the orbit, per monitor
  std::vector<double> after;   // predicted
  std::vector<std::string> correctors;
  std::vector<double> change;  // per corrector
};
[[nodiscard]] Chart correction_chart(const CorrectionValues &values);

// The residual's rms per monitor and per corrector, with their names and units.
struct ResidualValues {
  std::string title;
  std::string units;
  std::vector<std::string> monitors;
  std::vector<double> per_monitor;
  std::vector<std::string> correctors;
  std::vector<double> per_corrector;
};
[[nodiscard]] Chart residual_chart(const ResidualValues &values);

}  // namespace respmat

#endif
