// Test support: the heat map's PNG pictures read back as pixels.
#ifndef RESPMAT_PICTURE_PICTURE_TEST_SUPPORT_H
#define RESPMAT_PICTURE_PICTURE_TEST_SUPPORT_H

#include <cairo.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture/cairo_owners.h"

namespace respmat::testing {

struct Pixel {
  int x, y;
};

// A picture as 0xRRGGBB values, row by row from the top; 0 x 0 when the file is not
// a PNG Cairo reads.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  [[nodiscard]] std::uint32_t at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  }
  // The first pixel of `colour`, rows from the top, each from the left.
  [[nodiscard]] std::optional<Pixel> find(std::uint32_t colour) const {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (at(x, y) == colour) return Pixel{x, y};
    return std::nullopt;
  }
  // How many pixels of `colour` run rightwards from (x, y).
  [[nodiscard]] int run(int x, int y, std::uint32_t colour) const {
    int length = 0;
    while (x + length < width && at(x + length, y) == colour) ++length;
    return length;
  }
};

inline Picture read_png(const std::string &path) {
  const CairoSurface owner(cairo_image_surface_create_from_png(path.c_str()));
  cairo_surface_t *surface = owner.get();
  Picture picture;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(surface);
    picture.width = cairo_image_surface_get_width(surface);
    picture.height = cairo_image_surface_get_height(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x)
        picture.pixels.push_back(reinterpret_cast<const std::uint32_t *>(data + y * stride)[x] & 0xFFFFFF);
  }
  return picture;
}

}  // namespace respmat::testing

#endif
