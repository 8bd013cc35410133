#include "picture/analysis_charts.h"

#include <algorithm>
#include <cmath>

namespace respmat {
namespace {

constexpr std::uint32_t kKeptColour = 0x1F4FB0;
constexpr std::uint32_t kCutColour = 0xC0392B;
constexpr std::uint32_t kBeforeColour = 0x9A9A9A;
constexpr std::uint32_t kAfterColour = 0x1F4FB0;
constexpr std::uint32_t kChangeColour = 0x2E7D32;
constexpr std::uint32_t kRmsColour = 0x6A3D9A;

std::int64_t count(const std::vector<double> &values) { return static_cast<std::int64_t>(values.size()); }

// Names for a panel's positions: the given ones when there is one per position.
std::vector<std::string> names_for(const std::vector<std::string> &names, const std::vector<double> &values) {
  return names.size() == values.size() ? names : std::vector<std::string>{};
}

// "rms residual (orbit per unit kick)".
std::string with_units(const std::string &quantity, const std::string &units) {
  return units.empty() ? quantity : quantity + " (" + units + ")";
}

Panel panel_of(std::string x_title, std::string y_title, std::int64_t positions, std::vector<std::string> names) {
  Panel panel;
  panel.x_title = std::move(x_title);
  panel.y_title = std::move(y_title);
  panel.positions = positions;
  panel.names = std::move(names);
  return panel;
}

}  // namespace

Chart singular_value_chart(const std::vector<double> &values, std::int32_t kept) {
  const auto kept_count = static_cast<std::size_t>(std::clamp<std::int64_t>(kept, 0, count(values)));
  std::vector<double> kept_values(values.size(), NAN), cut_values(values.size(), NAN);
  std::copy_n(values.begin(), kept_count, kept_values.begin());
  std::copy(values.begin() + static_cast<std::ptrdiff_t>(kept_count), values.end(),
            cut_values.begin() + static_cast<std::ptrdiff_t>(kept_count));
  Panel panel = panel_of("index, largest first", "singular value", count(values), {});
  panel.log_scale = true;
  panel.series.push_back({"", Mark::line, 0xBBBBBB, values});
  panel.series.push_back({"kept (" + std::to_string(kept_count) + ")", Mark::filled_points, kKeptColour,
                          std::move(kept_values)});
  panel.series.push_back({"cut (" + std::to_string(values.size() - kept_count) + ")", Mark::hollow_points,
                          kCutColour, std::move(cut_values)});
  if (kept_count > 0 && kept_count < values.size()) {
    panel.cut = static_cast<double>(kept_count) - 0.5;
    panel.cut_label = "cut";
  }
  return {"singular values of the response matrix", {std::move(panel)}};
}

bool draw_singular_values(std::FILE *stream, PictureFormat format, const std::vector<double> &values,
                          std::int32_t kept) {
  return draw_chart(stream, format, singular_value_chart(values, kept));
}

Chart correction_chart(const CorrectionValues &values) {
  Panel orbit = panel_of("monitor", "orbit", count(values.before), names_for(values.monitors, values.before));
  orbit.series.push_back({"before", Mark::line, kBeforeColour, values.before});
  orbit.series.push_back({"", Mark::filled_points, kBeforeColour, values.before});
  orbit.series.push_back({"predicted after", Mark::line, kAfterColour, values.after});
  orbit.series.push_back({"", Mark::filled_points, kAfterColour, values.after});
  Panel change =
      panel_of("corrector", "change", count(values.change), names_for(values.correctors, values.change));
  change.series.push_back({"corrector change", Mark::bars, kChangeColour, values.change});
  return {values.title, {std::move(orbit), std::move(change)}};
}

Chart residual_chart(const ResidualValues &values) {
  Panel monitors = panel_of("monitor", with_units("rms residual", values.units), count(values.per_monitor),
                            names_for(values.monitors, values.per_monitor));
  monitors.series.push_back({"rms over the correctors", Mark::bars, kRmsColour, values.per_monitor});
  Panel correctors = panel_of("corrector", with_units("rms residual", values.units), count(values.per_corrector),
                              names_for(values.correctors, values.per_corrector));
  correctors.series.push_back({"rms over the monitors", Mark::bars, kRmsColour, values.per_corrector});
  return {values.title, {std::move(monitors), std::move(correctors)}};
}

}  // namespace respmat
