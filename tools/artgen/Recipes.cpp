#include "tools/artgen/Recipes.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "tools/artgen/Glyphs.h"

namespace artgen {

namespace {

// The few constants that set the whole look; tune here, not in the recipes.
constexpr double kSheen = 0.16;         // strength of the top highlight inside a button
constexpr double kPressDarken = 0.32;   // how much darker a pressed button's top gets
constexpr double kInnerShadow = 0.45;   // alpha of a pressed button's inner top shadow
constexpr double kRingWidth = 2.5;      // focus ring
constexpr double kOffAlpha = 0.4;       // an "off" icon is its normal self at this opacity
constexpr double kDeepLift = 0.16;      // a fill made from one colour: lighter at the top ...
constexpr double kDeepDrop = 0.22;      // ... and darker at the bottom

struct Ctx {
  const Row& row;
  const Palette& palette;

  Colour C(std::string_view name) const {
    try {
      return ToColour(palette.Get(name, row.theme));
    } catch (const TableError& e) {
      Fail(e.what());
    }
  }
  [[noreturn]] void Fail(const std::string& message) const { throw TableError(row.Where() + ": " + message); }
  void Expect(size_t count) const {
    if (row.ids.size() != count)
      Fail(row.kind + " fills " + std::to_string(count) + " ids; the row names " + std::to_string(row.ids.size()));
  }
  std::string Need(std::string_view key) const {
    if (!row.Has(key)) Fail(row.kind + " needs " + std::string(key) + "=");
    return row.Text(key);
  }
  int NeedInt(std::string_view key) const {
    Need(key);
    return row.Int(key, 0);
  }
  std::string State() const { return row.Text("state", "normal"); }
  int W() const { return row.width; }
  int H() const { return row.height; }
};

// A fill: a palette triple "<style>_top/_bottom/_edge", or "@colour" for a
// fill made from one palette colour.
struct Fill {
  Colour top, bottom, edge;
};

Fill FillOf(const Ctx& c, const std::string& style) {
  if (!style.empty() && style[0] == '@') {
    const Colour base = c.C(style.substr(1));
    return {Lighter(base, kDeepLift), Darker(base, kDeepDrop), Lighter(base, 0.3)};
  }
  return {c.C(style + "_top"), c.C(style + "_bottom"), c.C(style + "_edge")};
}

struct Look {
  Fill fill;
  double radius = 0;
  bool pressed = false;
  double press = kPressDarken;
  std::optional<Colour> ring;
  std::optional<Colour> underline;
  double underlineInset = 0;
};

Look LookOf(const Ctx& c, double radius) {
  Look look;
  look.fill = FillOf(c, c.Need("style"));
  look.radius = radius;
  const std::string state = c.State();
  // press= lightens the darkening for a button whose fill must stay in a
  // narrow band under its caption.
  if (state == "pressed") {
    look.pressed = true;
    look.press = c.row.Real("press", kPressDarken);
  }
  else if (state == "focused") look.ring = c.C(c.row.Text("ring", "focus"));
  else if (state != "normal") c.Fail("state must be normal, focused or pressed");
  if (c.row.Has("underline")) look.underline = c.C(c.row.Text("underline"));
  return look;
}

// A push button drawn whole: gradient body, one-pixel edge, top sheen, and
// the state's ring, inner shadow or underline.
void Button(cairo_t* cr, double x, double y, double w, double h, const Look& look) {
  Fill f = look.fill;
  if (look.pressed) {
    f.top = Darker(f.top, look.press);
    f.bottom = Darker(f.bottom, look.press / 3);
  }
  const double r = look.radius;
  RoundedRect(cr, x + 0.5, y + 0.5, w - 1, h - 1, r);
  VerticalGradient(cr, y, y + h, f.top, f.bottom);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1);
  Source(cr, f.edge);
  cairo_stroke(cr);

  cairo_save(cr);
  RoundedRect(cr, x + 1, y + 1, w - 2, h - 2, std::max(0.0, r - 0.5));
  cairo_clip(cr);
  if (look.pressed) {
    cairo_rectangle(cr, x, y, w, std::min(12.0, h / 3));
    VerticalGradient(cr, y, y + std::min(12.0, h / 3), {0, 0, 0, kInnerShadow}, {0, 0, 0, 0});
    cairo_fill(cr);
  } else {
    RoundedRect(cr, x + 1.5, y + 1.5, w - 3, h - 3, std::max(0.0, r - 1));
    VerticalGradient(cr, y, y + h * 0.55, {1, 1, 1, kSheen}, {1, 1, 1, 0});
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
  }
  cairo_restore(cr);

  if (look.ring) {
    const double inset = 1 + kRingWidth / 2;
    RoundedRect(cr, x + inset, y + inset, w - 2 * inset, h - 2 * inset, std::max(0.0, r - inset + 0.5));
    cairo_set_line_width(cr, kRingWidth);
    Source(cr, *look.ring);
    cairo_stroke(cr);
  }
  if (look.underline) {
    const double inset = std::max(look.underlineInset, r);
    cairo_rectangle(cr, x + inset, y + h - 5, w - 2 * inset, 3);
    Source(cr, *look.underline);
    cairo_fill(cr);
  }
}

// --- skins and bars ----------------------------------------------------------

std::vector<Image> Skin9(const Ctx& c) {
  c.Expect(9);
  const int corner = c.NeedInt("corner");
  if (corner < 1 || 2 * corner >= std::min(c.W(), c.H())) c.Fail("the corner does not fit the button");
  Canvas canvas(c.W(), c.H());
  Look look = LookOf(c, c.row.Int("radius", corner - 1));
  look.underlineInset = corner;  // the underline lives in the stretched edge only
  Button(canvas.cr(), 0, 0, c.W(), c.H(), look);
  std::vector<Image> out;
  for (int slice = 0; slice < 9; ++slice) {
    const Rect r = NineSlice(c.W(), c.H(), corner, slice);
    out.push_back(canvas.Cut(r.x, r.y, r.w, r.h));
  }
  return out;
}

// Left cap, middle, right cap of a button cut across its length.
std::vector<Image> Caps3(const Ctx& c) {
  c.Expect(3);
  const int cap = c.NeedInt("cap");
  if (cap < 1 || 2 * cap >= c.W()) c.Fail("the caps do not fit the button");
  Canvas canvas(c.W(), c.H());
  const Look look = LookOf(c, c.row.Int("radius", std::min(cap - 1, c.H() / 2)));
  Button(canvas.cr(), 0, 0, c.W(), c.H(), look);
  return {canvas.Cut(0, 0, cap, c.H()), canvas.Cut(cap, 0, c.W() - 2 * cap, c.H()),
          canvas.Cut(c.W() - cap, 0, cap, c.H())};
}

// One rounded plate (a focused menu row and the like), inset from its box.
std::vector<Image> Plate(const Ctx& c) {
  c.Expect(1);
  const int inset = c.row.Int("inset", 0);
  Canvas canvas(c.W(), c.H());
  Button(canvas.cr(), inset, inset, c.W() - 2 * inset, c.H() - 2 * inset, LookOf(c, c.row.Int("radius", 8)));
  return {canvas.Whole()};
}

// A slice that is stretched to a whole control: full bleed, uniform along
// its width so that stretching never shows.
std::vector<Image> Centre(const Ctx& c) {
  c.Expect(1);
  Canvas canvas(c.W(), c.H());
  cairo_t* cr = canvas.cr();
  Fill f = FillOf(c, c.Need("style"));
  const double alpha = c.row.Real("alpha", 1.0);
  const std::string state = c.State();
  if (state == "pressed") {
    f.top = Darker(f.top, kPressDarken);
    f.bottom = Darker(f.bottom, kPressDarken / 3);
  }
  cairo_rectangle(cr, 0, 0, c.W(), c.H());
  VerticalGradient(cr, 0, c.H(), Alpha(f.top, alpha), Alpha(f.bottom, alpha));
  cairo_fill(cr);
  if (state == "pressed") {
    cairo_rectangle(cr, 0, 0, c.W(), std::min(10, c.H() / 3));
    VerticalGradient(cr, 0, std::min(10, c.H() / 3), {0, 0, 0, kInnerShadow}, {0, 0, 0, 0});
    cairo_fill(cr);
  } else if (c.row.Int("sheen", 1)) {
    cairo_rectangle(cr, 0, 1, c.W(), 1);
    Source(cr, {1, 1, 1, kSheen * alpha});
    cairo_fill(cr);
  }
  const int thick = c.row.Int("rule_width", 1);
  if (c.row.Has("rule_top")) {
    cairo_rectangle(cr, 0, 0, c.W(), thick);
    Source(cr, c.C(c.row.Text("rule_top")));
    cairo_fill(cr);
  }
  if (c.row.Has("rule_bottom")) {
    cairo_rectangle(cr, 0, c.H() - thick, c.W(), thick);
    Source(cr, c.C(c.row.Text("rule_bottom")));
    cairo_fill(cr);
  }
  if (state == "focused") {
    const double inset = kRingWidth / 2;
    cairo_rectangle(cr, inset, inset, c.W() - 2 * inset, c.H() - 2 * inset);
    cairo_set_line_width(cr, kRingWidth);
    Source(cr, c.C(c.row.Text("ring", "focus")));
    cairo_stroke(cr);
  }
  return {canvas.Whole()};
}

// Start cap, middle and end cap of a progress fill, a groove or a scroll
// thumb, drawn as one pill and cut; the middle is the straight part.
std::vector<Image> Bar(const Ctx& c) {
  c.Expect(3);
  const bool vertical = c.row.Text("orient", "h") == "v";
  const int cap = c.NeedInt("cap");
  const int length = vertical ? c.H() : c.W();
  const int thick = vertical ? c.W() : c.H();
  if (cap < 1 || 2 * cap >= length) c.Fail("the caps do not fit the bar");
  Canvas canvas(c.W(), c.H());
  cairo_t* cr = canvas.cr();
  if (vertical) {
    // Draw along x and turn, so one code path serves both directions.
    cairo_translate(cr, c.W(), 0);
    cairo_rotate(cr, M_PI / 2);
  }
  const std::string part = c.Need("part");
  const double body = c.row.Real("body", thick);  // thickness of the visible pill
  const double y0 = (thick - body) / 2;
  const double r = std::min<double>(cap - 1, body / 2);  // the curve stays inside the cap
  if (part == "fill") {
    RoundedRect(cr, 0.5, y0 + 0.5, length - 1, body - 1, r);
    VerticalGradient(cr, y0, y0 + body, c.C("accent_light"), c.C("accent"));
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    Source(cr, Darker(c.C("accent"), 0.25));
    cairo_stroke(cr);
    cairo_rectangle(cr, r, y0 + 1.5, length - 2 * r, 1);
    Source(cr, {1, 1, 1, 0.35});
    cairo_fill(cr);
  } else if (part == "groove") {
    // A dark trough in a light rim: the fill stands out from the trough and
    // the rim shows the bar's length on black and on a lit row. The rim is
    // thick enough to survive the bar being shown at a third of its size.
    const double rim = c.row.Real("rim", 1);
    RoundedRect(cr, 0, y0, length, body, r);
    Source(cr, c.C("groove_rim"));
    cairo_fill(cr);
    RoundedRect(cr, rim, y0 + rim, length - 2 * rim, body - 2 * rim, std::max(0.0, r - rim));
    VerticalGradient(cr, y0 + rim, y0 + body - rim, c.C("sunken_top"), c.C("sunken_bottom"));
    cairo_fill_preserve(cr);
    cairo_save(cr);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, y0, length, body / 2);
    VerticalGradient(cr, y0 + rim, y0 + body / 2, {0, 0, 0, 0.5}, {0, 0, 0, 0});
    cairo_fill(cr);
    cairo_restore(cr);
  } else if (part == "thumb") {
    RoundedRect(cr, 0, y0, length, body, r);
    Source(cr, c.C("thumb"));
    cairo_fill(cr);
  } else {
    c.Fail("part must be fill, groove or thumb");
  }
  if (vertical) return {canvas.Cut(0, 0, c.W(), cap), canvas.Cut(0, cap, c.W(), length - 2 * cap),
                        canvas.Cut(0, length - cap, c.W(), cap)};
  return {canvas.Cut(0, 0, cap, c.H()), canvas.Cut(cap, 0, length - 2 * cap, c.H()),
          canvas.Cut(length - cap, 0, cap, c.H())};
}

// --- frames ---------------------------------------------------------------------

// The dialog frame and the menu frame: the whole frame drawn once at `size`,
// then cut into corners and edges of `corner` pixels.
void DrawFrame(const Ctx& c, cairo_t* cr, int w, int h, bool titled) {
  const std::string style = c.Need("style");
  if (style == "dialog") {
    const double m = c.row.Real("margin", 6);
    const double r = 14;
    const double title = c.row.Real("title", 64);
    SoftShadow(cr, m, m + 2, w - 2 * m, h - 2 * m, r, m, c.C("shadow"));
    cairo_save(cr);
    RoundedRect(cr, m, m, w - 2 * m, h - 2 * m, r);
    cairo_clip_preserve(cr);
    Source(cr, c.C("dlg_body"));
    cairo_fill(cr);
    cairo_rectangle(cr, 0, 0, w, title);
    VerticalGradient(cr, m, title, Lighter(c.C("dlg_title"), 0.12), Darker(c.C("dlg_title"), 0.08));
    cairo_fill(cr);
    cairo_rectangle(cr, 0, title - 2, w, 2);
    Source(cr, c.C("dlg_rule"));
    cairo_fill(cr);
    cairo_rectangle(cr, 0, m + 1, w, 1);
    Source(cr, {1, 1, 1, 0.22});
    cairo_fill(cr);
    cairo_restore(cr);
    RoundedRect(cr, m + 0.5, m + 0.5, w - 2 * m - 1, h - 2 * m - 1, r);
    cairo_set_line_width(cr, 1);
    Source(cr, c.C("dlg_edge"));
    cairo_stroke(cr);
    return;
  }
  if (style != "menu" && style != "menu_small") c.Fail("style must be dialog, menu or menu_small");
  // The menu's centre is a plain colour the toolkit paints; the frame's
  // inside must be exactly that colour so the pieces vanish into it.
  const double scale = style == "menu" ? 1.0 : 0.5;
  const double r = 12 * scale;
  const Colour body = c.C(style + "_body");
  RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, r);
  Source(cr, body);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1);
  Source(cr, c.C(style + "_edge"));
  cairo_stroke(cr);
  if (titled) {
    const double band = c.row.Real("title", h);
    cairo_save(cr);
    RoundedRect(cr, 1, 1, w - 2, h - 1, r - 0.5);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, 0, w, band);
    VerticalGradient(cr, 0, band, c.C("title_top"), c.C("title_bottom"));
    cairo_fill(cr);
    cairo_rectangle(cr, 0, band - 2 * scale, w, 2 * scale);
    Source(cr, c.C("accent"));
    cairo_fill(cr);
    cairo_restore(cr);
  } else {
    cairo_save(cr);
    RoundedRect(cr, 1, 1, w - 2, h - 2, r - 0.5);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, 1.5, w, 1);
    Source(cr, {1, 1, 1, style == "menu" ? 0.12 : 0.0});
    cairo_fill(cr);
    cairo_restore(cr);
  }
}

// Top-left, top, top-right, left, right, bottom-left, bottom, bottom-right.
std::vector<Image> Frame8(const Ctx& c) {
  c.Expect(8);
  const int k = c.NeedInt("corner");
  const int w = c.W(), h = c.H();
  if (k < 1 || 2 * k >= std::min(w, h)) c.Fail("the corner does not fit the frame");
  Canvas canvas(w, h);
  DrawFrame(c, canvas.cr(), w, h, false);
  return {canvas.Cut(0, 0, k, k),         canvas.Cut(k, 0, w - 2 * k, k),     canvas.Cut(w - k, 0, k, k),
          canvas.Cut(0, k, k, h - 2 * k), canvas.Cut(w - k, k, k, h - 2 * k), canvas.Cut(0, h - k, k, k),
          canvas.Cut(k, h - k, w - 2 * k, k), canvas.Cut(w - k, h - k, k, k)};
}

// The top row of a menu with a title: left, middle and right, `size` being
// the whole row.
std::vector<Image> Frame3(const Ctx& c) {
  c.Expect(3);
  const int k = c.NeedInt("corner");
  if (k < 1 || 2 * k >= c.W()) c.Fail("the corner does not fit the frame");
  // Drawn taller than the row so that the rounded corners close only at the top.
  Canvas canvas(c.W(), c.H() + 2 * k);
  DrawFrame(c, canvas.cr(), c.W(), c.H() + 2 * k, true);
  return {canvas.Cut(0, 0, k, c.H()), canvas.Cut(k, 0, c.W() - 2 * k, c.H()), canvas.Cut(c.W() - k, 0, k, c.H())};
}

// The toolkit's focus frame: vertical edge, horizontal edge, top-left,
// bottom-left, top-right, bottom-right. Corners are `corner` square, edges
// `thick` across and `size` minus two corners along.
std::vector<Image> Frame6(const Ctx& c) {
  // `pieces` names a subset in the same order, for a set that borrows a
  // piece of another.
  static const std::vector<std::string> kPieces = {"vedge", "hedge", "tl", "bl", "tr", "br"};
  std::vector<size_t> wanted;
  if (c.row.Has("pieces")) {
    std::string list = c.row.Text("pieces") + ",";
    for (size_t pos = 0, comma; (comma = list.find(',', pos)) != std::string::npos; pos = comma + 1) {
      auto it = std::find(kPieces.begin(), kPieces.end(), list.substr(pos, comma - pos));
      if (it == kPieces.end()) c.Fail("pieces are named vedge, hedge, tl, bl, tr, br");
      wanted.push_back(static_cast<size_t>(it - kPieces.begin()));
    }
  } else {
    for (size_t i = 0; i < kPieces.size(); ++i) wanted.push_back(i);
  }
  c.Expect(wanted.size());
  const int k = c.NeedInt("corner");
  const int t = c.NeedInt("thick");
  const int w = c.W(), h = c.H();
  if (k < 1 || t < 1 || t > k || 2 * k >= std::min(w, h)) c.Fail("corner and thickness do not fit the frame");
  Canvas canvas(w, h);
  cairo_t* cr = canvas.cr();
  const double r = k - 2;
  // Two tones, so the frame reads on the dark large-screen menus and the
  // white small-screen ones alike.
  RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, r);
  cairo_set_line_width(cr, 1);
  Source(cr, Alpha(c.C("focus"), 0.5));
  cairo_stroke(cr);
  RoundedRect(cr, 2, 2, w - 4, h - 4, r - 1.5);
  cairo_set_line_width(cr, 2);
  Source(cr, c.C("accent_deep"));
  cairo_stroke(cr);
  RoundedRect(cr, 3.5, 3.5, w - 7, h - 7, r - 3);
  cairo_set_line_width(cr, 1);
  Source(cr, {0, 0, 0, 0.35});
  cairo_stroke(cr);
  const Rect cuts[6] = {{0, k, t, h - 2 * k}, {k, 0, w - 2 * k, t}, {0, 0, k, k},
                       {0, h - k, k, k},     {w - k, 0, k, k},     {w - k, h - k, k, k}};
  std::vector<Image> out;
  for (size_t i : wanted) out.push_back(canvas.Cut(cuts[i].x, cuts[i].y, cuts[i].w, cuts[i].h));
  return out;
}

// --- icons --------------------------------------------------------------------------

// Paints `draw` at an opacity, as one layer (overlapping strokes do not
// add up).
void WithOpacity(cairo_t* cr, double opacity, const std::function<void()>& draw) {
  if (opacity >= 1.0) {
    draw();
    return;
  }
  cairo_push_group(cr);
  draw();
  cairo_pop_group_to_source(cr);
  cairo_paint_with_alpha(cr, opacity);
}

void Disc(cairo_t* cr, double cx, double cy, double r, Colour fill, Colour rim) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  cairo_pattern_t* p = cairo_pattern_create_linear(0, cy - r, 0, cy + r);
  const Colour top = Lighter(fill, 0.14), bottom = Darker(fill, 0.14);
  cairo_pattern_add_color_stop_rgba(p, 0, top.r, top.g, top.b, top.a);
  cairo_pattern_add_color_stop_rgba(p, 1, bottom.r, bottom.g, bottom.b, bottom.a);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
  cairo_fill(cr);
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r - 0.5, 0, 2 * M_PI);
  cairo_set_line_width(cr, 1);
  Source(cr, rim);
  cairo_stroke(cr);
}

void Ring(cairo_t* cr, double cx, double cy, double r, double width, Colour colour) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  cairo_set_line_width(cr, width);
  Source(cr, colour);
  cairo_stroke(cr);
}

// A sliding switch: track and knob, on to the right.
void Switch(const Ctx& c, cairo_t* cr, double w, double h, bool on, bool focused) {
  const double tw = w * 0.84, th = h * 0.44;
  const double x = (w - tw) / 2, y = (h - th) / 2;
  if (focused) {
    RoundedRect(cr, x - 3.5, y - 3.5, tw + 7, th + 7, th / 2 + 3.5);
    cairo_set_line_width(cr, kRingWidth);
    Source(cr, c.C("focus"));
    cairo_stroke(cr);
  }
  RoundedRect(cr, x, y, tw, th, th / 2);
  VerticalGradient(cr, y, y + th, on ? c.C("switch_on_top") : c.C("sunken_top"),
                   on ? c.C("switch_on_bottom") : c.C("sunken_bottom"));
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1);
  Source(cr, on ? Darker(c.C("switch_on_bottom"), 0.2) : c.C("graphite_edge"));
  cairo_stroke(cr);
  const double kr = th / 2 - 3;
  const double kx = on ? x + tw - th / 2 : x + th / 2;
  Disc(cr, kx, y + th / 2 + 1, kr, {0, 0, 0, 0.35}, {0, 0, 0, 0});
  Disc(cr, kx, y + th / 2, kr, on ? c.C("light_top") : c.C("knob_off"), c.C("light_edge"));
}

// A tick in a rounded box, the menus' item indicator.
void CheckBox(const Ctx& c, cairo_t* cr, double w, double h) {
  const double s = std::min(w, h) - 2;
  const double x = (w - s) / 2, y = (h - s) / 2;
  RoundedRect(cr, x + 0.5, y + 0.5, s - 1, s - 1, s * 0.2);
  Source(cr, c.C(c.row.Text("box", "glyph")));
  cairo_set_line_width(cr, std::max(1.0, s / 14));
  cairo_stroke(cr);
  DrawGlyph(cr, "tick", x + s * 0.12, y + s * 0.12, s * 0.76, c.C(c.row.Text("colour", "glyph")));
}

std::vector<Image> Icon(const Ctx& c) {
  c.Expect(1);
  Canvas canvas(c.W(), c.H());
  cairo_t* cr = canvas.cr();
  const double w = c.W(), h = c.H();
  const double cx = w / 2, cy = h / 2, side = std::min(w, h);
  const std::string look = c.Need("look");
  const std::string state = c.State();
  const std::string glyph = c.row.Text("glyph");
  const double scale = c.row.Real("scale", 0.6);
  auto glyphAt = [&](Colour colour, double fraction) {
    const double g = side * fraction;
    DrawGlyph(cr, glyph, cx - g / 2, cy - g / 2, g, colour);
  };
  if (look == "ring") {
    // Link and back icons: a thin ring and a white glyph; pressed fills
    // the ring with the theme's accent.
    if (state != "normal" && state != "pressed" && state != "off" && state != "focused")
      c.Fail("a ring icon's state is normal, focused, pressed or off");
    const double r = side / 2 - 2.5;
    const bool off = state == "off";
    WithOpacity(cr, off ? kOffAlpha : 1.0, [&] {
      if (state == "pressed") {
        Disc(cr, cx, cy, r + 1.5, c.C("accent"), Lighter(c.C("accent"), 0.3));
        glyphAt(c.C("on_accent"), scale);
      } else {
        const bool focused = state == "focused";
        Ring(cr, cx, cy, r, focused ? kRingWidth + 0.5 : 2, c.C(focused ? "focus" : "icon_ring"));
        glyphAt(c.C("glyph"), scale);
      }
    });
  } else if (look == "bare") {
    WithOpacity(cr, c.row.Real("alpha", 1.0), [&] { glyphAt(c.C(c.row.Text("colour", "glyph")), scale); });
  } else if (look == "halo") {
    // The record button's mode icon: the glyph inside a faint disc.
    const double r = side / 2 - 2;
    Disc(cr, cx, cy, r, Alpha(c.C("glyph"), 0.1), Alpha(c.C("glyph"), 0.28));
    glyphAt(c.C(c.row.Text("colour", "glyph")), scale);
  } else if (look == "disc") {
    const Colour fill = c.C(c.Need("fill"));
    Disc(cr, cx, cy, side / 2 - 1, fill, Lighter(fill, 0.35));
    glyphAt(c.C("glyph"), scale);
  } else if (look == "button") {
    // The menus' page buttons.
    const double r = side / 2 - 1;
    const Fill f = FillOf(c, c.Need("style"));
    WithOpacity(cr, state == "disabled" ? kOffAlpha : 1.0, [&] {
      const bool pressed = state == "pressed";
      Disc(cr, cx, cy, r, pressed ? c.C("accent_deep") : Mix(f.top, f.bottom, 0.5), f.edge);
      glyphAt(c.C(pressed ? "glyph" : c.row.Text("colour", "glyph")), scale);
    });
  } else if (look == "switch") {
    if (state != "on" && state != "off") c.Fail("a switch's state is on or off");
    Switch(c, cr, w, h, state == "on", c.row.Int("focused", 0) != 0);
  } else if (look == "check") {
    CheckBox(c, cr, w, h);
  } else {
    c.Fail("look must be ring, bare, halo, disc, button, switch or check");
  }
  return {canvas.Whole()};
}

// --- pictures ---------------------------------------------------------------------

void Vinyl(const Ctx& c, cairo_t* cr, double cx, double cy, double r) {
  Disc(cr, cx, cy, r, c.C("vinyl"), Lighter(c.C("vinyl"), 0.2));
  cairo_set_line_width(cr, 1);
  for (double g = r * 0.42; g < r - 2; g += std::max(2.0, r / 14)) {
    Ring(cr, cx, cy, g, 1, {1, 1, 1, 0.06});
  }
  // Two soft reflections across the grooves.
  for (double a : {-2.2, 0.9}) {
    cairo_move_to(cr, cx, cy);
    cairo_arc(cr, cx, cy, r - 1, a, a + 0.45);
    cairo_close_path(cr);
    Source(cr, {1, 1, 1, 0.07});
    cairo_fill(cr);
  }
  Disc(cr, cx, cy, r * 0.34, c.C("accent"), Lighter(c.C("accent"), 0.3));
  Disc(cr, cx, cy, std::max(1.5, r * 0.06), c.C("screen"), c.C("screen"));
}

void Tile(const Ctx& c, cairo_t* cr, double x, double y, double w, double h, double r) {
  RoundedRect(cr, x + 0.5, y + 0.5, w - 1, h - 1, r);
  VerticalGradient(cr, y, y + h, c.C("graphite_top"), c.C("graphite_bottom"));
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1);
  Source(cr, c.C("graphite_edge"));
  cairo_stroke(cr);
}

// Our mark: the listening waves in a rounded square.
void Mark(const Ctx& c, cairo_t* cr, double x, double y, double s) {
  RoundedRect(cr, x, y, s, s, s * 0.24);
  VerticalGradient(cr, y, y + s, c.C("brand_light"), c.C("brand"));
  cairo_fill(cr);
  DrawGlyph(cr, "waves", x + s * 0.1, y + s * 0.1, s * 0.8, c.C("glyph"));
}

// A row of level bars between two x positions, heights from `level`.
void Bars(cairo_t* cr, double x0, double x1, double cy, double maxh, double barw, double gap,
          const std::function<double(double)>& level, Colour colour) {
  const int count = static_cast<int>((x1 - x0 + gap) / (barw + gap));
  const double start = x0 + ((x1 - x0) - (count * (barw + gap) - gap)) / 2;
  for (int i = 0; i < count; ++i) {
    const double t = count == 1 ? 0.5 : static_cast<double>(i) / (count - 1);
    const double bh = std::max(barw, maxh * level(t));
    RoundedRect(cr, start + i * (barw + gap), cy - bh / 2, barw, bh, barw / 2);
    Source(cr, colour);
    cairo_fill(cr);
  }
}

std::vector<Image> Picture(const Ctx& c) {
  c.Expect(1);
  Canvas canvas(c.W(), c.H());
  cairo_t* cr = canvas.cr();
  const double w = c.W(), h = c.H();
  const std::string subject = c.Need("subject");
  if (subject == "disc") {
    Tile(c, cr, 0, 0, w, h, std::min(w, h) * 0.1);
    Vinyl(c, cr, w / 2, h / 2, std::min(w, h) * 0.4);
  } else if (subject == "avatar" || subject == "avatar_error") {
    Tile(c, cr, 0, 0, w, h, std::min(w, h) * 0.1);
    const double s = std::min(w, h) * 0.86;
    DrawGlyph(cr, "user", (w - s) / 2, h - s * 0.98, s, Mix(c.C("accent"), c.C("graphite_top"), 0.25));
    if (subject == "avatar_error") {
      const double r = std::min(w, h) * 0.17;
      Disc(cr, w - r - 6, h - r - 6, r, c.C("badge_error"), Lighter(c.C("badge_error"), 0.35));
      DrawGlyph(cr, "error", w - 2 * r - 6, h - 2 * r - 6, 2 * r, c.C("glyph"));
    }
  } else if (subject == "hero") {
    // Sing or let the phone listen, and get the song: three discs joined by dots.
    const double r = h * 0.3;
    const double xs[3] = {w * 0.2, w * 0.5, w * 0.8};
    const char* glyphs[3] = {"mic", "waves", "note"};
    for (double x = xs[0] + r + 8; x < xs[2] - r - 4; x += 10) {
      if (std::abs(x - xs[1]) < r + 6) continue;
      Disc(cr, x, h / 2, 2.2, Alpha(c.C("glyph"), 0.45), {0, 0, 0, 0});
    }
    for (int i = 0; i < 3; ++i) {
      const double rr = i == 1 ? r * 1.25 : r;
      if (i == 1) Ring(cr, xs[i], h / 2, rr + 7, 2, Alpha(c.C("brand_light"), 0.45));
      Disc(cr, xs[i], h / 2, rr, i == 1 ? c.C("brand") : c.C("graphite_top"),
           i == 1 ? c.C("brand_light") : c.C("graphite_edge"));
      DrawGlyph(cr, glyphs[i], xs[i] - rr * 0.72, h / 2 - rr * 0.72, rr * 1.44, c.C("glyph"));
    }
  } else if (subject == "logo") {
    Mark(c, cr, 0, 0, h);
    Bars(cr, h + 6, w - 2, h / 2, h * 0.7, 4, 3,
         [](double t) { return 0.35 + 0.65 * std::abs(std::sin(t * 7.3 + 0.6)); }, Alpha(c.C("brand_light"), 0.9));
  } else if (subject == "partner") {
    // Someone else's badge: neutral, a diamond and level bars.
    RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, h * 0.25);
    Source(cr, Alpha(c.C("secondary"), 0.9));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    const double d = h * 0.32;
    cairo_move_to(cr, h / 2, h / 2 - d);
    cairo_line_to(cr, h / 2 + d, h / 2);
    cairo_line_to(cr, h / 2, h / 2 + d);
    cairo_line_to(cr, h / 2 - d, h / 2);
    cairo_close_path(cr);
    Source(cr, c.C("painter"));
    cairo_fill(cr);
    Bars(cr, h, w - h * 0.35, h / 2, h * 0.46, 3, 3, [](double t) { return t < 0.5 ? 1.0 : 0.6; },
         Alpha(c.C("painter"), 0.8));
  } else if (subject == "help") {
    const double r = std::min(w, h) / 2 - 1;
    Disc(cr, w / 2, h / 2, r, c.C("brand"), c.C("brand_light"));
    const double g = r * 1.3;
    DrawGlyph(cr, c.Need("glyph"), w / 2 - g / 2, h / 2 - g / 2, g, c.C("glyph"));
  } else if (subject == "waveform") {
    Bars(cr, 2, w - 2, h / 2, h - 2, 4, 4,
         [](double t) {
           const double envelope = std::pow(std::sin(M_PI * t), 0.7);
           return envelope * (0.3 + 0.7 * std::abs(std::sin(t * 23.7) * std::cos(t * 7.9 + 0.4)));
         },
         Alpha(c.C("painter"), 0.55));
  } else if (subject == "appicon") {
    Mark(c, cr, 0, 0, std::min(w, h));
  } else {
    c.Fail("subject must be disc, avatar, avatar_error, hero, logo, partner, help, waveform or appicon");
  }
  return {canvas.Whole()};
}

// --- animations -------------------------------------------------------------------

std::vector<Image> Anim(const Ctx& c) {
  const int frames = c.NeedInt("frames");
  c.Expect(static_cast<size_t>(frames));
  const std::string style = c.Need("style");
  const double w = c.W(), h = c.H(), cx = w / 2, cy = h / 2;
  std::vector<Image> out;
  for (int i = 0; i < frames; ++i) {
    Canvas canvas(c.W(), c.H());
    cairo_t* cr = canvas.cr();
    const double t = static_cast<double>(i) / frames;  // one cycle, ends where it starts
    if (style == "listen") {
      // Rings leave the centre and fade; level bars in the centre disc.
      const double core = h * 0.2;
      const double reach = h * 0.48;
      for (int k = 0; k < 3; ++k) {
        const double f = std::fmod(t + k / 3.0, 1.0);
        const double r = core + 6 + (reach - core - 6) * f;
        Ring(cr, cx, cy, r, 3, Alpha(c.C("accent"), 0.5 * std::pow(1 - f, 1.4)));
      }
      Disc(cr, cx, cy, core, c.C("graphite_top"), c.C("graphite_edge"));
      Bars(cr, cx - core * 0.62, cx + core * 0.62, cy, core * 1.0, core * 0.14, core * 0.1,
           [t](double x) { return 0.25 + 0.75 * (0.5 + 0.5 * std::sin(2 * M_PI * (t + x * 0.8 + x * x * 0.6))); },
           c.C("glyph"));
    } else if (style == "spinner") {
      const int dots = 12;
      const double head = 2 * M_PI * t;
      for (int j = 0; j < dots; ++j) {
        const double a = 2 * M_PI * j / dots;
        const double behind = std::fmod(head - a + 4 * M_PI, 2 * M_PI);
        const double glow = std::max(0.0, 1 - behind / (2 * M_PI * 0.65));
        const double r = w * 0.055;
        Disc(cr, cx + std::cos(a - M_PI / 2) * w * 0.36, cy + std::sin(a - M_PI / 2) * h * 0.36, r,
             Alpha(c.C("glyph"), 0.18 + 0.82 * glow), {0, 0, 0, 0});
      }
    } else if (style == "pulse") {
      // Played forwards and back: frame 0 at rest, the last fully open.
      const double f = frames > 1 ? static_cast<double>(i) / (frames - 1) : 0;
      Ring(cr, cx, cy, w * (0.2 + 0.24 * f), 2.5, Alpha(c.C("accent"), 0.9 - 0.6 * f));
      Disc(cr, cx, cy, w * (0.12 + 0.03 * f), c.C("glyph"), {0, 0, 0, 0});
    } else {
      c.Fail("style must be listen, spinner or pulse");
    }
    out.push_back(canvas.Whole());
  }
  return out;
}

// --- the rest -----------------------------------------------------------------------

std::vector<Image> LineRecipe(const Ctx& c) {
  c.Expect(1);
  Canvas canvas(c.W(), c.H());
  cairo_rectangle(canvas.cr(), 0, 0, c.W(), c.H());
  Source(canvas.cr(), c.C(c.Need("colour")));
  cairo_fill(canvas.cr());
  return {canvas.Whole()};
}

// The see-through background of the searching overlay: clear over the mode
// buttons, a faint glow where the animation turns.
std::vector<Image> Veil(const Ctx& c) {
  c.Expect(1);
  Canvas canvas(c.W(), c.H());
  cairo_t* cr = canvas.cr();
  const double clear = c.row.Int("clear", 0);
  const double gy = c.row.Int("glow_y", c.H() / 2);
  const double gr = c.row.Int("glow_r", c.W() / 2);
  const Colour glow = c.C(c.row.Text("colour", "accent"));
  cairo_rectangle(cr, 0, clear, c.W(), c.H() - clear);
  cairo_pattern_t* p = cairo_pattern_create_radial(c.W() / 2.0, gy, 0, c.W() / 2.0, gy, gr);
  cairo_pattern_add_color_stop_rgba(p, 0, glow.r, glow.g, glow.b, c.row.Real("alpha", 0.12));
  cairo_pattern_add_color_stop_rgba(p, 1, glow.r, glow.g, glow.b, 0);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
  cairo_fill(cr);
  return {canvas.Whole()};
}

// Pictures nothing shows: a quiet tile, filled edge to edge when opaque.
std::vector<Image> Placeholder(const Ctx& c) {
  std::vector<Image> out;
  for (uint16_t id : c.row.ids) {
    Canvas canvas(c.W(), c.H());
    cairo_t* cr = canvas.cr();
    if (c.row.opaque.count(id)) {
      cairo_rectangle(cr, 0, 0, c.W(), c.H());
      Source(cr, c.C("placeholder_edge"));
      cairo_fill(cr);
      cairo_rectangle(cr, 1, 1, c.W() - 2, c.H() - 2);
    } else {
      RoundedRect(cr, 1, 1, c.W() - 2, c.H() - 2, 3);
    }
    Source(cr, c.C("placeholder"));
    cairo_fill(cr);
    out.push_back(canvas.Whole());
  }
  return out;
}

using Recipe = std::function<std::vector<Image>(const Ctx&)>;

const std::map<std::string, Recipe, std::less<>>& Recipes() {
  static const std::map<std::string, Recipe, std::less<>> recipes = {
      {"skin9", Skin9},   {"caps3", Caps3},   {"plate", Plate},   {"centre", Centre}, {"bar", Bar},
      {"frame8", Frame8}, {"frame3", Frame3}, {"frame6", Frame6}, {"icon", Icon},     {"picture", Picture},
      {"anim", Anim},     {"line", LineRecipe}, {"veil", Veil},   {"placeholder", Placeholder},
  };
  return recipes;
}

}  // namespace

Rect NineSlice(int width, int height, int corner, int slice) {
  const int xs[3] = {0, corner, width - corner};
  const int ws[3] = {corner, width - 2 * corner, corner};
  const int ys[3] = {0, corner, height - corner};
  const int hs[3] = {corner, height - 2 * corner, corner};
  return {xs[slice % 3], ys[slice / 3], ws[slice % 3], hs[slice / 3]};
}

std::vector<Image> Render(const Row& row, const Palette& palette) {
  auto it = Recipes().find(row.kind);
  if (it == Recipes().end()) throw TableError(row.Where() + ": unknown kind \"" + row.kind + "\"");
  const Ctx ctx{row, palette};
  std::vector<Image> images;
  try {
    images = it->second(ctx);
  } catch (const TableError& e) {
    // Helpers below the recipes (glyphs, the palette) do not know the row.
    if (std::string_view(e.what()).rfind(row.file + ":", 0) == 0) throw;
    ctx.Fail(e.what());
  }
  if (images.size() != row.ids.size()) ctx.Fail("the recipe made a different number of pictures than ids");
  for (size_t i = 0; i < images.size(); ++i)
    if (row.opaque.count(row.ids[i]) && !images[i].FullyOpaque())
      ctx.Fail("picture " + std::to_string(row.ids[i]) + " is marked opaque but has see-through pixels");
  return images;
}

}  // namespace artgen
