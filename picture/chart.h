// Charts of values along the monitors, the correctors or the singular values: one or
// more panels one above the other, each with its named or numbered positions along
// x, a linear or log scale up y at round ticks, lines, points or bars, a legend and
// an optional cut. Laid out first as a plain structure, then drawn with Cairo.
#ifndef RESPMAT_PICTURE_CHART_H
#define RESPMAT_PICTURE_CHART_H

#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "picture/heat_map.h"
#include "picture/heat_map_picture.h"

namespace respmat {

enum class Mark { line, filled_points, hollow_points, bars };

// Values at positions 0, 1, 2, ... along x; those that are not finite are left out.
struct Series {
  std::string name;  // the legend's text; empty: not in the legend
  Mark mark;
  std::uint32_t colour;  // 0x00RRGGBB
  std::vector<double> values;
};

struct Panel {
  std::string x_title, y_title;
  std::int64_t positions = 0;      // along x
  std::vector<std::string> names;  // one per position, or empty: the positions' 0-based numbers
  bool log_scale = false;          // values at or below 0 then sit on the bottom edge
  std::vector<Series> series;
  std::optional<double> cut;  // x of a dashed upright line, between positions
  std::string cut_label;
};

struct Chart {
  std::string title;
  std::vector<Panel> panels;
};

// A mark along an axis: the value, its text and where it is drawn (x or y).
struct ChartTick {
  double value;
  std::string text;
  double at;
};

struct PanelLayout {
  Box frame;
  std::string x_title, y_title;  // as drawn, cut to their room
  double x_title_y = 0, y_title_x = 0;
  std::vector<ChartTick> x_ticks;  // positions with their names or numbers, thinned
  bool x_labels_upright = true;    // numbers stand; names read upwards
  std::vector<ChartTick> y_ticks;  // round values, or decades on a log scale
  double y_low = 0, y_high = 1;    // the scale's ends (exponents on a log scale)
  std::vector<std::string> legend;  // the named series' texts, in order
  double legend_y = 0;              // the middle of its line, above the frame
  std::optional<double> cut_x;
};

struct ChartLayout {
  double width = 0, height = 0;
  std::string title;
  std::vector<PanelLayout> panels;
};

// Lays the chart out, measuring text on `measure`.
[[nodiscard]] ChartLayout lay_out_chart(cairo_t *measure, const Chart &chart);

// Draws `chart` to `stream` as PNG, SVG or PDF. False with errno set when drawing or
// writing fails, as write_heat_map_picture().
[[nodiscard]] bool draw_chart(std::FILE *stream, PictureFormat format, const Chart &chart);

}  // namespace respmat

#endif
