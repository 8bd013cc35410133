#include "picture/heat_map_picture.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "base/number_conventions.h"
#include "picture/cairo_owners.h"

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
// Labels longer than this are cut anyway, so longer text is never measured.
constexpr std::size_t kMaxTextBytes = 1024;

struct Font {
  double size;
  cairo_font_weight_t weight;
};
constexpr Font kTitleFont{16, CAIRO_FONT_WEIGHT_BOLD};
constexpr Font kAxisTitleFont{13, CAIRO_FONT_WEIGHT_NORMAL};
constexpr Font kLabelFont{11, CAIRO_FONT_WEIGHT_NORMAL};

struct Rgb {
  double red, green, blue;
};
constexpr Rgb kInk{0.1, 0.1, 0.1};

Rgb rgb_of(std::uint32_t colour) {
  return {((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, (colour & 0xFF) / 255.0};
}

void set_colour(cairo_t *cr, Rgb colour) { cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue); }

// ---- Text

// The length of the well-formed UTF-8 sequence `text` starts with, 0 when it starts
// with none (a NUL counts as none: Cairo would end the text there).
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return lead == 0 ? 0 : 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  return length;
}

// Cairo refuses text that is not UTF-8, and a refusal would fail the whole picture:
// the text is cut to kMaxTextBytes at a character boundary and each byte that starts
// no well-formed sequence becomes '?'.
std::string drawable(std::string_view text) {
  std::size_t end = std::min(text.size(), kMaxTextBytes);
  while (end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text = text.substr(0, end);
  std::string result;
  result.reserve(text.size());
  for (std::size_t k = 0; k < text.size();) {
    const std::size_t length = utf8_sequence_length(text.substr(k));
    if (length == 0) {
      result += '?';
      ++k;
    } else {
      result.append(text.substr(k, length));
      k += length;
    }
  }
  return result;
}

void use_font(cairo_t *cr, Font font) {
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, font.weight);
  cairo_set_font_size(cr, font.size);
}

// Unhinted metrics, so that text measured on the scratch surface takes the same room
// on the picture's surface, whichever its format.
void use_unhinted_metrics(cairo_t *cr) {
  cairo_font_options_t *options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

double text_width(cairo_t *cr, const std::string &text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

double line_height(cairo_t *cr) {
  cairo_font_extents_t extents;
  cairo_font_extents(cr, &extents);
  return extents.ascent + extents.descent;
}

// `text` as drawn within `max_width`: whole when it fits, else cut at a character
// boundary and ended with an ellipsis.
std::string fitted(cairo_t *cr, std::string_view text, double max_width) {
  const std::string whole = drawable(text);
  if (text_width(cr, whole) <= max_width) return whole;
  std::vector<std::size_t> boundaries;
  for (std::size_t k = 0; k < whole.size(); ++k)
    if ((static_cast<unsigned char>(whole[k]) & 0xC0) != 0x80) boundaries.push_back(k);
  const auto cut = [&](std::size_t b) { return whole.substr(0, boundaries[b]) + "\u2026"; };
  std::size_t fits = 0, too_long = boundaries.size();  // the ellipsis alone is drawn when nothing fits
  while (too_long - fits > 1) {
    const std::size_t middle = fits + (too_long - fits) / 2;
    (text_width(cr, cut(middle)) <= max_width ? fits : too_long) = middle;
  }
  return cut(fits);
}

enum class Anchor { start, middle, end };

// Draws one line of text along the current x axis, anchored at x, its middle on y.
void show(cairo_t *cr, const std::string &text, double x, double y, Anchor anchor) {
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  const double width = text_width(cr, text);
  const double left = anchor == Anchor::start ? x : anchor == Anchor::middle ? x - width / 2 : x - width;
  cairo_move_to(cr, left, y + (font.ascent - font.descent) / 2);
  cairo_show_text(cr, text.c_str());
}

// The same, turned a quarter to read upwards, the anchor at (x, y).
void show_upwards(cairo_t *cr, const std::string &text, double x, double y, Anchor anchor) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -std::numbers::pi / 2);
  show(cr, text, 0, 0, anchor);
  cairo_restore(cr);
}

// A colour-bar value as the C locale writes it, with a true minus sign.
std::string scale_value(double value) {
  char text[32];
  {
    detail::CNumberConventions c_numbers;
    std::snprintf(text, sizeof text, "%.4g", value);
  }
  std::string result = text;
  if (result.front() == '-') result.replace(0, 1, "\u2212");
  return result;
}

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

struct AxisLabels {
  std::vector<std::int32_t> entries;
  std::vector<std::string> texts;
  double widest = 0;
};

// The labels of an axis, thinned to leave each `extent` of its length: the names
// when there are any (cut to kMaxLabelWidth), else the 0-based indices.
AxisLabels label_axis(cairo_t *cr, const Axis &axis, const std::vector<std::string> &names, double extent) {
  AxisLabels labels;
  labels.entries = labelled_entries(axis, extent);
  for (const std::int32_t entry : labels.entries) {
    labels.texts.push_back(names.empty() ? std::to_string(entry)
                                         : fitted(cr, names[static_cast<std::size_t>(entry)], kMaxLabelWidth));
    labels.widest = std::max(labels.widest, text_width(cr, labels.texts.back()));
  }
  return labels;
}

struct LegendItem {
  std::uint32_t colour;
  std::string text;
};

// ---- The picture

// Laid out once from the cells, the style and the fonts' metrics; drawn onto any
// surface. Rows run down from the top, row 0 first; columns left to right.
class HeatMapPicture {
 public:
  HeatMapPicture(cairo_t *measure, const HeatMapCells &cells, const HeatMapStyle &style);

  [[nodiscard]] double width() const { return width_; }
  [[nodiscard]] double height() const { return height_; }
  void draw(cairo_t *cr) const;

 private:
  // How far the texts beside the plot reach from it.
  struct TextRoom {
    double column_overhang = 0;  // of the first and last column labels, past the plot's sides
    double column_labels = 0;    // below the plot
    double bar_texts = 0;        // right of the colour bar's ticks
    double legend = 0;           // right of the colour bar's left side
  };
  // Chooses and cuts the texts beside the plot: axis titles, labels, the colour
  // bar's values and the legend.
  TextRoom measure_texts(cairo_t *measure, const HeatMapStyle &style);
  // Places the plot, the colour bar and the texts around them.
  void place(const TextRoom &room);
  [[nodiscard]] std::vector<std::uint32_t> plot_pixels() const;
  void draw_cells(cairo_t *cr) const;
  void draw_row_axis(cairo_t *cr) const;
  void draw_column_axis(cairo_t *cr) const;
  void draw_colour_bar(cairo_t *cr) const;
  void draw_legend(cairo_t *cr) const;
  [[nodiscard]] double bar_position(double fraction) const;

  const HeatMapCells &cells_;
  Axis rows_;
  Axis cols_;
  std::string title_;
  std::string row_axis_;
  std::string column_axis_;
  AxisLabels row_labels_;
  AxisLabels column_labels_;
  bool column_labels_upright_;  // indices stand upright; names read upwards
  std::vector<double> bar_values_;
  std::vector<std::string> bar_texts_;
  std::vector<LegendItem> legend_;
  double label_line_ = 0;
  double axis_title_line_ = 0;
  double title_line_ = 0;
  double plot_x_ = 0, plot_y_ = 0;
  double bar_x_ = 0;
  double column_labels_y_ = 0;  // their top
  double column_axis_y_ = 0;    // its middle
  double legend_y_ = 0;
  double width_ = 0, height_ = 0;
};

HeatMapPicture::HeatMapPicture(cairo_t *measure, const HeatMapCells &cells, const HeatMapStyle &style)
    : cells_(cells),
      rows_(cells.rows, cells.block_rows, cells.cell_rows),
      cols_(cells.cols, cells.block_cols, cells.cell_cols),
      column_labels_upright_(style.column_names.empty()) {
  place(measure_texts(measure, style));
  if (!style.title.empty()) {
    use_font(measure, kTitleFont);
    title_ = fitted(measure, style.title, width_ - 2 * kMargin);
  }
}

HeatMapPicture::TextRoom HeatMapPicture::measure_texts(cairo_t *measure, const HeatMapStyle &style) {
  TextRoom room;
  if (!style.title.empty()) {
    use_font(measure, kTitleFont);
    title_line_ = line_height(measure);
  }
  use_font(measure, kAxisTitleFont);
  axis_title_line_ = line_height(measure);
  row_axis_ = fitted(measure, style.row_axis, rows_.length);
  column_axis_ = fitted(measure, style.column_axis, cols_.length);

  use_font(measure, kLabelFont);
  label_line_ = line_height(measure);
  row_labels_ = label_axis(measure, rows_, style.row_names, label_line_);
  const double column_extent =
      column_labels_upright_ ? text_width(measure, std::to_string(std::max(0, cols_.entries - 1))) : label_line_;
  column_labels_ = label_axis(measure, cols_, style.column_names, column_extent);
  room.column_overhang = column_labels_upright_ ? column_labels_.widest / 2 : 0;
  room.column_labels = column_labels_upright_ ? label_line_ : column_labels_.widest;

  bar_values_ = {-cells_.range, -cells_.range / 2, 0.0, cells_.range / 2, cells_.range};
  for (const double value : bar_values_) {
    bar_texts_.push_back(scale_value(value));
    room.bar_texts = std::max(room.bar_texts, text_width(measure, bar_texts_.back()));
  }
  if (cells_.has_structural_zeros) legend_.push_back({kStructuralZeroColour, "zero by construction"});
  if (cells_.has_nan) legend_.push_back({kNanColour, "not a number"});
  for (const LegendItem &item : legend_)
    room.legend = std::max(room.legend, kSwatch + kGap + text_width(measure, item.text));
  return room;
}

void HeatMapPicture::place(const TextRoom &room) {
  // Across: the row axis's title, its labels, the plot, the colour bar and its labels
  // or the legend under it.
  const double row_labels_end = kMargin + axis_title_line_ + kGap + row_labels_.widest + kGap + kTick;
  plot_x_ = std::ceil(std::max(row_labels_end, kMargin + room.column_overhang));
  bar_x_ = std::ceil(plot_x_ + cols_.length + std::max(kBarGap, room.column_overhang + kGap));
  const double right = std::max(bar_x_ + kBarWidth + kTick + kGap + room.bar_texts, bar_x_ + room.legend);
  width_ = std::ceil(right + kMargin);

  // Down: the title, the plot, the column labels and their axis's title beside the
  // legend.
  plot_y_ = std::ceil(kMargin + (title_line_ == 0 ? label_line_ / 2 : title_line_ + 2 * kGap));
  const double plot_bottom = plot_y_ + rows_.length;
  column_labels_y_ = plot_bottom + kTick + kGap;
  column_axis_y_ = column_labels_y_ + room.column_labels + kGap + axis_title_line_ / 2;
  legend_y_ = plot_bottom + label_line_ / 2 + 2 * kGap;
  const double legend_bottom = legend_y_ + static_cast<double>(legend_.size()) * (kSwatch + kGap);
  height_ = std::ceil(std::max(column_axis_y_ + axis_title_line_ / 2, legend_bottom) + kMargin);
}

void HeatMapPicture::draw(cairo_t *cr) const {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  set_colour(cr, kInk);
  cairo_set_line_width(cr, 1);
  if (!title_.empty()) {
    use_font(cr, kTitleFont);
    // Over the plot's middle when it fits there, else as near it as the margins allow.
    const double half = text_width(cr, title_) / 2;
    const double middle = std::clamp(plot_x_ + cols_.length / 2, kMargin + half, width_ - kMargin - half);
    show(cr, title_, middle, kMargin + title_line_ / 2, Anchor::middle);
  }
  draw_cells(cr);
  draw_row_axis(cr);
  draw_column_axis(cr);
  draw_colour_bar(cr);
  draw_legend(cr);
}

// The cells blown up to the plot's size, each whole pixels of one colour. The picture
// is drawn from these rather than from the cells enlarged by Cairo because an SVG
// viewer smooths an image it enlarges, which would blur the edges between cells.
std::vector<std::uint32_t> HeatMapPicture::plot_pixels() const {
  const auto width = static_cast<std::size_t>(cols_.length);
  const auto cell_width = static_cast<std::size_t>(cols_.cell_size);
  const auto cell_height = static_cast<std::size_t>(rows_.cell_size);
  std::vector<std::uint32_t> pixels(width * static_cast<std::size_t>(rows_.length));
  for (std::size_t r = 0; r < static_cast<std::size_t>(cells_.cell_rows); ++r) {
    const std::uint32_t *colours = cells_.colours + r * static_cast<std::size_t>(cells_.cell_cols);
    const auto first_line = pixels.begin() + static_cast<std::ptrdiff_t>(r * cell_height * width);
    for (std::size_t c = 0; c < static_cast<std::size_t>(cells_.cell_cols); ++c)
      std::fill_n(first_line + static_cast<std::ptrdiff_t>(c * cell_width), cell_width, colours[c]);
    for (std::size_t line = 1; line < cell_height; ++line)
      std::copy_n(first_line, width, first_line + static_cast<std::ptrdiff_t>(line * width));
  }
  return pixels;
}

void HeatMapPicture::draw_cells(cairo_t *cr) const {
  if (cells_.cell_rows == 0 || cells_.cell_cols == 0) {
    use_font(cr, kLabelFont);
    show(cr, "no entries", plot_x_ + cols_.length / 2, plot_y_ + rows_.length / 2, Anchor::middle);
  } else {
    std::vector<std::uint32_t> pixels = plot_pixels();
    const CairoSurface plot(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char *>(pixels.data()), CAIRO_FORMAT_RGB24, static_cast<int>(cols_.length),
        static_cast<int>(rows_.length), static_cast<int>(4 * cols_.length)));
    cairo_set_source_surface(cr, plot.get(), plot_x_, plot_y_);
    cairo_paint(cr);
    set_colour(cr, kInk);
  }
  cairo_rectangle(cr, plot_x_ - 0.5, plot_y_ - 0.5, cols_.length + 1, rows_.length + 1);
  cairo_stroke(cr);
}

void HeatMapPicture::draw_row_axis(cairo_t *cr) const {
  use_font(cr, kLabelFont);
  const double tick_end = plot_x_ - 1;
  for (std::size_t k = 0; k < row_labels_.entries.size(); ++k) {
    const double y = std::round(plot_y_ + rows_.centre(row_labels_.entries[k])) + 0.5;
    cairo_move_to(cr, tick_end - kTick, y);
    cairo_line_to(cr, tick_end, y);
    cairo_stroke(cr);
    show(cr, row_labels_.texts[k], tick_end - kTick - kGap, y, Anchor::end);
  }
  use_font(cr, kAxisTitleFont);
  show_upwards(cr, row_axis_, kMargin + axis_title_line_ / 2, plot_y_ + rows_.length / 2, Anchor::middle);
}

void HeatMapPicture::draw_column_axis(cairo_t *cr) const {
  use_font(cr, kLabelFont);
  const double tick_start = plot_y_ + rows_.length + 1;
  for (std::size_t k = 0; k < column_labels_.entries.size(); ++k) {
    const double x = std::round(plot_x_ + cols_.centre(column_labels_.entries[k])) + 0.5;
    cairo_move_to(cr, x, tick_start);
    cairo_line_to(cr, x, tick_start + kTick);
    cairo_stroke(cr);
    const std::string &text = column_labels_.texts[k];
    if (column_labels_upright_)
      show(cr, text, x, column_labels_y_ + label_line_ / 2, Anchor::middle);
    else
      show_upwards(cr, text, x, column_labels_y_, Anchor::end);
  }
  use_font(cr, kAxisTitleFont);
  show(cr, column_axis_, plot_x_ + cols_.length / 2, column_axis_y_, Anchor::middle);
}

// Where a fraction of the colour bar's height lies, 0 at its foot (-range).
double HeatMapPicture::bar_position(double fraction) const { return plot_y_ + rows_.length * (1 - fraction); }

void HeatMapPicture::draw_colour_bar(cairo_t *cr) const {
  const CairoPattern scale(cairo_pattern_create_linear(0, bar_position(0), 0, bar_position(1)));
  cairo_pattern_add_color_stop_rgb(scale.get(), 0, 0, 0, 1);
  cairo_pattern_add_color_stop_rgb(scale.get(), 0.5, 1, 1, 1);
  cairo_pattern_add_color_stop_rgb(scale.get(), 1, 1, 0, 0);
  cairo_set_source(cr, scale.get());
  cairo_rectangle(cr, bar_x_, plot_y_, kBarWidth, rows_.length);
  cairo_fill(cr);
  set_colour(cr, kInk);
  cairo_rectangle(cr, bar_x_ - 0.5, plot_y_ - 0.5, kBarWidth + 1, rows_.length + 1);
  cairo_stroke(cr);
  use_font(cr, kLabelFont);
  const double tick_start = bar_x_ + kBarWidth + 1;
  for (std::size_t k = 0; k < bar_values_.size(); ++k) {
    const double fraction = (bar_values_[k] / cells_.range + 1) / 2;
    const double y = std::clamp(std::round(bar_position(fraction)), plot_y_, plot_y_ + rows_.length - 1) + 0.5;
    cairo_move_to(cr, tick_start, y);
    cairo_line_to(cr, tick_start + kTick, y);
    cairo_stroke(cr);
    show(cr, bar_texts_[k], tick_start + kTick + kGap, y, Anchor::start);
  }
}

void HeatMapPicture::draw_legend(cairo_t *cr) const {
  use_font(cr, kLabelFont);
  double y = legend_y_;
  for (const LegendItem &item : legend_) {
    cairo_rectangle(cr, bar_x_ + 0.5, y + 0.5, kSwatch - 1, kSwatch - 1);
    set_colour(cr, rgb_of(item.colour));
    cairo_fill_preserve(cr);
    set_colour(cr, kInk);
    cairo_stroke(cr);
    show(cr, item.text, bar_x_ + kSwatch + kGap, y + kSwatch / 2, Anchor::start);
    y += kSwatch + kGap;
  }
}

// ---- Writing

// Where Cairo's output goes; the first failed write's errno is kept, since later
// calls into Cairo may change errno.
struct StreamSink {
  std::FILE *stream;
  int error = 0;
};

cairo_status_t write_to_sink(void *closure, const unsigned char *data, unsigned int length) {
  auto *sink = static_cast<StreamSink *>(closure);
  errno = 0;
  if (std::fwrite(data, 1, length, sink->stream) == length) return CAIRO_STATUS_SUCCESS;
  if (sink->error == 0) sink->error = errno != 0 ? errno : EIO;
  return CAIRO_STATUS_WRITE_ERROR;
}

CairoSurface create_surface(PictureFormat format, double width, double height, StreamSink &sink) {
  switch (format) {
    case PictureFormat::svg:
      return CairoSurface(cairo_svg_surface_create_for_stream(write_to_sink, &sink, width, height));
    case PictureFormat::pdf:
      return CairoSurface(cairo_pdf_surface_create_for_stream(write_to_sink, &sink, width, height));
    case PictureFormat::png:
      break;
  }
  return CairoSurface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height)));
}

// Writes what was drawn: a PNG is encoded now, SVG and PDF are completed.
cairo_status_t emit(cairo_surface_t *surface, PictureFormat format, StreamSink &sink) {
  if (format == PictureFormat::png) return cairo_surface_write_to_png_stream(surface, write_to_sink, &sink);
  cairo_surface_finish(surface);
  return cairo_surface_status(surface);
}

bool report_failure(cairo_status_t status, const StreamSink &sink) {
  errno = sink.error != 0 ? sink.error : status == CAIRO_STATUS_NO_MEMORY ? ENOMEM : EIO;
  return false;
}

bool draw_and_write(std::FILE *stream, PictureFormat format, const HeatMapCells &cells, const HeatMapStyle &style) {
  StreamSink sink{stream};
  const CairoSurface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
  const CairoContext measure(cairo_create(scratch.get()));
  use_unhinted_metrics(measure.get());
  const HeatMapPicture picture(measure.get(), cells, style);
  if (cairo_status(measure.get()) != CAIRO_STATUS_SUCCESS) return report_failure(cairo_status(measure.get()), sink);

  const CairoSurface surface = create_surface(format, picture.width(), picture.height(), sink);
  if (format == PictureFormat::pdf)
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, drawable(style.title).c_str());
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  {
    const CairoContext cr(cairo_create(surface.get()));
    use_unhinted_metrics(cr.get());
    picture.draw(cr.get());
    status = cairo_status(cr.get());
  }
  if (status == CAIRO_STATUS_SUCCESS) status = emit(surface.get(), format, sink);
  if (status != CAIRO_STATUS_SUCCESS) return report_failure(status, sink);
  return std::fflush(stream) == 0;
}

}  // namespace

bool write_heat_map_picture(std::FILE *stream, PictureFormat format, const HeatMapCells &cells,
                            const HeatMapStyle &style) {
  try {
    return draw_and_write(stream, format, cells, style);
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace respmat
