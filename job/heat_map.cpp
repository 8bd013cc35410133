#include "job/heat_map.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>

namespace respmat {
namespace {

// libpng reports errors through this function, which must not return: it jumps
// back to the setjmp of the call in progress. Messages are left to the caller.
[[noreturn]] void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_png_warning(png_structp, png_const_charp) {}

png_byte channel(double level) { return static_cast<png_byte>(std::lround(255.0 * level)); }

// Blue through white to red; t in [-1, 1].
void colour(double value, double range, png_byte *rgb) {
  if (std::isnan(value)) {
    rgb[0] = rgb[1] = rgb[2] = 128;
    return;
  }
  const double t = std::fmax(-1.0, std::fmin(1.0, value / range));
  const png_byte fade = channel(1.0 - std::fabs(t));
  rgb[0] = t < 0 ? fade : 255;
  rgb[1] = fade;
  rgb[2] = t > 0 ? fade : 255;
}

}  // namespace

HeatMap::HeatMap(std::FILE *stream, std::int32_t m, double range)
    : stream_(stream),
      m_(m),
      range_(range),
      block_(m <= kMaxSide ? 1 : (m + kMaxSide - 1) / kMaxSide),
      side_(m == 0 ? 1 : (m + block_ - 1) / block_),
      sums_(static_cast<std::size_t>(side_), 0.0),
      pixels_(3 * static_cast<std::size_t>(side_), 255) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g %.17g", -range, range);
  range_text_ = text;
}

HeatMap::~HeatMap() { png_destroy_write_struct(&png_, &info_); }

// The functions that call libpng hold no object with a destructor between setjmp
// and the calls, so the jump back on an error skips nothing.
bool HeatMap::start() {
  png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (png_ == nullptr) return false;
  info_ = png_create_info_struct(png_);
  if (info_ == nullptr) return false;
  if (setjmp(png_jmpbuf(png_))) return false;
  png_init_io(png_, stream_);
  png_set_IHDR(png_, info_, static_cast<png_uint_32>(side_), static_cast<png_uint_32>(side_), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text text[2] = {};
  text[0].compression = PNG_TEXT_COMPRESSION_NONE;
  text[0].key = const_cast<png_charp>("Title");
  text[0].text = const_cast<png_charp>("model response matrix");
  text[1].compression = PNG_TEXT_COMPRESSION_NONE;
  text[1].key = const_cast<png_charp>("Range");
  text[1].text = range_text_.data();
  png_set_text(png_, info_, text, 2);
  png_write_info(png_, info_);
  return true;
}

bool HeatMap::add_row(const std::vector<double> &row) {
  for (std::int32_t j = 0; j < m_; ++j) sums_[static_cast<std::size_t>(j / block_)] += row[static_cast<std::size_t>(j)];
  ++rows_in_block_;
  const bool last_row_of_block = rows_in_block_ == block_;
  if (!last_row_of_block) return true;
  colour_block_row();
  return write_pixel_row();
}

void HeatMap::colour_block_row() {
  for (std::int32_t c = 0; c < side_; ++c) {
    const std::int32_t cols = std::min(block_, m_ - c * block_);
    const double mean = sums_[static_cast<std::size_t>(c)] / (static_cast<double>(cols) * rows_in_block_);
    colour(mean, range_, &pixels_[3 * static_cast<std::size_t>(c)]);
    sums_[static_cast<std::size_t>(c)] = 0.0;
  }
  rows_in_block_ = 0;
}

bool HeatMap::write_pixel_row() {
  if (setjmp(png_jmpbuf(png_))) return false;
  png_write_row(png_, pixels_.data());
  return true;
}

bool HeatMap::finish() {
  if (rows_in_block_ != 0) {
    colour_block_row();
    if (!write_pixel_row()) return false;
  }
  if (m_ == 0 && !write_pixel_row()) return false;  // the one white pixel
  if (setjmp(png_jmpbuf(png_))) return false;
  png_write_end(png_, info_);
  return true;
}

}  // namespace respmat
