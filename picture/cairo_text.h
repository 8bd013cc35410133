// Text on a Cairo context as the pictures draw it: any bytes made drawable, cut to
// a width with an ellipsis, measured with unhinted metrics so that a layout measured
// on a scratch surface holds on every format, and drawn anchored along or across.
#ifndef RESPMAT_PICTURE_CAIRO_TEXT_H
#define RESPMAT_PICTURE_CAIRO_TEXT_H

#include <cairo.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace respmat {

struct Font {
  double size;
  cairo_font_weight_t weight;
};
inline constexpr Font kTitleFont{16, CAIRO_FONT_WEIGHT_BOLD};
inline constexpr Font kAxisTitleFont{13, CAIRO_FONT_WEIGHT_NORMAL};
inline constexpr Font kLabelFont{11, CAIRO_FONT_WEIGHT_NORMAL};

struct Rgb {
  double red, green, blue;
};
inline constexpr Rgb kInk{0.1, 0.1, 0.1};

[[nodiscard]] Rgb rgb_of(std::uint32_t colour);  // from 0x00RRGGBB
void set_colour(cairo_t *cr, Rgb colour);

// Cairo refuses text that is not UTF-8, and a refusal would fail the whole picture:
// the text is cut to 1024 bytes at a character boundary and each byte that starts no
// well-formed sequence becomes '?'.
[[nodiscard]] std::string drawable(std::string_view text);

void use_font(cairo_t *cr, Font font);
void use_unhinted_metrics(cairo_t *cr);
[[nodiscard]] double text_width(cairo_t *cr, const std::string &text);
[[nodiscard]] double line_height(cairo_t *cr);

// `text` as drawn within `max_width`: whole when it fits, else cut at a character
// boundary and ended with an ellipsis.
[[nodiscard]] std::string fitted(cairo_t *cr, std::string_view text, double max_width);

enum class Anchor { start, middle, end };

// Draws one line of text along the current x axis, anchored at x, its middle on y.
void show(cairo_t *cr, const std::string &text, double x, double y, Anchor anchor);
// The same, turned a quarter to read upwards, the anchor at (x, y).
void show_upwards(cairo_t *cr, const std::string &text, double x, double y, Anchor anchor);

}  // namespace respmat

#endif
