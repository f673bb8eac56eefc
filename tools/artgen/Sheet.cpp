#include "tools/artgen/Sheet.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "tools/artgen/Png.h"
#include "tools/artgen/Recipes.h"

namespace artgen {

namespace fs = std::filesystem;

namespace {

constexpr int kSheetWidth = 1640;
constexpr int kMargin = 24;
constexpr int kGap = 18;
constexpr double kFont = 11;
constexpr double kLine = 14;

// A cairo surface holding an Image (cairo wants premultiplied pixels).
cairo_surface_t* ToSurface(const Image& image) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < image.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
      const uint32_t a = p[3];
      auto pm = [a](uint32_t c) { return (c * a + 127) / 255; };
      row[x] = (a << 24) | (pm(p[0]) << 16) | (pm(p[1]) << 8) | pm(p[2]);
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

void Paste(cairo_t* cr, const Image& image, double x, double y) {
  cairo_surface_t* s = ToSurface(image);
  cairo_set_source_surface(cr, s, x, y);
  cairo_paint(cr);
  cairo_surface_destroy(s);
}

// Draws an image stretched into a rectangle, as the program scales a slice.
void PasteScaled(cairo_t* cr, const Image& image, double x, double y, double w, double h) {
  if (w < 1 || h < 1) return;
  cairo_surface_t* s = ToSurface(image);
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, w / image.width, h / image.height);
  cairo_set_source_surface(cr, s, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_rectangle(cr, 0, 0, image.width, image.height);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(s);
}

// The cell under a picture: the screens' black, outlined so that the
// picture's own edges show.
void Cell(cairo_t* cr, double x, double y, double w, double h) {
  cairo_rectangle(cr, x, y, w, h);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_fill(cr);
  cairo_rectangle(cr, x - 0.5, y - 0.5, w + 1, h + 1);
  cairo_set_source_rgb(cr, 0.32, 0.32, 0.34);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
}

std::string Compact(const std::vector<uint16_t>& ids) {
  std::ostringstream out;
  for (size_t i = 0; i < ids.size();) {
    size_t j = i;
    while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
    if (i) out << ",";
    out << ids[i];
    if (j > i) out << "-" << ids[j];
    i = j + 1;
  }
  return out.str();
}

// One cell of the sheet: a picture area and label lines under it.
struct Item {
  double w = 0, h = 0;  // picture area
  std::vector<std::string> lines;
  std::function<void(cairo_t*, double, double)> draw;
};

struct Group {
  std::string title;
  std::vector<Item> items;
};

double TextWidth(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  return e.x_advance;
}

std::string Slots(const Row& row) {
  if (row.Has("slots")) return "slots " + row.Text("slots");
  if (row.Has("roles")) return row.Text("roles");
  return {};
}

std::string Params(const Row& row) {
  std::string text = std::to_string(row.width) + "x" + std::to_string(row.height);
  for (const char* key : {"state", "style", "glyph", "subject", "look"})
    if (row.Has(key)) text += " " + row.Text(key);
  return text;
}

// Puts a nine-slice skin together at its real size, slice by slice, the way
// the buttons draw it (corners at their size, edges and centre stretched).
Item AssembledNine(const Row& row, const std::vector<const Output*>& pieces) {
  Item item{static_cast<double>(row.width), static_cast<double>(row.height), {}, {}};
  const int corner = row.Int("corner", 1);
  item.draw = [&row, pieces, corner](cairo_t* cr, double x, double y) {
    for (int slice = 0; slice < 9; ++slice) {
      const Rect r = NineSlice(row.width, row.height, corner, slice);
      PasteScaled(cr, pieces[slice]->image, x + r.x, y + r.y, r.w, r.h);
    }
  };
  return item;
}

// Pictures side by side, wrapped into rows no wider than the sheet.
Item Strip(const std::vector<const Output*>& pieces, double gap) {
  const double room = kSheetWidth - 2 * kMargin;
  std::vector<std::pair<double, double>> at;
  double x = 0, y = 0, rowh = 0;
  Item item;
  for (const Output* p : pieces) {
    if (x > 0 && x + p->image.width > room) {
      x = 0;
      y += rowh + gap;
      rowh = 0;
    }
    at.push_back({x, y});
    x += p->image.width + gap;
    rowh = std::max<double>(rowh, p->image.height);
    item.w = std::max(item.w, x - gap);
  }
  item.h = y + rowh;
  item.draw = [pieces, at](cairo_t* cr, double x0, double y0) {
    for (size_t i = 0; i < pieces.size(); ++i) Paste(cr, pieces[i]->image, x0 + at[i].first, y0 + at[i].second);
  };
  return item;
}

// --- scenes: a few screens put together from the pictures, to judge them in
// place. The texts are the sheet's own (the pictures carry none). ---

class Scene {
 public:
  Scene(const std::vector<Output>& outputs, const Palette& palette, Theme theme)
      : m_palette(palette), m_theme(theme) {
    for (const Output& out : outputs) m_byId[{out.section, out.id}] = &out.image;
  }

  const Image& Rc(int id) const { return *m_byId.at({Section::RcData, static_cast<uint16_t>(id)}); }
  const Image& Ii(int id) const { return *m_byId.at({Section::IImage, static_cast<uint16_t>(id)}); }
  Colour C(const char* name) const { return ToColour(m_palette.Get(name, m_theme)); }
  bool One() const { return m_theme == Theme::One; }

  // Nine slices laid out the way the buttons lay them out.
  void Nine(cairo_t* cr, const std::vector<int>& ids, int corner, double x, double y, double w, double h) const {
    for (int slice = 0; slice < 9; ++slice) {
      const Rect r = NineSlice(static_cast<int>(w), static_cast<int>(h), corner, slice);
      PasteScaled(cr, Rc(ids[slice]), x + r.x, y + r.y, r.w, r.h);
    }
  }
  void Frame8(cairo_t* cr, const Image* const pieces[8], double x, double y, double w, double h) const {
    const double l = pieces[0]->width, t = pieces[0]->height, r = pieces[2]->width, b = pieces[5]->height;
    PasteScaled(cr, *pieces[0], x, y, l, t);
    PasteScaled(cr, *pieces[1], x + l, y, w - l - r, t);
    PasteScaled(cr, *pieces[2], x + w - r, y, r, t);
    PasteScaled(cr, *pieces[3], x, y + t, l, h - t - b);
    PasteScaled(cr, *pieces[4], x + w - r, y + t, r, h - t - b);
    PasteScaled(cr, *pieces[5], x, y + h - b, l, b);
    PasteScaled(cr, *pieces[6], x + l, y + h - b, w - l - r, b);
    PasteScaled(cr, *pieces[7], x + w - r, y + h - b, r, b);
  }
  static void Text(cairo_t* cr, const std::string& text, double x, double y, double w, double size, Colour c,
                   bool centred, bool bold = false) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    Source(cr, c);
    cairo_move_to(cr, centred ? x + (w - e.x_advance) / 2 : x, y);
    cairo_show_text(cr, text.c_str());
  }

  // A mock-up screen: its own clipped 480 x 800 area filled with the screen
  // colour. Each mock-up ends with cairo_restore.
  void OpenScreen(cairo_t* cr, double x, double y) const {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rectangle(cr, 0, 0, 480, 800);
    cairo_clip(cr);
    Source(cr, C("screen"));
    cairo_paint(cr);
  }

  void ModeButtons(cairo_t* cr) const {
    const std::vector<int> a = {313, 314, 315, 316, 317, 318, 319, 320, 321};
    const std::vector<int> b = {322, 323, 324, 325, 326, 327, 328, 329, 330};
    Nine(cr, a, 10, 0, 0, 240, 100);
    Nine(cr, b, 10, 240, 0, 240, 100);
    Paste(cr, Rc(One() ? 508 : 300), 84, -3);
    Paste(cr, Rc(405), 324, -3);
    Text(cr, "Sing", 0, 91, 240, 19, C("accent"), true, true);
    Text(cr, "Grab", 240, 91, 240, 19, C("dim"), true, true);
    PasteScaled(cr, Rc(426), 0, 100, 800, 1);
  }

  Item Recorder() const {
    return {480, 800, {"recorder, Sing mode, idle"}, [this](cairo_t* cr, double x, double y) {
              OpenScreen(cr, x, y);
              ModeButtons(cr);
              Text(cr, "Sing or hum a song", 28, 164, 424, 28, C("text"), true);
              Text(cr, "Sing or hum the melody for", 28, 214, 424, 22, C("painter"), true);
              Text(cr, "at least 10 seconds.", 28, 244, 424, 22, C("painter"), true);
              PasteScaled(cr, Rc(579), 0, 540, 480, 40);
              Nine(cr, {460, 461, 462, 463, 464, 465, 466, 467, 468}, 15, 13, 667, 454, 120);
              Paste(cr, Rc(440), 28, 667 + 12);
              Text(cr, "Tap to sing", 158, 738, 290, 30, C("text"), false);
              cairo_restore(cr);
            }};
  }

  Item Recording() const {
    return {480, 800, {"recorder, recording"}, [this](cairo_t* cr, double x, double y) {
              OpenScreen(cr, x, y);
              ModeButtons(cr);
              Text(cr, "Sing or hum a song", 28, 164, 424, 28, C("text"), true);
              PasteScaled(cr, Rc(579), 0, 540, 480, 40);
              Text(cr, "00:12", 15, 620, 225, 26, C("painter"), false);
              Text(cr, "00:30", 240, 620, 225, 26, C("painter"), true);
              // Progress: groove, then the fill over 40 % of it.
              const int fill0 = One() ? 631 : 283;
              const double bx = 15, by = 635, bw = 450, bh = 12;
              PasteScaled(cr, Rc(286), bx, by, 8 * bh / 20, bh);
              PasteScaled(cr, Rc(287), bx + 8 * bh / 20, by, bw - 16 * bh / 20, bh);
              PasteScaled(cr, Rc(288), bx + bw - 8 * bh / 20, by, 8 * bh / 20, bh);
              const double fw = bw * 0.4;
              PasteScaled(cr, Rc(fill0), bx, by, 8 * bh / 20, bh);
              PasteScaled(cr, Rc(fill0 + 1), bx + 8 * bh / 20, by, fw - 16 * bh / 20, bh);
              PasteScaled(cr, Rc(fill0 + 2), bx + fw - 8 * bh / 20, by, 8 * bh / 20, bh);
              Nine(cr, {451, 452, 453, 454, 455, 456, 457, 458, 459}, 15, 13, 667, 454, 120);
              Paste(cr, Rc(440), 28, 667 + 12);
              Text(cr, "Listening...", 158, 718, 290, 26, C("text"), false);
              Text(cr, "Tap to stop", 158, 758, 290, 26, C("text"), false);
              cairo_restore(cr);
            }};
  }

  Item Searching() const {
    return {480, 800, {"searching"}, [this](cairo_t* cr, double x, double y) {
              OpenScreen(cr, x, y);
              ModeButtons(cr);
              Paste(cr, Rc(404), 0, 0);
              Text(cr, "Searching...", 0, 164, 480, 34, C("searching"), true);
              Paste(cr, Rc(343), 60, 195);
              cairo_restore(cr);
            }};
  }

  Item Dialog() const {
    return {480, 800, {"message dialog over the title bar"}, [this](cairo_t* cr, double x, double y) {
              OpenScreen(cr, x, y);
              PasteScaled(cr, Rc(190), 0, 0, 800, 75);
              Paste(cr, Rc(One() ? 624 : 393), 12, 5);
              Text(cr, "Results", 102, 52, 300, 32, C("text"), false, true);
              const int first = One() ? 667 : 536;
              const int ids[8] = {first, first + 1, first + 2, first + 3, first + (One() ? 4 : 5), first + (One() ? 5 : 6),
                                  first + (One() ? 6 : 7), first + (One() ? 7 : 8)};
              const Image* pieces[8];
              for (int i = 0; i < 8; ++i) pieces[i] = &Rc(ids[i]);
              const double dx = 15, dy = 215, dw = 450, dh = 370;
              cairo_rectangle(cr, dx + 65, dy + 65, dw - 130, dh - 130);
              Source(cr, C("dlg_body"));
              cairo_fill(cr);
              Frame8(cr, pieces, dx, dy, dw, dh);
              const Colour ink = One() ? Colour{0, 0, 0, 1} : Colour{1, 1, 1, 1};
              Text(cr, "Error", dx, dy + 44, dw, 30, ink, true, true);
              Text(cr, "No network connection. Please", dx, dy + 140, dw, 22, ink, true);
              Text(cr, "check your connection and", dx, dy + 172, dw, 22, ink, true);
              Text(cr, "try again.", dx, dy + 204, dw, 22, ink, true);
              Nine(cr, {185, 184, 186, 182, 181, 183, 179, 178, 180}, 14, dx + 24, dy + dh - 108 + 21, 402, 66);
              Text(cr, "OK", dx + 24, dy + dh - 108 + 21 + 43, 402, 26, C("text"), true, true);
              cairo_restore(cr);
            }};
  }

  Item Menu() const {
    return {480, 800, {"options menu"}, [this](cairo_t* cr, double x, double y) {
              OpenScreen(cr, x, y);
              PasteScaled(cr, Rc(190), 0, 0, 800, 75);
              Text(cr, "Results", 102, 52, 300, 32, C("text"), false, true);
              cairo_rectangle(cr, 0, 0, 480, 800);
              Source(cr, {0, 0, 0, 0.55});  // the toolkit dims the screen behind its menu
              cairo_fill(cr);
              const char* items[] = {"Play preview", "New search", "Show results", "Terms of use", "Help", "Exit"};
              const int n = 6;
              const int f = One() ? 684 : 545;
              const Image* pieces[8];
              for (int i = 0; i < 8; ++i) pieces[i] = &Ii(f + i);
              const double left = 64, width = 352, bottom = 800;
              const double innerBottom = bottom - pieces[5]->height;
              const double itemsTop = innerBottom - n * 66;
              const double top = itemsTop - pieces[0]->height;
              cairo_rectangle(cr, left + pieces[0]->width, itemsTop, width - pieces[0]->width - pieces[2]->width,
                              innerBottom - itemsTop);
              Source(cr, C("menu_body"));
              cairo_fill(cr);
              Frame8(cr, pieces, left, top, width, bottom - top);
              for (int i = 0; i < n; ++i) {
                const double iy = itemsTop + 4 + i * 66, ix = left + 2, iw = width - 4;
                if (i == 1) Paste(cr, Ii(One() ? 692 : 553), ix, iy);
                if (i == 2) {
                  const int c = One() ? 693 : 554;
                  Paste(cr, Ii(c), ix, iy);
                  Paste(cr, Ii(c + 1), ix + Ii(c).width, iy);
                  Paste(cr, Ii(c + 2), ix + iw - Ii(c + 2).width, iy);
                }
                if (i + 1 < n) {
                  cairo_rectangle(cr, left + 1, iy + 66, width - 2, 1);
                  cairo_set_source_rgb(cr, 0x54 / 255.0, 0x54 / 255.0, 0x54 / 255.0);
                  cairo_fill(cr);
                }
                Text(cr, items[i], ix + 22, iy + 43, iw, 26, {1, 1, 1, 1}, false);
              }
              cairo_restore(cr);
            }};
  }

 private:
  const Palette& m_palette;
  Theme m_theme;
  std::map<std::pair<Section, uint16_t>, const Image*> m_byId;
};

std::vector<Group> Layout(const Tables& tables, const std::vector<Output>& outputs, Theme theme) {
  std::map<const Row*, std::vector<const Output*>> byRow;
  for (const Output& out : outputs) byRow[out.row].push_back(&out);
  std::vector<Group> groups;
  auto scene = std::make_shared<Scene>(outputs, tables.palette, theme);
  groups.push_back({"in place: screens put together from the pictures (the texts are the sheet's)", {}});
  for (Item item : {scene->Recorder(), scene->Recording(), scene->Searching()}) {
    const auto draw = item.draw;
    item.draw = [scene, draw](cairo_t* cr, double x, double y) { draw(cr, x, y); };
    groups.back().items.push_back(item);
  }
  groups.push_back({"in place: dialog and options menu", {}});
  for (Item item : {scene->Dialog(), scene->Menu()}) {
    const auto draw = item.draw;
    item.draw = [scene, draw](cairo_t* cr, double x, double y) { draw(cr, x, y); };
    groups.back().items.push_back(item);
  }
  for (const Row& row : tables.rows) {
    if (row.theme != Theme::Neutral && row.theme != theme) continue;
    const auto& pieces = byRow[&row];
    const std::string title = std::string(SectionFolder(row.section)) + ": " + (row.group.empty() ? row.kind : row.group);
    if (groups.empty() || groups.back().title != title) groups.push_back({title, {}});
    std::vector<std::string> lines = {Compact(row.ids) + (row.theme == Theme::Neutral ? "" : "  t" + row.Text("theme")),
                                      Slots(row), Params(row)};
    if (row.kind == "skin9") {
      Item item = AssembledNine(row, pieces);
      item.lines = lines;
      groups.back().items.push_back(item);
    } else if (row.kind == "caps3" || row.kind == "frame3") {
      Item item = Strip(pieces, 0);
      item.lines = lines;
      groups.back().items.push_back(item);
    } else if (row.kind == "frame8") {
      // The frame around its inside, filled as the program fills it.
      const double k = row.Int("corner", 1);
      const double w = row.width, h = row.height;
      const std::string fill = row.Text("style") == "dialog" ? "dlg_body" : row.Text("style") + "_body";
      const Colour inside = ToColour(tables.palette.Get(fill, row.theme));
      Item item{w, h, lines, [pieces, k, w, h, inside](cairo_t* cr, double x, double y) {
                  cairo_rectangle(cr, x + k, y + k, w - 2 * k, h - 2 * k);
                  Source(cr, inside);
                  cairo_fill(cr);
                  const double xs[] = {0, k, w - k, 0, w - k, 0, k, w - k};
                  const double ys[] = {0, 0, 0, k, k, h - k, h - k, h - k};
                  const double ws[] = {k, w - 2 * k, k, k, k, k, w - 2 * k, k};
                  const double hs[] = {k, k, k, h - 2 * k, h - 2 * k, k, k, k};
                  for (int i = 0; i < 8; ++i) PasteScaled(cr, pieces[i]->image, x + xs[i], y + ys[i], ws[i], hs[i]);
                }};
      groups.back().items.push_back(item);
    } else if (row.kind == "frame6" && pieces.size() == 6) {
      // Drawn as the toolkit draws it around a focused control, here on
      // both menu backgrounds.
      const int size = 96;
      Item item{2.0 * size + 12, static_cast<double>(size), lines, [pieces, size](cairo_t* cr, double x, double y) {
                  for (int pass = 0; pass < 2; ++pass) {
                    const double l = x + pass * (size + 12), t = y, r = l + size, b = t + size;
                    cairo_rectangle(cr, l, t, size, size);
                    cairo_set_source_rgb(cr, pass ? 1.0 : 0x29 / 255.0, pass ? 1.0 : 0x29 / 255.0,
                                         pass ? 1.0 : 0x29 / 255.0);
                    cairo_fill(cr);
                    auto W = [&](int i) { return double(pieces[i]->image.width); };
                    auto H = [&](int i) { return double(pieces[i]->image.height); };
                    PasteScaled(cr, pieces[2]->image, l, t, W(2), H(2));
                    PasteScaled(cr, pieces[1]->image, l + W(2), t, r - W(4) - l - W(2), H(1));
                    PasteScaled(cr, pieces[4]->image, r - W(4), t, W(4), H(4));
                    PasteScaled(cr, pieces[0]->image, l, t + H(2), W(0), b - H(3) - t - H(2));
                    PasteScaled(cr, pieces[3]->image, l, b - H(3), W(3), H(3));
                    PasteScaled(cr, pieces[0]->image, r - W(0), t + H(4), W(0), b - H(5) - t - H(4));
                    PasteScaled(cr, pieces[5]->image, r - W(5), b - H(5), W(5), H(5));
                    PasteScaled(cr, pieces[1]->image, l + W(3), b - H(1), r - W(5) - l - W(3), H(1));
                  }
                }};
      groups.back().items.push_back(item);
    } else if (row.kind == "bar") {
      // The pieces, then the bar put together at a few lengths as the
      // program stretches its middle.
      const bool vertical = row.Text("orient", "h") == "v";
      Item item = Strip(pieces, 6);
      item.lines = lines;
      groups.back().items.push_back(item);
      for (double length : {60.0, 180.0}) {
        const double along = length;
        const double across = vertical ? row.width : row.height;
        Item bar{vertical ? across : along, vertical ? along : across, {"assembled", std::to_string(int(length)) + " long"},
                 [pieces, vertical, along](cairo_t* cr, double x, double y) {
                   const Image& a = pieces[0]->image;
                   const Image& m = pieces[1]->image;
                   const Image& b = pieces[2]->image;
                   if (vertical) {
                     PasteScaled(cr, a, x, y, a.width, a.height);
                     PasteScaled(cr, m, x, y + a.height, m.width, along - a.height - b.height);
                     PasteScaled(cr, b, x, y + along - b.height, b.width, b.height);
                   } else {
                     PasteScaled(cr, a, x, y, a.width, a.height);
                     PasteScaled(cr, m, x + a.width, y, along - a.width - b.width, m.height);
                     PasteScaled(cr, b, x + along - b.width, y, b.width, b.height);
                   }
                 }};
        groups.back().items.push_back(bar);
      }
    } else if (row.kind == "anim") {
      Item item = Strip(pieces, 4);
      item.lines = lines;
      groups.back().items.push_back(item);
    } else {
      for (const Output* p : pieces) {
        std::vector<std::string> one = lines;
        one[0] = std::to_string(p->id) + (row.theme == Theme::Neutral ? "" : "  t" + row.Text("theme"));
        if (row.ids.size() > 1 && row.Has("slots")) {
          // A slot range that runs with the ids labels each picture alone.
          const auto slots = ParseIdList(row.Text("slots"));
          if (slots.size() == row.ids.size()) one[1] = "slot " + std::to_string(slots[p->index]);
        }
        const Image* image = &p->image;
        groups.back().items.push_back(
            {static_cast<double>(image->width), static_cast<double>(image->height), one,
             [image](cairo_t* cr, double x, double y) { Paste(cr, *image, x, y); }});
      }
    }
  }
  return groups;
}

}  // namespace

void WriteSheet(const Tables& tables, const std::vector<Output>& outputs, Theme theme, const fs::path& file) {
  const std::vector<Group> groups = Layout(tables, outputs, theme);
  // Measure with a scratch context, then draw for real.
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_t* measure = cairo_create(scratch);
  cairo_select_font_face(measure, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(measure, kFont);
  struct Placed {
    const Item* item;
    double x, y, cellw;
  };
  std::vector<Placed> placed;
  std::vector<std::pair<std::string, double>> titles;
  double y = kMargin + 40;
  for (const Group& group : groups) {
    titles.push_back({group.title, y});
    y += 22;
    double x = kMargin, rowHeight = 0;
    for (const Item& item : group.items) {
      double labelw = 0;
      for (const std::string& line : item.lines) labelw = std::max(labelw, TextWidth(measure, line));
      const double cellw = std::max(item.w, labelw);
      const double cellh = item.h + 6 + kLine * item.lines.size();
      if (x > kMargin && x + cellw > kSheetWidth - kMargin) {
        x = kMargin;
        y += rowHeight + kGap;
        rowHeight = 0;
      }
      placed.push_back({&item, x, y, cellw});
      x += cellw + kGap;
      rowHeight = std::max(rowHeight, cellh);
    }
    y += rowHeight + kGap + 10;
  }
  cairo_destroy(measure);
  cairo_surface_destroy(scratch);

  const int height = static_cast<int>(std::ceil(y + kMargin));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kSheetWidth, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0.16, 0.16, 0.17);
  cairo_paint(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 20);
  cairo_set_source_rgb(cr, 0.95, 0.95, 0.95);
  cairo_move_to(cr, kMargin, kMargin + 18);
  const std::string heading = std::string("Quorel interface art, ") + std::string(ThemeName(theme)) +
                              " with the shared pictures (" + std::to_string(placed.size()) + " cells)";
  cairo_show_text(cr, heading.c_str());
  cairo_set_font_size(cr, 13);
  for (const auto& [title, ty] : titles) {
    cairo_set_source_rgb(cr, 0.55, 0.75, 0.9);
    cairo_move_to(cr, kMargin, ty + 13);
    cairo_show_text(cr, title.c_str());
  }
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFont);
  for (const Placed& p : placed) {
    Cell(cr, p.x, p.y, p.item->w, p.item->h);
    p.item->draw(cr, p.x, p.y);
    double ly = p.y + p.item->h + 6 + kFont;
    for (size_t i = 0; i < p.item->lines.size(); ++i) {
      const double shade = i == 0 ? 0.92 : 0.66;
      cairo_set_source_rgb(cr, shade, shade, shade);
      cairo_move_to(cr, p.x, ly);
      cairo_show_text(cr, p.item->lines[i].c_str());
      ly += kLine;
    }
  }
  cairo_destroy(cr);
  // Written through the same encoder as the art, which packs tighter than
  // cairo's own PNG writer.
  cairo_surface_flush(surface);
  Image sheet{kSheetWidth, height, std::vector<uint8_t>(static_cast<size_t>(kSheetWidth) * height * 4)};
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int yy = 0; yy < height; ++yy)
    for (int xx = 0; xx < kSheetWidth; ++xx) {
      const uint32_t p = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(yy) * stride)[xx];
      uint8_t* d = &sheet.rgba[(static_cast<size_t>(yy) * kSheetWidth + xx) * 4];
      d[0] = (p >> 16) & 0xFF;
      d[1] = (p >> 8) & 0xFF;
      d[2] = p & 0xFF;
      d[3] = 255;
    }
  cairo_surface_destroy(surface);
  const std::vector<uint8_t> png = EncodePng(sheet, true);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace artgen
