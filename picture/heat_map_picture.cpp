#include "picture/heat_map_picture.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "picture/cairo_owners.h"
#include "picture/cairo_text.h"
#include "picture/picture_file.h"
#include "picture/ticks.h"

namespace respmat {
namespace {

// Lengths in pixels (PNG) or points (SVG, PDF).
constexpr double kMinPlotSide = 600;
constexpr double kMargin = 16;
constexpr double kGap = 6;            // between a tick and its label, labels and their axis title
constexpr double kTick = 5;
constexpr double kLabelSpacing = 4;   // the least room between neighbouring labels
constexpr double kMaxLabelWidth = 180;
constexpr double kBarGap = 24;        // between the plot and the colour bar
constexpr double kBarWidth = 20;
constexpr double kSwatch = 12;
constexpr int kMostBarTicks = 9;

// ---- Axes

// One axis of the plot: its entries drawn as cells of `block` entries each.
struct Axis {
  std::int32_t entries;
  std::int32_t block;
  std::int32_t cells;
  double cell_size;  // whole pixels, so that every cell is as large as the others
  double length;     // kMinPlotSide for an axis without entries

  Axis(std::int32_t entry_count, std::int32_t block_size, std::int32_t cell_count)
      : entries(entry_count),
        block(block_size),
        cells(cell_count),
        cell_size(cells == 0 ? 0 : std::ceil(kMinPlotSide / cells)),
        length(cells == 0 ? kMinPlotSide : cells * cell_size) {}

  // Where entry `index`'s middle lies from the axis's start. The last cell may hold
  // fewer entries than the others; they share it evenly.
  [[nodiscard]] double centre(std::int32_t index) const {
    const std::int32_t cell = index / block;
    const std::int64_t first = std::int64_t{cell} * block;
    const double in_cell = static_cast<double>(std::min<std::int64_t>(block, entries - first));
    return cell_size * (cell + (static_cast<double>(index - first) + 0.5) / in_cell);
  }
};

// The entries labelled along an axis: every step-th from 0, the step the least of 1,
// 2, 5, 10, 20, 50, ... that leaves each label `extent` of the axis's length and
// room between them.
std::vector<std::int32_t> labelled_entries(const Axis &axis, double extent) {
  std::vector<std::int32_t> labelled;
  if (axis.entries == 0) return labelled;
  const double pitch = axis.length / axis.entries;
  constexpr std::int64_t kLeadingDigits[] = {1, 2, 5};
  std::int64_t step = 1;
  for (std::int64_t decade = 1, k = 0; step * pitch < extent + kLabelSpacing && step < axis.entries;) {
    if (++k == 3) {
      k = 0;
      decade *= 10;
    }
    step = kLeadingDigits[k] * decade;
  }
  for (std::int64_t i = 0; i < axis.entries; i += step) labelled.push_back(static_cast<std::int32_t>(i));
  return labelled;
}

// The labels of an axis, thinned to leave each `extent` of its length: the names
// when there are any (cut to kMaxLabelWidth), else the 0-based indices. `start` is
// where the axis begins in the picture.
std::vector<AxisLabel> label_axis(cairo_t *cr, const Axis &axis, const std::vector<std::string> &names,
                                  double extent, double start) {
  std::vector<AxisLabel> labels;
  for (const std::int32_t entry : labelled_entries(axis, extent))
    labels.push_back({entry,
                      names.empty() ? std::to_string(entry)
                                    : fitted(cr, names[static_cast<std::size_t>(entry)], kMaxLabelWidth),
                      std::round(start + axis.centre(entry)) + 0.5});
  return labels;
}

double widest(cairo_t *cr, const std::vector<AxisLabel> &labels) {
  double width = 0;
  for (const AxisLabel &label : labels) width = std::max(width, text_width(cr, label.text));
  return width;
}

// What the colours stand for: "response (orbit per unit kick)".
std::string scale_label(const HeatMapStyle &style) {
  if (style.units.empty()) return style.quantity;
  if (style.quantity.empty()) return style.units;
  return style.quantity + " (" + style.units + ")";
}

// ---- Layout

// Placed in three passes: the texts that take room are measured, the plot and the
// colour bar are placed around them, then the labels and ticks along them.
}  // namespace

HeatMapLayout lay_out_heat_map(cairo_t *measure, const HeatMapCells &cells, const HeatMapStyle &style,
                               PictureFormat format) {
  HeatMapLayout layout;
  const Axis rows(cells.rows, cells.block_rows, cells.cell_rows);
  const Axis cols(cells.cols, cells.block_cols, cells.cell_cols);
  layout.cell_width = cols.cell_size;
  layout.cell_height = rows.cell_size;
  layout.vector_cells = format != PictureFormat::png && cells.cell_rows <= kMaxVectorCells &&
                        cells.cell_cols <= kMaxVectorCells;
  layout.column_labels_upright = style.column_names.empty();

  double title_line = 0;
  if (!style.title.empty()) {
    use_font(measure, kTitleFont);
    title_line = line_height(measure);
  }
  use_font(measure, kAxisTitleFont);
  const double axis_title_line = line_height(measure);
  layout.row_axis = fitted(measure, style.row_axis, rows.length);
  layout.column_axis = fitted(measure, style.column_axis, cols.length);
  layout.bar_label = fitted(measure, scale_label(style), rows.length);
  const double bar_label_room = layout.bar_label.empty() ? 0 : kGap + axis_title_line;

  use_font(measure, kLabelFont);
  const double label_line = line_height(measure);
  // Measured at the origin first; moved once the plot's corner is known.
  layout.row_labels = label_axis(measure, rows, style.row_names, label_line, 0);
  const double column_extent =
      layout.column_labels_upright ? text_width(measure, std::to_string(std::max(0, cols.entries - 1))) : label_line;
  layout.column_labels = label_axis(measure, cols, style.column_names, column_extent, 0);
  const double row_labels_width = widest(measure, layout.row_labels);
  const double column_labels_width = widest(measure, layout.column_labels);
  const double column_overhang = layout.column_labels_upright ? column_labels_width / 2 : 0;
  const double column_labels_room = layout.column_labels_upright ? label_line : column_labels_width;

  for (const double value : round_ticks(-cells.range, cells.range, kMostBarTicks))
    layout.bar_ticks.push_back({value, tick_text(value), 0});
  double bar_texts = 0;
  for (const ScaleTick &tick : layout.bar_ticks) bar_texts = std::max(bar_texts, text_width(measure, tick.text));
  if (cells.has_structural_zeros) layout.legend.push_back({kStructuralZeroColour, "zero by construction"});
  if (cells.has_nan) layout.legend.push_back({kNanColour, "not a number"});
  double legend_width = 0;
  for (const LegendItem &item : layout.legend)
    legend_width = std::max(legend_width, kSwatch + kGap + text_width(measure, item.text));

  // Across: the row axis's title, its labels, the plot, the colour bar, its values
  // and its label, or the legend under it.
  const double row_labels_end = kMargin + axis_title_line + kGap + row_labels_width + kGap + kTick;
  layout.plot.x = std::ceil(std::max(row_labels_end, kMargin + column_overhang));
  layout.plot.width = cols.length;
  layout.bar.x = std::ceil(layout.plot.x + cols.length + std::max(kBarGap, column_overhang + kGap));
  layout.bar.width = kBarWidth;
  layout.bar_ticks_x = layout.bar.x + kBarWidth + 1 + kTick + kGap;
  layout.bar_label_x = layout.bar_ticks_x + bar_texts + kGap + axis_title_line / 2;
  const double right = std::max(layout.bar_ticks_x + bar_texts + bar_label_room, layout.bar.x + legend_width);
  layout.width = std::ceil(right + kMargin);
  layout.row_axis_x = kMargin + axis_title_line / 2;

  // Down: the title, the plot, the column labels and their axis's title beside the
  // legend.
  layout.plot.y = std::ceil(kMargin + (title_line == 0 ? label_line / 2 : title_line + 2 * kGap));
  layout.plot.height = rows.length;
  layout.bar.y = layout.plot.y;
  layout.bar.height = rows.length;
  const double plot_bottom = layout.plot.y + rows.length;
  layout.column_labels_y = plot_bottom + kTick + kGap;
  layout.column_axis_y = layout.column_labels_y + column_labels_room + kGap + axis_title_line / 2;
  layout.legend_y = plot_bottom + label_line / 2 + 2 * kGap;
  const double legend_bottom = layout.legend_y + static_cast<double>(layout.legend.size()) * (kSwatch + kGap);
  layout.height = std::ceil(std::max(layout.column_axis_y + axis_title_line / 2, legend_bottom) + kMargin);

  for (AxisLabel &label : layout.row_labels) label.at += layout.plot.y;
  for (AxisLabel &label : layout.column_labels) label.at += layout.plot.x;
  for (ScaleTick &tick : layout.bar_ticks) {
    const double fraction = (tick.value / cells.range + 1) / 2;
    tick.y = std::clamp(std::round(layout.bar.y + rows.length * (1 - fraction)), layout.bar.y,
                        layout.bar.y + rows.length - 1) +
             0.5;
  }
  if (!style.title.empty()) {
    use_font(measure, kTitleFont);
    layout.title = fitted(measure, style.title, layout.width - 2 * kMargin);
    // Over the plot's middle when it fits there, else as near it as the margins allow.
    const double half = text_width(measure, layout.title) / 2;
    layout.title_x = std::clamp(layout.plot.x + cols.length / 2, kMargin + half, layout.width - kMargin - half);
    layout.title_y = kMargin + title_line / 2;
  }
  return layout;
}

namespace {

// ---- Drawing

// The cells blown up to the plot's size, each whole pixels of one colour. A raster
// is drawn from these rather than from the cells enlarged by Cairo because a viewer
// smooths an image it enlarges, which would blur the edges between cells.
std::vector<std::uint32_t> plot_pixels(const HeatMapLayout &layout, const HeatMapCells &cells) {
  const auto width = static_cast<std::size_t>(layout.plot.width);
  const auto cell_width = static_cast<std::size_t>(layout.cell_width);
  const auto cell_height = static_cast<std::size_t>(layout.cell_height);
  std::vector<std::uint32_t> pixels(width * static_cast<std::size_t>(layout.plot.height));
  for (std::size_t r = 0; r < static_cast<std::size_t>(cells.cell_rows); ++r) {
    const std::uint32_t *colours = cells.colours + r * static_cast<std::size_t>(cells.cell_cols);
    const auto first_line = pixels.begin() + static_cast<std::ptrdiff_t>(r * cell_height * width);
    for (std::size_t c = 0; c < static_cast<std::size_t>(cells.cell_cols); ++c)
      std::fill_n(first_line + static_cast<std::ptrdiff_t>(c * cell_width), cell_width, colours[c]);
    for (std::size_t line = 1; line < cell_height; ++line)
      std::copy_n(first_line, width, first_line + static_cast<std::ptrdiff_t>(line * width));
  }
  return pixels;
}

void draw_cells(cairo_t *cr, const HeatMapLayout &layout, const HeatMapCells &cells) {
  const Box &plot = layout.plot;
  if (cells.cell_rows == 0 || cells.cell_cols == 0) {
    use_font(cr, kLabelFont);
    show(cr, "no entries", plot.x + plot.width / 2, plot.y + plot.height / 2, Anchor::middle);
  } else if (layout.vector_cells) {
    for (std::int32_t r = 0; r < cells.cell_rows; ++r)
      for (std::int32_t c = 0; c < cells.cell_cols; ++c) {
        set_colour(cr, rgb_of(cells.colours[static_cast<std::size_t>(r) * static_cast<std::size_t>(cells.cell_cols) +
                                            static_cast<std::size_t>(c)]));
        cairo_rectangle(cr, plot.x + c * layout.cell_width, plot.y + r * layout.cell_height, layout.cell_width,
                        layout.cell_height);
        cairo_fill(cr);
      }
  } else {
    std::vector<std::uint32_t> pixels = plot_pixels(layout, cells);
    const CairoSurface image(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char *>(pixels.data()), CAIRO_FORMAT_RGB24, static_cast<int>(plot.width),
        static_cast<int>(plot.height), static_cast<int>(4 * plot.width)));
    cairo_set_source_surface(cr, image.get(), plot.x, plot.y);
    cairo_paint(cr);
    // The context's source holds the image until it is replaced, and letting it go
    // may copy the pixels: that must happen while they are still here.
    set_colour(cr, kInk);
  }
  set_colour(cr, kInk);
  cairo_rectangle(cr, plot.x - 0.5, plot.y - 0.5, plot.width + 1, plot.height + 1);
  cairo_stroke(cr);
}

void draw_axes(cairo_t *cr, const HeatMapLayout &layout) {
  use_font(cr, kLabelFont);
  const double row_tick_end = layout.plot.x - 1;
  for (const AxisLabel &label : layout.row_labels) {
    cairo_move_to(cr, row_tick_end - kTick, label.at);
    cairo_line_to(cr, row_tick_end, label.at);
    cairo_stroke(cr);
    show(cr, label.text, row_tick_end - kTick - kGap, label.at, Anchor::end);
  }
  const double column_tick_start = layout.plot.y + layout.plot.height + 1;
  for (const AxisLabel &label : layout.column_labels) {
    cairo_move_to(cr, label.at, column_tick_start);
    cairo_line_to(cr, label.at, column_tick_start + kTick);
    cairo_stroke(cr);
    if (layout.column_labels_upright)
      show(cr, label.text, label.at, layout.column_labels_y + line_height(cr) / 2, Anchor::middle);
    else
      show_upwards(cr, label.text, label.at, layout.column_labels_y, Anchor::end);
  }
  use_font(cr, kAxisTitleFont);
  show_upwards(cr, layout.row_axis, layout.row_axis_x, layout.plot.y + layout.plot.height / 2, Anchor::middle);
  show(cr, layout.column_axis, layout.plot.x + layout.plot.width / 2, layout.column_axis_y, Anchor::middle);
}

void draw_colour_bar(cairo_t *cr, const HeatMapLayout &layout) {
  const Box &bar = layout.bar;
  const CairoPattern scale(cairo_pattern_create_linear(0, bar.y + bar.height, 0, bar.y));
  cairo_pattern_add_color_stop_rgb(scale.get(), 0, 0, 0, 1);
  cairo_pattern_add_color_stop_rgb(scale.get(), 0.5, 1, 1, 1);
  cairo_pattern_add_color_stop_rgb(scale.get(), 1, 1, 0, 0);
  cairo_set_source(cr, scale.get());
  cairo_rectangle(cr, bar.x, bar.y, bar.width, bar.height);
  cairo_fill(cr);
  set_colour(cr, kInk);
  cairo_rectangle(cr, bar.x - 0.5, bar.y - 0.5, bar.width + 1, bar.height + 1);
  cairo_stroke(cr);
  use_font(cr, kLabelFont);
  const double tick_start = bar.x + bar.width + 1;
  for (const ScaleTick &tick : layout.bar_ticks) {
    cairo_move_to(cr, tick_start, tick.y);
    cairo_line_to(cr, tick_start + kTick, tick.y);
    cairo_stroke(cr);
    show(cr, tick.text, layout.bar_ticks_x, tick.y, Anchor::start);
  }
  use_font(cr, kAxisTitleFont);
  show_upwards(cr, layout.bar_label, layout.bar_label_x, bar.y + bar.height / 2, Anchor::middle);
}

void draw_legend(cairo_t *cr, const HeatMapLayout &layout) {
  use_font(cr, kLabelFont);
  double y = layout.legend_y;
  for (const LegendItem &item : layout.legend) {
    cairo_rectangle(cr, layout.bar.x + 0.5, y + 0.5, kSwatch - 1, kSwatch - 1);
    set_colour(cr, rgb_of(item.colour));
    cairo_fill_preserve(cr);
    set_colour(cr, kInk);
    cairo_stroke(cr);
    show(cr, item.text, layout.bar.x + kSwatch + kGap, y + kSwatch / 2, Anchor::start);
    y += kSwatch + kGap;
  }
}

void draw(cairo_t *cr, const HeatMapLayout &layout, const HeatMapCells &cells) {
  if (!layout.title.empty()) {
    use_font(cr, kTitleFont);
    show(cr, layout.title, layout.title_x, layout.title_y, Anchor::middle);
  }
  draw_cells(cr, layout, cells);
  draw_axes(cr, layout);
  draw_colour_bar(cr, layout);
  draw_legend(cr, layout);
}

}  // namespace

bool write_heat_map_picture(std::FILE *stream, PictureFormat format, const HeatMapCells &cells,
                            const HeatMapStyle &style) {
  try {
    const TextMeasure measure;
    const HeatMapLayout layout = lay_out_heat_map(measure.context(), cells, style, format);
    if (!measure.ok()) {
      errno = cairo_status(measure.context()) == CAIRO_STATUS_NO_MEMORY ? ENOMEM : EIO;
      return false;
    }
    return write_picture(stream, format, layout.width, layout.height, style.title,
                         [&](cairo_t *cr) { draw(cr, layout, cells); });
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace respmat
