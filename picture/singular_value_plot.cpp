#include "picture/singular_value_plot.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>

#include "picture/cairo_owners.h"

namespace respmat {
namespace {

constexpr double kWidth = 640, kHeight = 400;
constexpr double kLeft = 70, kRight = 20, kTop = 30, kBottom = 50;
constexpr double kMarker = 3.0;

// Where the values go: a log scale over whole decades that hold every positive value.
struct LogAxis {
  double low_decade = -1, high_decade = 0;

  explicit LogAxis(const std::vector<double> &values) {
    double low = 0, high = 0;
    for (const double v : values)
      if (v > 0) {
        low = low > 0 ? std::min(low, v) : v;
        high = std::max(high, v);
      }
    if (high > 0) {
      low_decade = std::floor(std::log10(low));
      high_decade = std::max(std::ceil(std::log10(high)), low_decade + 1);
    }
  }
  [[nodiscard]] double y(double value) const {
    const double bottom = kHeight - kBottom;
    if (!(value > 0)) return bottom;
    return bottom - (std::log10(value) - low_decade) / (high_decade - low_decade) * (bottom - kTop);
  }
};

void draw_axes(cairo_t *cr, const LogAxis &axis, std::size_t count) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
  cairo_stroke(cr);
  cairo_set_font_size(cr, 11);
  for (double decade = axis.low_decade; decade <= axis.high_decade; ++decade) {
    const double y = axis.y(std::pow(10.0, decade));
    cairo_move_to(cr, kLeft - 5, y);
    cairo_line_to(cr, kLeft, y);
    cairo_stroke(cr);
    const std::string label = "1e" + std::to_string(static_cast<int>(decade));
    cairo_move_to(cr, 8, y + 4);
    cairo_show_text(cr, label.c_str());
  }
  cairo_move_to(cr, kLeft, kHeight - kBottom + 30);
  cairo_show_text(cr, ("singular values by index, 0 to " + std::to_string(count == 0 ? 0 : count - 1) +
                       "; filled: kept, hollow: cut")
                          .c_str());
}

void draw_values(cairo_t *cr, const LogAxis &axis, const std::vector<double> &values, std::int32_t kept) {
  const double span = kWidth - kLeft - kRight;
  const double step = values.size() > 1 ? span / static_cast<double>(values.size() - 1) : 0;
  cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double x = kLeft + step * static_cast<double>(k), y = axis.y(values[k]);
    if (k == 0) cairo_move_to(cr, x, y); else cairo_line_to(cr, x, y);
  }
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 0.1, 0.3, 0.8);
  for (std::size_t k = 0; k < values.size(); ++k) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, kLeft + step * static_cast<double>(k), axis.y(values[k]), kMarker, 0, 2 * M_PI);
    if (static_cast<std::int32_t>(k) < kept) cairo_fill(cr); else cairo_stroke(cr);
  }
}

cairo_status_t write_chunk(void *closure, const unsigned char *data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE *>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                   : CAIRO_STATUS_WRITE_ERROR;
}

CairoSurface surface_for(PictureFormat format, std::FILE *stream) {
  if (format == PictureFormat::svg) return CairoSurface(cairo_svg_surface_create_for_stream(write_chunk, stream, kWidth, kHeight));
  if (format == PictureFormat::pdf) return CairoSurface(cairo_pdf_surface_create_for_stream(write_chunk, stream, kWidth, kHeight));
  return CairoSurface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kWidth), static_cast<int>(kHeight)));
}

}  // namespace

bool draw_singular_values(std::FILE *stream, PictureFormat format, const std::vector<double> &values, std::int32_t kept) {
  const CairoSurface surface = surface_for(format, stream);
  {
    const CairoContext cr(cairo_create(surface.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    const LogAxis axis(values);
    draw_axes(cr.get(), axis, values.size());
    draw_values(cr.get(), axis, values, kept);
  }
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  if (format == PictureFormat::png) {
    status = cairo_surface_write_to_png_stream(surface.get(), write_chunk, stream);
  } else {
    cairo_surface_finish(surface.get());
    status = cairo_surface_status(surface.get());
  }
  if (status != CAIRO_STATUS_SUCCESS && errno == 0) errno = EIO;
  return status == CAIRO_STATUS_SUCCESS;
}

}  // namespace respmat
