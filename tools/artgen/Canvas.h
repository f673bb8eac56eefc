// Thin helpers over cairo: a drawing surface that hands out straight-alpha
// RGBA cut-outs, colours, and the few shapes every recipe uses.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

#include "tools/artgen/Table.h"

namespace artgen {

// One picture, straight alpha, rows top-down, 4 bytes a pixel (R, G, B, A).
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;

  bool FullyOpaque() const;
};

struct Colour {
  double r = 0, g = 0, b = 0, a = 1;
};

Colour ToColour(Argb argb);
Colour Mix(Colour from, Colour to, double t);  // t = 0 gives `from`
Colour Alpha(Colour c, double factor);         // alpha scaled by factor
Colour Lighter(Colour c, double t);            // towards white
Colour Darker(Colour c, double t);             // towards black

class Canvas {
 public:
  Canvas(int width, int height);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  cairo_t* cr() const { return m_cr; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

  Image Cut(int x, int y, int width, int height) const;
  Image Whole() const { return Cut(0, 0, m_width, m_height); }

 private:
  int m_width;
  int m_height;
  cairo_surface_t* m_surface;
  cairo_t* m_cr;
};

void Source(cairo_t* cr, Colour c);
void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r);
// A vertical linear gradient between two colours over [y0, y1].
void VerticalGradient(cairo_t* cr, double y0, double y1, Colour top, Colour bottom);
void HorizontalGradient(cairo_t* cr, double x0, double x1, Colour left, Colour right);
// A soft shadow under a rounded rectangle: `spread` rings of falling alpha.
void SoftShadow(cairo_t* cr, double x, double y, double w, double h, double r, double spread, Colour c);

}  // namespace artgen
