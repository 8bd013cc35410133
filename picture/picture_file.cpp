#include "picture/picture_file.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <cerrno>
#include <new>

#include "picture/cairo_owners.h"
#include "picture/cairo_text.h"

namespace respmat {
namespace {

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

bool draw_and_write(std::FILE *stream, PictureFormat format, double width, double height, const std::string &title,
                    const std::function<void(cairo_t *)> &draw) {
  StreamSink sink{stream};
  const CairoSurface surface = create_surface(format, width, height, sink);
  if (format == PictureFormat::pdf)
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, drawable(title).c_str());
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  {
    const CairoContext cr(cairo_create(surface.get()));
    use_unhinted_metrics(cr.get());
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    set_colour(cr.get(), kInk);
    cairo_set_line_width(cr.get(), 1);
    draw(cr.get());
    status = cairo_status(cr.get());
  }
  if (status == CAIRO_STATUS_SUCCESS) status = emit(surface.get(), format, sink);
  // A surface that is finished may not report a write that failed while finishing.
  if (status != CAIRO_STATUS_SUCCESS || sink.error != 0) {
    errno = sink.error != 0 ? sink.error : status == CAIRO_STATUS_NO_MEMORY ? ENOMEM : EIO;
    return false;
  }
  return std::fflush(stream) == 0;
}

}  // namespace

TextMeasure::TextMeasure()
    : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1)), context_(cairo_create(surface_.get())) {
  use_unhinted_metrics(context_.get());
}

bool write_picture(std::FILE *stream, PictureFormat format, double width, double height, const std::string &title,
                   const std::function<void(cairo_t *)> &draw) {
  try {
    return draw_and_write(stream, format, width, height, title, draw);
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace respmat
