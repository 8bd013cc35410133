#include "picture/cairo_text.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace respmat {
namespace {

// Labels longer than this are cut anyway, so longer text is never measured.
constexpr std::size_t kMaxTextBytes = 1024;

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

}  // namespace

Rgb rgb_of(std::uint32_t colour) {
  return {((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, (colour & 0xFF) / 255.0};
}

void set_colour(cairo_t *cr, Rgb colour) { cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue); }

// ---- Text

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

}  // namespace respmat
