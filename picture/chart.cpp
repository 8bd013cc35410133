#include "picture/chart.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <numbers>

#include "picture/cairo_text.h"
#include "picture/picture_file.h"
#include "picture/ticks.h"

namespace respmat {
namespace {

// Lengths in pixels (PNG) or points (SVG, PDF).
constexpr double kFrameWidth = 720;
constexpr double kFrameHeight = 240;
constexpr double kMargin = 16;
constexpr double kGap = 6;
constexpr double kTick = 5;
constexpr double kLabelSpacing = 4;
constexpr double kMaxNameWidth = 120;
constexpr double kPanelGap = 24;
constexpr double kMarker = 3;
constexpr double kSwatch = 18;
constexpr int kMostValueTicks = 7;
constexpr int kMostDecadeTicks = 9;

// The positions labelled along x: every step-th from 0, the step the least of 1, 2,
// 5, 10, ... that leaves each label `extent` of the frame's width and room between.
std::vector<std::int64_t> labelled_positions(std::int64_t positions, double extent) {
  std::vector<std::int64_t> labelled;
  if (positions == 0) return labelled;
  const double pitch = kFrameWidth / static_cast<double>(positions);
  constexpr std::int64_t kLeadingDigits[] = {1, 2, 5};
  std::int64_t step = 1;
  for (std::int64_t decade = 1, k = 0; static_cast<double>(step) * pitch < extent + kLabelSpacing && step < positions;) {
    if (++k == 3) {
      k = 0;
      decade *= 10;
    }
    step = kLeadingDigits[k] * decade;
  }
  for (std::int64_t i = 0; i < positions; i += step) labelled.push_back(i);
  return labelled;
}

// The scale up y: round ticks over the values and 0 on a linear scale, whole decades
// over the positive values on a log scale.
void lay_out_scale(const Panel &panel, PanelLayout &layout) {
  double low = INFINITY, high = -INFINITY;
  for (const Series &series : panel.series)
    for (const double v : series.values)
      if (std::isfinite(v) && (!panel.log_scale || v > 0)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
  if (panel.log_scale) {
    const bool any = low <= high;
    layout.y_low = any ? std::floor(std::log10(low)) : -1;
    layout.y_high = any ? std::max(std::ceil(std::log10(high)), layout.y_low + 1) : 0;
    for (const int exponent :
         decade_ticks(static_cast<int>(layout.y_low), static_cast<int>(layout.y_high), kMostDecadeTicks))
      layout.y_ticks.push_back({std::pow(10.0, exponent), decade_text(exponent), static_cast<double>(exponent)});
    return;
  }
  low = std::min(low, 0.0);
  high = std::max(high, 0.0);
  if (low == high) high = 1;
  const double pad = (high - low) * 0.05;
  layout.y_low = low < 0 ? low - pad : 0;
  layout.y_high = high > 0 ? high + pad : 0;
  for (const double value : round_ticks(layout.y_low, layout.y_high, kMostValueTicks))
    layout.y_ticks.push_back({value, tick_text(value), value});
}

double y_of(const PanelLayout &layout, double scale_value) {
  const Box &f = layout.frame;
  return f.y + f.height * (1 - (scale_value - layout.y_low) / (layout.y_high - layout.y_low));
}

double x_of(const PanelLayout &layout, std::int64_t positions, double position) {
  const Box &f = layout.frame;
  return f.x + f.width * (position + 0.5) / static_cast<double>(std::max<std::int64_t>(positions, 1));
}

// Where a value goes up the panel; a log scale puts what it cannot show on the floor.
double value_y(const PanelLayout &layout, bool log_scale, double value) {
  if (!log_scale) return y_of(layout, value);
  return value > 0 ? y_of(layout, std::log10(value)) : layout.frame.y + layout.frame.height;
}

}  // namespace

ChartLayout lay_out_chart(cairo_t *measure, const Chart &chart) {
  ChartLayout layout;
  use_font(measure, kTitleFont);
  const double title_line = chart.title.empty() ? 0 : line_height(measure) + 2 * kGap;
  use_font(measure, kAxisTitleFont);
  const double axis_title_line = line_height(measure);
  use_font(measure, kLabelFont);
  const double label_line = line_height(measure);

  // The room left of the frames: the widest value of any panel and the titles.
  double values_width = 0;
  for (const Panel &panel : chart.panels) {
    PanelLayout &placed = layout.panels.emplace_back();
    lay_out_scale(panel, placed);
    for (const ChartTick &tick : placed.y_ticks) values_width = std::max(values_width, text_width(measure, tick.text));
  }
  const double frame_x = std::ceil(kMargin + axis_title_line + kGap + values_width + kGap + kTick);
  double y = kMargin + title_line;
  for (std::size_t k = 0; k < chart.panels.size(); ++k) {
    const Panel &panel = chart.panels[k];
    PanelLayout &placed = layout.panels[k];
    use_font(measure, kLabelFont);
    for (const Series &series : panel.series)
      if (!series.name.empty()) placed.legend.push_back(fitted(measure, series.name, kFrameWidth / 3));
    placed.legend_y = y + label_line / 2;
    if (!placed.legend.empty()) y += label_line + kGap;
    placed.frame = {frame_x, std::ceil(y), kFrameWidth, kFrameHeight};
    placed.x_labels_upright = panel.names.empty();
    const double extent =
        placed.x_labels_upright ? text_width(measure, std::to_string(std::max<std::int64_t>(0, panel.positions - 1)))
                                : label_line;
    double labels_height = label_line;
    for (const std::int64_t position : labelled_positions(panel.positions, extent)) {
      const std::string text = placed.x_labels_upright
                                   ? std::to_string(position)
                                   : fitted(measure, panel.names[static_cast<std::size_t>(position)], kMaxNameWidth);
      if (!placed.x_labels_upright) labels_height = std::max(labels_height, text_width(measure, text));
      placed.x_ticks.push_back({static_cast<double>(position), text,
                                std::round(x_of(placed, panel.positions, static_cast<double>(position))) + 0.5});
    }
    for (ChartTick &tick : placed.y_ticks) tick.at = std::round(y_of(placed, tick.at)) + 0.5;
    if (panel.cut) placed.cut_x = x_of(placed, panel.positions, *panel.cut);
    use_font(measure, kAxisTitleFont);
    placed.y_title = fitted(measure, panel.y_title, kFrameHeight);
    placed.x_title = fitted(measure, panel.x_title, kFrameWidth);
    placed.y_title_x = kMargin + axis_title_line / 2;
    placed.x_title_y = placed.frame.y + kFrameHeight + kTick + kGap + labels_height + kGap + axis_title_line / 2;
    y = placed.x_title_y + axis_title_line / 2 + kPanelGap;
  }
  layout.width = std::ceil(frame_x + kFrameWidth + kMargin);
  layout.height = std::ceil(y - kPanelGap + kMargin);
  if (!chart.title.empty()) {
    use_font(measure, kTitleFont);
    layout.title = fitted(measure, chart.title, layout.width - 2 * kMargin);
  }
  return layout;
}

namespace {

void draw_marker(cairo_t *cr, Mark mark, double x, double y) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, kMarker, 0, 2 * std::numbers::pi);
  if (mark == Mark::filled_points) {
    cairo_fill(cr);
  } else {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
  }
}

void draw_series(cairo_t *cr, const Panel &panel, const PanelLayout &layout, const Series &series) {
  const Rgb colour = rgb_of(series.colour);
  const double floor = layout.frame.y + layout.frame.height;
  const double base = panel.log_scale ? floor : std::clamp(y_of(layout, 0), layout.frame.y, floor);
  const double pitch = layout.frame.width / static_cast<double>(std::max<std::int64_t>(panel.positions, 1));
  cairo_set_line_width(cr, 1.5);
  bool drawing = false;
  for (std::size_t k = 0; k < series.values.size(); ++k) {
    const double v = series.values[k];
    if (!std::isfinite(v)) {
      drawing = false;
      continue;
    }
    const double x = x_of(layout, panel.positions, static_cast<double>(k));
    const double y = value_y(layout, panel.log_scale, v);
    set_colour(cr, colour);
    switch (series.mark) {
      case Mark::line:
        drawing ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
        drawing = true;
        break;
      case Mark::bars: {
        const double width = std::max(1.0, pitch * 0.7);
        cairo_rectangle(cr, x - width / 2, std::min(y, base), width, std::max(std::fabs(base - y), 0.5));
        cairo_fill(cr);
        break;
      }
      case Mark::filled_points:
      case Mark::hollow_points:
        draw_marker(cr, series.mark, x, y);
        if (series.mark == Mark::hollow_points) {
          set_colour(cr, colour);
          cairo_stroke(cr);
        }
        break;
    }
  }
  if (series.mark == Mark::line) cairo_stroke(cr);
  cairo_set_line_width(cr, 1);
}

// The legend's swatch of a series: a short line, a point or a block.
void draw_swatch(cairo_t *cr, const Series &series, double x, double y) {
  set_colour(cr, rgb_of(series.colour));
  if (series.mark == Mark::line) {
    cairo_set_line_width(cr, 1.5);
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + kSwatch, y);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 1);
  } else if (series.mark == Mark::bars) {
    cairo_rectangle(cr, x + kSwatch / 4, y - kSwatch / 4, kSwatch / 2, kSwatch / 2);
    cairo_fill(cr);
  } else {
    draw_marker(cr, series.mark, x + kSwatch / 2, y);
    if (series.mark == Mark::hollow_points) {
      set_colour(cr, rgb_of(series.colour));
      cairo_stroke(cr);
    }
  }
}

void draw_panel(cairo_t *cr, const Panel &panel, const PanelLayout &layout) {
  const Box &f = layout.frame;
  set_colour(cr, Rgb{0.88, 0.88, 0.88});
  for (const ChartTick &tick : layout.y_ticks) {
    cairo_move_to(cr, f.x, tick.at);
    cairo_line_to(cr, f.x + f.width, tick.at);
  }
  cairo_stroke(cr);
  cairo_save(cr);
  cairo_rectangle(cr, f.x, f.y, f.width, f.height);
  cairo_clip(cr);
  for (const Series &series : panel.series) draw_series(cr, panel, layout, series);
  cairo_restore(cr);

  set_colour(cr, kInk);
  cairo_rectangle(cr, f.x - 0.5, f.y - 0.5, f.width + 1, f.height + 1);
  cairo_stroke(cr);
  use_font(cr, kLabelFont);
  for (const ChartTick &tick : layout.y_ticks) {
    cairo_move_to(cr, f.x - 1 - kTick, tick.at);
    cairo_line_to(cr, f.x - 1, tick.at);
    cairo_stroke(cr);
    show(cr, tick.text, f.x - 1 - kTick - kGap, tick.at, Anchor::end);
  }
  const double bottom = f.y + f.height + 1;
  for (const ChartTick &tick : layout.x_ticks) {
    cairo_move_to(cr, tick.at, bottom);
    cairo_line_to(cr, tick.at, bottom + kTick);
    cairo_stroke(cr);
    if (layout.x_labels_upright)
      show(cr, tick.text, tick.at, bottom + kTick + kGap + line_height(cr) / 2, Anchor::middle);
    else
      show_upwards(cr, tick.text, tick.at, bottom + kTick + kGap, Anchor::end);
  }
  if (layout.cut_x) {
    const double x = std::round(*layout.cut_x) + 0.5;
    const double dash[] = {5, 3};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_move_to(cr, x, f.y);
    cairo_line_to(cr, x, f.y + f.height);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    show(cr, panel.cut_label, x + kGap, f.y + kGap + line_height(cr) / 2, Anchor::start);
  }
  // The legend, right-aligned above the frame.
  double x = f.x + f.width;
  std::size_t named = layout.legend.size();
  for (auto series = panel.series.rbegin(); series != panel.series.rend(); ++series) {
    if (series->name.empty()) continue;
    const std::string &text = layout.legend[--named];
    x -= text_width(cr, text);
    set_colour(cr, kInk);
    show(cr, text, x, layout.legend_y, Anchor::start);
    x -= kGap + kSwatch;
    draw_swatch(cr, *series, x, layout.legend_y);
    x -= 3 * kGap;
  }
  set_colour(cr, kInk);
  use_font(cr, kAxisTitleFont);
  show_upwards(cr, layout.y_title, layout.y_title_x, f.y + f.height / 2, Anchor::middle);
  show(cr, layout.x_title, f.x + f.width / 2, layout.x_title_y, Anchor::middle);
}

void draw(cairo_t *cr, const Chart &chart, const ChartLayout &layout) {
  if (!layout.title.empty()) {
    use_font(cr, kTitleFont);
    show(cr, layout.title, layout.width / 2, kMargin + line_height(cr) / 2, Anchor::middle);
  }
  for (std::size_t k = 0; k < chart.panels.size(); ++k) draw_panel(cr, chart.panels[k], layout.panels[k]);
}

}  // namespace

bool draw_chart(std::FILE *stream, PictureFormat format, const Chart &chart) {
  try {
    const TextMeasure measure;
    const ChartLayout layout = lay_out_chart(measure.context(), chart);
    if (!measure.ok()) {
      errno = cairo_status(measure.context()) == CAIRO_STATUS_NO_MEMORY ? ENOMEM : EIO;
      return false;
    }
    return write_picture(stream, format, layout.width, layout.height, chart.title,
                         [&](cairo_t *cr) { draw(cr, chart, layout); });
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace respmat
