#include "tools/artgen/Sheet.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

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

void Checker(cairo_t* cr, double x, double y, double w, double h) {
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  cairo_set_source_rgb(cr, 0.03, 0.03, 0.03);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.085, 0.085, 0.085);
  for (double yy = y; yy < y + h; yy += 8)
    for (double xx = x + (static_cast<int>((yy - y) / 8) % 2) * 8; xx < x + w; xx += 16) {
      cairo_rectangle(cr, xx, yy, 8, 8);
    }
  cairo_fill(cr);
  cairo_restore(cr);
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

std::vector<Group> Layout(const Tables& tables, const std::vector<Output>& outputs, Theme theme) {
  std::map<const Row*, std::vector<const Output*>> byRow;
  for (const Output& out : outputs) byRow[out.row].push_back(&out);
  std::vector<Group> groups;
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
    Checker(cr, p.x, p.y, p.item->w, p.item->h);
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
  const cairo_status_t status = cairo_surface_write_to_png(surface, file.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    throw std::runtime_error("cannot write " + file.string() + ": " + cairo_status_to_string(status));
}

}  // namespace artgen
