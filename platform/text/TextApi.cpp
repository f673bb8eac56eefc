// The text calls: fonts, metrics, extents and DrawText.
#include <algorithm>

#include "platform/base/Errors.h"
#include "platform/text/FontEngine.h"

namespace plat::text {

namespace {

// A text as glyphs with their advances: the one measurement that extents,
// layout and drawing all read.
struct Shaped {
  std::vector<char32_t> cps;
  std::vector<size_t> units;  // UTF-16 index of each character, plus the end
  std::vector<GlyphRef> glyphs;
  std::vector<Fixed> prefix;      // prefix[i]: advances and kerning before character i
  std::vector<Fixed> kernBefore;  // kerning between character i - 1 and i

  size_t size() const { return cps.size(); }
  // Width of characters [a, b), rounded once.
  int32_t Width(size_t a, size_t b) const { return b <= a ? 0 : RoundFixed(prefix[b] - prefix[a] - kernBefore[a]); }
  // Pen position of character i on a run that starts at a.
  Fixed Pen(size_t a, size_t i) const { return prefix[i] - prefix[a] - kernBefore[a] + kernBefore[i]; }
};

Shaped Shape(FontInstance& font, WStringView text) {
  Shaped s;
  for (size_t i = 0; i < text.size();) {
    s.units.push_back(i);
    s.cps.push_back(NextCodePoint(text, i));
  }
  s.units.push_back(text.size());
  s.glyphs.reserve(s.cps.size());
  s.prefix.assign(s.cps.size() + 1, 0);
  s.kernBefore.assign(s.cps.size() + 1, 0);
  for (size_t i = 0; i < s.cps.size(); ++i) {
    s.glyphs.push_back(font.Glyph(s.cps[i]));
    if (i > 0) s.kernBefore[i] = font.Kerning(s.glyphs[i - 1], s.glyphs[i]);
    s.prefix[i + 1] = s.prefix[i] + s.glyphs[i].advance + s.kernBefore[i];
  }
  return s;
}

bool IsBreakSpace(char32_t c) { return c == U' '; }

// Characters between which a line may break although there is no space.
bool IsCjk(char32_t c) {
  return (c >= 0x1100 && c <= 0x11FF) ||    // Hangul jamo
         (c >= 0x2E80 && c <= 0x2FDF) ||    // CJK radicals
         (c >= 0x3040 && c <= 0x30FF) ||    // kana
         (c >= 0x3130 && c <= 0x318F) ||    // Hangul compatibility jamo
         (c >= 0x3400 && c <= 0x4DBF) ||    // CJK extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||    // CJK unified ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||    // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF) ||    // CJK compatibility ideographs
         (c >= 0x20000 && c <= 0x3FFFF);    // CJK extensions B and later
}

struct Line {
  size_t begin = 0;
  size_t end = 0;
  int32_t width = 0;      // including the ellipsis
  bool ellipsis = false;
};

// Where a wrapped line may end (end) and its successor start (next).
struct BreakAt {
  size_t end;
  size_t next;
};

void WrapParagraph(const Shaped& s, size_t pb, size_t pe, int32_t maxWidth, std::vector<Line>& lines) {
  std::vector<BreakAt> breaks;
  for (size_t i = pb; i < pe;) {
    if (IsBreakSpace(s.cps[i])) {
      size_t j = i;
      while (j < pe && IsBreakSpace(s.cps[j])) ++j;
      if (i > pb) breaks.push_back({i, j});  // spaces opening the paragraph belong to its first word
      i = j;
      continue;
    }
    if (i > pb && !IsBreakSpace(s.cps[i - 1]) && (IsCjk(s.cps[i - 1]) || IsCjk(s.cps[i]))) breaks.push_back({i, i});
    ++i;
  }
  breaks.push_back({pe, pe});
  size_t start = pb, k = 0;
  while (start < pe) {
    while (breaks[k].end <= start) ++k;
    // The first break is taken even when it does not fit: a word is never split.
    size_t chosen = k;
    for (size_t j = k; j < breaks.size() && s.Width(start, breaks[j].end) <= maxWidth; ++j) chosen = j;
    lines.push_back({start, breaks[chosen].end});
    start = breaks[chosen].next;
    k = chosen + 1;
  }
}

std::vector<Line> LayOut(const Shaped& s, int32_t maxWidth, uint32_t format) {
  std::vector<Line> lines;
  if (s.size() == 0) return lines;
  if (format & DT_SINGLELINE) {
    lines.push_back({0, s.size()});
    return lines;
  }
  const bool wrap = format & DT_WORDBREAK;
  size_t pb = 0;
  for (size_t i = 0; i <= s.size();) {
    const bool atEnd = i == s.size();
    if (!atEnd && s.cps[i] != U'\r' && s.cps[i] != U'\n') {
      ++i;
      continue;
    }
    if (atEnd && pb == s.size() && pb > 0) break;  // a final break opens no new line
    if (!wrap || pb == i) {
      lines.push_back({pb, i});
    } else {
      WrapParagraph(s, pb, i, maxWidth, lines);
    }
    if (atEnd) break;
    i += (s.cps[i] == U'\r' && i + 1 < s.size() && s.cps[i + 1] == U'\n') ? 2 : 1;
    pb = i;
  }
  return lines;
}

// Cuts lines that are too wide and appends "..." where the flags ask for it.
void Ellipsise(const Shaped& s, std::vector<Line>& lines, int32_t maxWidth, uint32_t format, int32_t ellipsisWidth) {
  for (size_t n = 0; n < lines.size(); ++n) {
    Line& line = lines[n];
    line.width = s.Width(line.begin, line.end);
    const bool wanted = (format & DT_WORD_ELLIPSIS) || ((format & DT_END_ELLIPSIS) && n + 1 == lines.size());
    if (!wanted || line.width <= maxWidth) continue;
    size_t cut = line.begin;
    while (cut < line.end && s.Width(line.begin, cut + 1) + ellipsisWidth <= maxWidth) ++cut;
    line.end = cut;
    line.ellipsis = true;
    line.width = s.Width(line.begin, cut) + ellipsisWidth;
  }
}

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

void DrawRun(const gdi::Target& t, const gdi::Region& clip, FontInstance& font, const Shaped& s, size_t begin,
             size_t end, int32_t x, int32_t baseline, gdi::Rgba8 color) {
  for (size_t i = begin; i < end; ++i) {
    const GlyphBitmap& g = RenderGlyph(s.glyphs[i], font.Ppem(), font.Antialiased());
    DrawGlyph(t, clip, g, x + RoundFixed(s.Pen(begin, i)), baseline, color);
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
  const Shaped s = Shape(*m.font, text);
  int32_t fitting = 0;
  bool stopped = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const int32_t extent = s.Width(0, i + 1);
    for (size_t u = s.units[i]; u < s.units[i + 1]; ++u) {
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
  const Shaped s = Shape(font, text);
  const Shaped dots = Shape(font, u"...");
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
    DrawRun(target, clip, font, s, line.begin, line.end, x, baseline, color);
    if (line.ellipsis) {
      DrawRun(target, clip, font, dots, 0, dots.size(), x + s.Width(line.begin, line.end), baseline, color);
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
