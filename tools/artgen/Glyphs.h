// Vector glyphs drawn in one colour into a square box. Shapes only: no
// letters or digits, so no picture depends on a font.
#pragma once

#include <string_view>

#include "tools/artgen/Canvas.h"

namespace artgen {

// Draws `name` centred in the square (x, y, size). Throws TableError for a
// name that is not a glyph.
void DrawGlyph(cairo_t* cr, std::string_view name, double x, double y, double size, Colour colour);

}  // namespace artgen
