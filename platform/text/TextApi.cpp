// The text calls: fonts, metrics, extents and DrawText.
#include <algorithm>

#include "platform/base/Errors.h"
#include "platform/text/FontEngine.h"
#include "platform/text/ShapedText.h"
#include "platform/text/TextLayout.h"

namespace plat::text {

namespace {

// Blends one glyph's coverage in `color` into the target, inside `clip`.
void DrawGlyph(const gdi::Target& t, const gdi::Region& clip, const GlyphBitmap& g, int32_t x, int32_t y,
               gdi::Rgba8 color) {
  if (g.width == 0 || g.rows == 0) return;
  const Rect box{x + g.left, y - g.top, x + g.left + g.width, y - g.top + g.rows};
  const gdi::Surface& s = t.surface;
  const int bpp = s.BytesPerPixel();
  for (const Rect& c : clip.Rects()) {
    const int32_t left = std::max(c.left, box.left), right = std::min(c.right, box.right);
    const int32_t top = std::max(c.top, box.top), bottom = std::min(c.bottom, box.bottom);
    if (left >= right || top >= bottom) continue;
    for (int32_t row = top; row < bottom; ++row) {
      const uint8_t* cov = g.coverage.data() + size_t(row - box.top) * size_t(g.width) + (left - box.left);
      uint8_t* p = s.Row(row + t.origin.y) + (left + t.origin.x) * bpp;
      if (s.format == gdi::PixelFormat::Rgb565) {
        // The common target, unrolled; the same arithmetic as BlendPixel.
        auto* out = reinterpret_cast<uint16_t*>(p);
        const uint16_t solid = Pack565(color.r, color.g, color.b);
        for (int32_t col = left; col < right; ++col, ++cov, ++out) {
          const uint32_t a = *cov;
          if (a == 0) continue;
          if (a == 255) {
            *out = solid;
            continue;
          }
          const uint32_t inv = 255 - a;
          const Rgb8 d = Expand565(*out);
          *out = Pack565(static_cast<uint8_t>(Div255(color.r * a) + Div255(d.r * inv)),
                         static_cast<uint8_t>(Div255(color.g * a) + Div255(d.g * inv)),
                         static_cast<uint8_t>(Div255(color.b * a) + Div255(d.b * inv)));
        }
        continue;
      }
      for (int32_t col = left; col < right; ++col, ++cov, p += bpp) {
        const uint32_t a = *cov;
        if (a == 0) continue;
        if (a == 255) {
          gdi::WritePixel(s, p, color);
          continue;
        }
        gdi::BlendPixel(s, p,
                        {static_cast<uint8_t>(Div255(color.r * a)), static_cast<uint8_t>(Div255(color.g * a)),
                         static_cast<uint8_t>(Div255(color.b * a)), static_cast<uint8_t>(a)});
      }
    }
  }
}

// Draws characters [begin, end) of `s` as one line in visual order, its left
// end at x.
void DrawLine(const gdi::Target& t, const gdi::Region& clip, FontInstance& font, const ShapedText& s, size_t begin,
              size_t end, int32_t x, int32_t baseline, gdi::Rgba8 color) {
  static std::vector<PlacedGlyph>* const placed = new std::vector<PlacedGlyph>;  // reused under the engine lock
  s.Place(begin, end, *placed);
  for (const PlacedGlyph& p : *placed) {
    const GlyphBitmap& g = RenderGlyph(p.glyph->ref, font.Ppem(), font.Antialiased());
    DrawGlyph(t, clip, g, x + RoundFixed(p.x + p.glyph->dx), baseline - RoundFixed(p.glyph->dy), color);
  }
}

struct Measured {
  std::shared_ptr<gdi::DcObject> dc;
  std::shared_ptr<FontInstance> font;
};

// The DC and its font, or false with the last error. Called under the lock.
bool Prepare(HDC hdc, Measured* m) {
  m->dc = gdi::LookupDc(hdc);
  if (!m->dc) return false;
  m->font = FontOfDc(*m->dc);
  return m->font != nullptr;
}

}  // namespace

}  // namespace plat::text

namespace plat {

using namespace text;

HFONT CreateFontIndirect(const FontDesc& desc) {
  std::lock_guard<std::mutex> guard(EngineLock());
  auto instance = FontInstance::Create(desc);
  if (!instance) return nullptr;
  auto object = std::make_shared<gdi::FontObject>();
  object->instance = std::move(instance);
  return reinterpret_cast<HFONT>(gdi::RegisterObject(std::move(object)));
}

std::filesystem::path GetFontFile(HFONT handle) {
  auto object = gdi::Lookup<gdi::FontObject>(handle, gdi::ObjectKind::Font);
  if (!object) return {};
  std::lock_guard<std::mutex> guard(EngineLock());
  if (!object->instance && object->stock) {
    gdi::DcObject holder;  // the stock font is realised through a DC that holds it
    holder.font = object;
    FontOfDc(holder);
  }
  return object->instance ? std::filesystem::path(object->instance->Primary().path) : std::filesystem::path();
}

bool GetTextMetrics(HDC hdc, TextMetrics* out) {
  std::lock_guard<std::mutex> guard(EngineLock());
  Measured m;
  if (!Prepare(hdc, &m)) return false;
  if (!out) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *out = m.font->Metrics();
  return true;
}

bool GetTextExtentPoint32(HDC hdc, WStringView text, Size* size) {
  return GetTextExtentExPoint(hdc, text, 0, nullptr, nullptr, size);
}

bool GetTextExtentExPoint(HDC hdc, WStringView text, int32_t maxExtent, int32_t* fit, int32_t* partialExtents,
                          Size* size) {
  std::lock_guard<std::mutex> guard(EngineLock());
  Measured m;
  if (!Prepare(hdc, &m)) return false;
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const auto shaped = ShapedText::Of(*m.font, text);
  const ShapedText& s = *shaped;
  int32_t fitting = 0;
  bool stopped = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const int32_t extent = s.Width(0, i + 1);
    for (size_t u = s.Unit(i); u < s.Unit(i + 1); ++u) {
      if (partialExtents) partialExtents[u] = extent;
      if (!stopped && extent <= maxExtent) {
        ++fitting;
      } else {
        stopped = true;
      }
    }
  }
  if (fit) *fit = fitting;
  *size = {s.Width(0, s.size()), m.font->Metrics().height};
  return true;
}

int DrawText(HDC hdc, WStringView text, Rect* rect, uint32_t format) {
  std::lock_guard<std::mutex> guard(EngineLock());
  Measured m;
  if (!Prepare(hdc, &m)) return 0;
  if (!rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  FontInstance& font = *m.font;
  const int32_t lineHeight = font.Metrics().height;
  const int32_t maxWidth = rect->Width();
  const auto shaped = ShapedText::Of(font, text);
  const auto shapedDots = ShapedText::Of(font, u"...");
  const ShapedText& s = *shaped;
  const ShapedText& dots = *shapedDots;
  std::vector<Line> lines = LayOut(s, maxWidth, format);
  Ellipsise(s, lines, maxWidth, format, dots.Width(0, dots.size()));
  const int32_t textHeight = static_cast<int32_t>(lines.size()) * lineHeight;

  if (format & DT_CALCRECT) {
    int32_t widest = 0;
    for (const Line& line : lines) widest = std::max(widest, line.width);
    rect->right = rect->left + widest;
    rect->bottom = rect->top + textHeight;
    return textHeight;
  }

  int32_t top = rect->top;
  int result = textHeight;
  if ((format & DT_SINGLELINE) && (format & (DT_VCENTER | DT_BOTTOM))) {
    top = (format & DT_VCENTER) ? rect->top + (rect->Height() - lineHeight) / 2 : rect->bottom - lineHeight;
    result = top + lineHeight - rect->top;
  }
  if (lines.empty()) return result;

  gdi::Target target;
  if (!gdi::AcquireTarget(*m.dc, &target)) return 0;
  gdi::Region clip = gdi::EffectiveClip(*m.dc, target);
  if (!(format & DT_NOCLIP)) clip = clip.Intersected(*rect);
  const gdi::Rgba8 color = gdi::ColorToRgba(m.dc->textColor);
  const bool opaque = m.dc->bkMode == OPAQUE;
  const TextMetrics& metrics = font.Metrics();
  Rect drawn{};
  for (size_t n = 0; n < lines.size(); ++n) {
    const Line& line = lines[n];
    int32_t x = rect->left;
    if (format & DT_CENTER) {
      x = rect->left + (maxWidth - line.width) / 2;
    } else if (format & DT_RIGHT) {
      x = rect->right - line.width;
    }
    const int32_t y = top + static_cast<int32_t>(n) * lineHeight;
    const Rect cell{x, y, x + line.width, y + lineHeight};
    if (opaque) gdi::FillOpaque(target, clip, cell, m.dc->bkColor);
    const int32_t baseline = y + metrics.ascent;
    if (line.ellipsis) {
      // The ellipsis stands at the line's logical end: on the left of a
      // right-to-left line.
      const bool rtl = line.begin < s.size() && s.RightToLeft(line.begin);
      const int32_t textX = rtl ? x + dots.Width(0, dots.size()) : x;
      DrawLine(target, clip, font, s, line.begin, line.end, textX, baseline, color);
      DrawLine(target, clip, font, dots, 0, dots.size(), rtl ? x : x + s.Width(line.begin, line.end), baseline, color);
    } else {
      DrawLine(target, clip, font, s, line.begin, line.end, x, baseline, color);
    }
    if (metrics.underlined) {
      gdi::FillOpaque(target, clip,
                      {x, baseline + font.UnderlineTop(), x + line.width,
                       baseline + font.UnderlineTop() + font.UnderlineSize()},
                      m.dc->textColor);
    }
    if (metrics.struckOut) {
      gdi::FillOpaque(target, clip,
                      {x, baseline + font.StrikeTop(), x + line.width, baseline + font.StrikeTop() + font.StrikeSize()},
                      m.dc->textColor);
    }
    drawn = drawn.IsEmpty() ? cell
                            : Rect{std::min(drawn.left, cell.left), std::min(drawn.top, cell.top),
                                   std::max(drawn.right, cell.right), std::max(drawn.bottom, cell.bottom)};
  }
  // Glyphs may reach a little past their cell (italics, overhangs).
  const int32_t margin = font.Ppem() / 2 + 1;
  const Rect reach = clip.Bounds();
  const Rect damage{std::max(drawn.left - margin, reach.left), std::max(drawn.top, reach.top),
                    std::min(drawn.right + margin, reach.right), std::min(drawn.bottom, reach.bottom)};
  gdi::ReportDamage(target, damage);
  return result;
}

}  // namespace plat
