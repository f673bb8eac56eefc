#include "tools/artgen/Canvas.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace artgen {

bool Image::FullyOpaque() const {
  for (size_t i = 3; i < rgba.size(); i += 4)
    if (rgba[i] != 255) return false;
  return true;
}

Colour ToColour(Argb argb) {
  return {((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
          ((argb >> 24) & 0xFF) / 255.0};
}

Colour Mix(Colour from, Colour to, double t) {
  return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t,
          from.a + (to.a - from.a) * t};
}

Colour Alpha(Colour c, double factor) { return {c.r, c.g, c.b, c.a * factor}; }
Colour Lighter(Colour c, double t) { return Mix(c, {1, 1, 1, c.a}, t); }
Colour Darker(Colour c, double t) { return Mix(c, {0, 0, 0, c.a}, t); }

Canvas::Canvas(int width, int height)
    : m_width(width),
      m_height(height),
      m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
      m_cr(cairo_create(m_surface)) {
  if (cairo_surface_status(m_surface) != CAIRO_STATUS_SUCCESS || cairo_status(m_cr) != CAIRO_STATUS_SUCCESS)
    throw std::runtime_error("cairo cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
                             " surface");
  cairo_set_antialias(m_cr, CAIRO_ANTIALIAS_GOOD);
}

Canvas::~Canvas() {
  cairo_destroy(m_cr);
  cairo_surface_destroy(m_surface);
}

Image Canvas::Cut(int x, int y, int width, int height) const {
  if (x < 0 || y < 0 || width < 1 || height < 1 || x + width > m_width || y + height > m_height)
    throw std::logic_error("a cut outside the drawing");
  cairo_surface_flush(m_surface);
  const unsigned char* data = cairo_image_surface_get_data(m_surface);
  const int stride = cairo_image_surface_get_stride(m_surface);
  Image image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
  for (int row = 0; row < height; ++row) {
    const auto* src = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y + row) * stride) + x;
    uint8_t* dst = image.rgba.data() + static_cast<size_t>(row) * width * 4;
    for (int col = 0; col < width; ++col) {
      // Cairo keeps premultiplied native-endian words; PNG wants straight bytes.
      const uint32_t p = src[col];
      const uint32_t a = p >> 24;
      auto channel = [a](uint32_t c) -> uint8_t {
        return a == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
      };
      dst[col * 4 + 0] = channel((p >> 16) & 0xFF);
      dst[col * 4 + 1] = channel((p >> 8) & 0xFF);
      dst[col * 4 + 2] = channel(p & 0xFF);
      dst[col * 4 + 3] = static_cast<uint8_t>(a);
    }
  }
  return image;
}

void Source(cairo_t* cr, Colour c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::max(0.0, std::min({r, w / 2, h / 2}));
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void VerticalGradient(cairo_t* cr, double y0, double y1, Colour top, Colour bottom) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
  cairo_pattern_add_color_stop_rgba(p, 0, top.r, top.g, top.b, top.a);
  cairo_pattern_add_color_stop_rgba(p, 1, bottom.r, bottom.g, bottom.b, bottom.a);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

void HorizontalGradient(cairo_t* cr, double x0, double x1, Colour left, Colour right) {
  cairo_pattern_t* p = cairo_pattern_create_linear(x0, 0, x1, 0);
  cairo_pattern_add_color_stop_rgba(p, 0, left.r, left.g, left.b, left.a);
  cairo_pattern_add_color_stop_rgba(p, 1, right.r, right.g, right.b, right.a);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

void SoftShadow(cairo_t* cr, double x, double y, double w, double h, double r, double spread, Colour c) {
  const int rings = std::max(1, static_cast<int>(std::lround(spread)));
  for (int i = rings; i >= 1; --i) {
    const double grow = i;
    const double t = 1.0 - static_cast<double>(i) / (rings + 1);
    RoundedRect(cr, x - grow, y - grow, w + 2 * grow, h + 2 * grow, r + grow);
    Source(cr, Alpha(c, t * t / rings * 2.2));
    cairo_fill(cr);
  }
}

}  // namespace artgen
