#include "plots/plot_png.h"

#include <cmath>

#include "shared/tool_error.h"

#if RVX_HAVE_CAIRO
#include <cairo.h>
#endif

namespace rvx {

#if RVX_HAVE_CAIRO

namespace {

void source(cairo_t* cairo, uint32_t rgb, double alpha = 1) {
  cairo_set_source_rgba(cairo, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                        (rgb & 0xFF) / 255.0, alpha);
}

void drawShape(cairo_t* cairo, const Shape& shape) {
  switch (shape.kind) {
    case Shape::Kind::Path:
      for (const auto& line : shape.lines) {
        for (size_t i = 0; i < line.size(); ++i) {
          (i == 0 ? cairo_move_to : cairo_line_to)(cairo, line[i].x, line[i].y);
        }
        // A single point still shows, as a dot.
        if (line.size() == 1) cairo_rel_line_to(cairo, 0.5, 0);
      }
      break;
    case Shape::Kind::Rect:
      cairo_rectangle(cairo, shape.x, shape.y, shape.width, shape.height);
      if (shape.fill != kNoColour) {
        source(cairo, shape.fill, shape.opacity);
        cairo_fill_preserve(cairo);
      }
      break;
    case Shape::Kind::Text: {
      cairo_select_font_face(cairo, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                             shape.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
      cairo_set_font_size(cairo, shape.fontSize);
      cairo_text_extents_t extents;
      cairo_text_extents(cairo, shape.text.c_str(), &extents);
      const double shift = shape.anchor == Anchor::Start    ? 0
                           : shape.anchor == Anchor::Middle ? extents.x_advance / 2
                                                            : extents.x_advance;
      cairo_move_to(cairo, shape.x - shift, shape.y);
      source(cairo, shape.fill);
      cairo_show_text(cairo, shape.text.c_str());
      cairo_new_path(cairo);
      return;
    }
  }
  if (shape.stroke != kNoColour) {
    source(cairo, shape.stroke);
    cairo_set_line_width(cairo, shape.strokeWidth);
    cairo_set_dash(cairo, shape.dashes.data(), static_cast<int>(shape.dashes.size()), 0);
    cairo_stroke(cairo);
  }
  cairo_new_path(cairo);
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool pngAvailable() { return true; }

std::string renderPng(const Drawing& drawing) {
  const int width = static_cast<int>(std::ceil(drawing.width));
  const int height = static_cast<int>(std::ceil(drawing.height));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cairo = cairo_create(surface);
  cairo_set_source_rgb(cairo, 1, 1, 1);
  cairo_paint(cairo);
  cairo_set_line_join(cairo, CAIRO_LINE_JOIN_ROUND);
  for (const Shape& shape : drawing.shapes) drawShape(cairo, shape);
  cairo_status_t status = cairo_status(cairo);
  cairo_destroy(cairo);
  std::string png;
  if (status == CAIRO_STATUS_SUCCESS)
    status = cairo_surface_write_to_png_stream(surface, append, &png);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    throw ToolError(std::string("drawing the PNG: ") + cairo_status_to_string(status));
  }
  return png;
}

#else

bool pngAvailable() { return false; }

std::string renderPng(const Drawing&) { throw ToolError(kNoPngText); }

#endif

}  // namespace rvx
