#include "tools/artgen/Glyphs.h"

#include <cmath>
#include <functional>
#include <map>
#include <string>

namespace artgen {

namespace {

// Every glyph is drawn on a unit square; strokes are in the same units.
using Draw = std::function<void(cairo_t*)>;

void Line(cairo_t* cr, std::initializer_list<std::pair<double, double>> points, double width) {
  bool first = true;
  for (auto [x, y] : points) {
    if (first) cairo_move_to(cr, x, y);
    else cairo_line_to(cr, x, y);
    first = false;
  }
  cairo_set_line_width(cr, width);
  cairo_stroke(cr);
}

void Polygon(cairo_t* cr, std::initializer_list<std::pair<double, double>> points, double round) {
  bool first = true;
  for (auto [x, y] : points) {
    if (first) cairo_move_to(cr, x, y);
    else cairo_line_to(cr, x, y);
    first = false;
  }
  cairo_close_path(cr);
  if (round > 0) {
    // Stroking the outline with round joins softens the corners.
    cairo_set_line_width(cr, round);
    cairo_fill_preserve(cr);
    cairo_stroke(cr);
  } else {
    cairo_fill(cr);
  }
}

void Dot(cairo_t* cr, double x, double y, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, r, 0, 2 * M_PI);
  cairo_fill(cr);
}

void Chevron(cairo_t* cr, double angle) {
  cairo_save(cr);
  cairo_translate(cr, 0.5, 0.5);
  cairo_rotate(cr, angle);
  Line(cr, {{-0.09, -0.2}, {0.11, 0}, {-0.09, 0.2}}, 0.11);
  cairo_restore(cr);
}

void Waves(cairo_t* cr) {
  Dot(cr, 0.5, 0.5, 0.075);
  cairo_set_line_width(cr, 0.06);
  for (int k = 1; k <= 3; ++k) {
    const double r = 0.08 + 0.115 * k;
    const double spread = 0.75 - 0.08 * k;
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0.5, 0.5, r, -spread, spread);
    cairo_stroke(cr);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0.5, 0.5, r, M_PI - spread, M_PI + spread);
    cairo_stroke(cr);
  }
}

const std::map<std::string, Draw, std::less<>>& Glyphs() {
  static const std::map<std::string, Draw, std::less<>> glyphs = {
      {"play", [](cairo_t* cr) { Polygon(cr, {{0.39, 0.27}, {0.39, 0.73}, {0.75, 0.5}}, 0.07); }},
      {"stop",
       [](cairo_t* cr) {
         RoundedRect(cr, 0.32, 0.32, 0.36, 0.36, 0.05);
         cairo_fill(cr);
       }},
      {"video",
       [](cairo_t* cr) {
         RoundedRect(cr, 0.18, 0.32, 0.42, 0.36, 0.07);
         cairo_fill(cr);
         Polygon(cr, {{0.63, 0.5}, {0.81, 0.36}, {0.81, 0.64}}, 0.05);
       }},
      {"cart",
       [](cairo_t* cr) {
         Line(cr, {{0.16, 0.27}, {0.26, 0.27}, {0.35, 0.61}, {0.74, 0.61}}, 0.065);
         Polygon(cr, {{0.29, 0.36}, {0.82, 0.36}, {0.76, 0.54}, {0.34, 0.54}}, 0.04);
         Dot(cr, 0.39, 0.73, 0.055);
         Dot(cr, 0.7, 0.73, 0.055);
       }},
      {"lyrics",
       [](cairo_t* cr) {
         RoundedRect(cr, 0.26, 0.19, 0.48, 0.62, 0.06);
         cairo_set_line_width(cr, 0.06);
         cairo_stroke(cr);
         Line(cr, {{0.36, 0.35}, {0.64, 0.35}}, 0.055);
         Line(cr, {{0.36, 0.47}, {0.64, 0.47}}, 0.055);
         Line(cr, {{0.36, 0.59}, {0.54, 0.59}}, 0.055);
       }},
      {"user",
       [](cairo_t* cr) {
         Dot(cr, 0.5, 0.36, 0.14);
         cairo_save(cr);
         cairo_translate(cr, 0.5, 0.8);
         cairo_scale(cr, 0.27, 0.25);
         cairo_new_sub_path(cr);
         cairo_arc(cr, 0, 0, 1, M_PI, 2 * M_PI);
         cairo_close_path(cr);
         cairo_restore(cr);
         cairo_fill(cr);
       }},
      {"back", [](cairo_t* cr) {
         Line(cr, {{0.71, 0.5}, {0.31, 0.5}}, 0.085);
         Line(cr, {{0.48, 0.31}, {0.29, 0.5}, {0.48, 0.69}}, 0.085);
       }},
      {"tick", [](cairo_t* cr) { Line(cr, {{0.21, 0.53}, {0.41, 0.72}, {0.8, 0.3}}, 0.11); }},
      {"info",
       [](cairo_t* cr) {
         Dot(cr, 0.5, 0.29, 0.07);
         RoundedRect(cr, 0.44, 0.42, 0.12, 0.35, 0.045);
         cairo_fill(cr);
       }},
      {"error",
       [](cairo_t* cr) {
         RoundedRect(cr, 0.44, 0.2, 0.12, 0.4, 0.045);
         cairo_fill(cr);
         Dot(cr, 0.5, 0.74, 0.07);
       }},
      {"question",
       [](cairo_t* cr) {
         cairo_new_sub_path(cr);
         cairo_arc(cr, 0.5, 0.36, 0.15, M_PI * 1.02, M_PI * 2.45);
         cairo_line_to(cr, 0.5, 0.6);
         cairo_set_line_width(cr, 0.1);
         cairo_stroke(cr);
         Dot(cr, 0.5, 0.77, 0.065);
       }},
      {"download",
       [](cairo_t* cr) {
         Line(cr, {{0.5, 0.18}, {0.5, 0.6}}, 0.085);
         Line(cr, {{0.32, 0.45}, {0.5, 0.63}, {0.68, 0.45}}, 0.085);
         Line(cr, {{0.23, 0.66}, {0.23, 0.79}, {0.77, 0.79}, {0.77, 0.66}}, 0.075);
       }},
      {"mic",
       [](cairo_t* cr) {
         RoundedRect(cr, 0.385, 0.14, 0.23, 0.44, 0.115);
         cairo_fill(cr);
         cairo_new_sub_path(cr);
         cairo_arc(cr, 0.5, 0.44, 0.21, 0, M_PI);
         cairo_set_line_width(cr, 0.065);
         cairo_stroke(cr);
         Line(cr, {{0.5, 0.66}, {0.5, 0.8}}, 0.065);
         Line(cr, {{0.36, 0.83}, {0.64, 0.83}}, 0.065);
       }},
      {"waves", Waves},
      {"note",
       [](cairo_t* cr) {
         for (auto [x, y] : {std::pair{0.35, 0.72}, std::pair{0.68, 0.64}}) {
           cairo_save(cr);
           cairo_translate(cr, x, y);
           cairo_rotate(cr, -0.35);
           cairo_scale(cr, 0.115, 0.085);
           cairo_new_sub_path(cr);
           cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
           cairo_restore(cr);
           cairo_fill(cr);
         }
         Line(cr, {{0.445, 0.7}, {0.445, 0.3}}, 0.055);
         Line(cr, {{0.775, 0.62}, {0.775, 0.22}}, 0.055);
         Polygon(cr, {{0.4175, 0.27}, {0.8025, 0.18}, {0.8025, 0.3}, {0.4175, 0.39}}, 0);
       }},
      {"chevron-up", [](cairo_t* cr) { Chevron(cr, -M_PI / 2); }},
      {"chevron-down", [](cairo_t* cr) { Chevron(cr, M_PI / 2); }},
      {"chevron-right", [](cairo_t* cr) { Chevron(cr, 0); }},
  };
  return glyphs;
}

}  // namespace

void DrawGlyph(cairo_t* cr, std::string_view name, double x, double y, double size, Colour colour) {
  auto it = Glyphs().find(name);
  if (it == Glyphs().end()) throw TableError("unknown glyph \"" + std::string(name) + "\"");
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, size, size);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  Source(cr, colour);
  it->second(cr);
  cairo_restore(cr);
}

}  // namespace artgen
