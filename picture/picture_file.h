// A picture written to a stream as PNG, SVG or PDF: the surface of its format made,
// drawn on, and encoded or completed, every failure of Cairo or of the writes
// reported through errno.
#ifndef RESPMAT_PICTURE_PICTURE_FILE_H
#define RESPMAT_PICTURE_PICTURE_FILE_H

#include <cairo.h>

#include <cstdio>
#include <functional>
#include <string>

#include "picture/cairo_owners.h"
#include "picture/heat_map.h"

namespace respmat {

// Context for measuring text before the picture's size is known, with the metrics
// every surface then uses.
class TextMeasure {
 public:
  TextMeasure();
  [[nodiscard]] cairo_t *context() const { return context_.get(); }
  [[nodiscard]] bool ok() const { return cairo_status(context_.get()) == CAIRO_STATUS_SUCCESS; }

 private:
  CairoSurface surface_;
  CairoContext context_;
};

// Draws a width x height picture with `draw` and writes it to `stream`, then flushes
// the stream; a PDF carries `title` as its title. Returns false and sets errno when it
// fails: the write's own error, ENOMEM, or EIO when Cairo fails for another reason.
[[nodiscard]] bool write_picture(std::FILE *stream, PictureFormat format, double width, double height,
                                 const std::string &title, const std::function<void(cairo_t *)> &draw);

}  // namespace respmat

#endif
