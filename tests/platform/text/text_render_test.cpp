// Where DrawText puts ink and what it leaves alone: clipping, background
// modes, 32-bit targets, lines through the text, grey levels and the glyph
// cache. Properties of the pixels, never pictures of text.
#include <gtest/gtest.h>

#include "../gdi/GdiTestUtil.h"
#include "TextTestUtil.h"
#include "platform/base/Errors.h"

using namespace plat;
using gt::Dib;
using gt::Fmt;

namespace {

constexpr uint32_t kPaper = 0x07E0;  // green in 565

class TextRenderTest : public tt::TextTest {
 protected:
  // A paper-coloured bitmap with the fixture's current font, black text.
  std::unique_ptr<Dib> Paper(int w, int h, Fmt fmt = Fmt::R565, uint32_t paper = kPaper) {
    auto d = std::make_unique<Dib>(fmt, w, h);
    d->Load(std::vector<uint32_t>(size_t(w) * h, paper));
    SelectObject(d->dc(), m_fonts.back());
    SetTextColor(d->dc(), RGB(0, 0, 0));
    SetBkMode(d->dc(), TRANSPARENT);
    return d;
  }
  static std::vector<std::pair<int, int>> Changed(const Dib& d, uint32_t paper) {
    std::vector<std::pair<int, int>> out;
    for (int y = 0; y < d.h(); ++y)
      for (int x = 0; x < d.w(); ++x)
        if (d.Get(x, y) != paper) out.push_back({x, y});
    return out;
  }
};

TEST_F(TextRenderTest, DrawingStaysInsideItsRectangleUnlessToldOtherwise) {
  Use(-16);
  const WString text = u"A line far wider than its box";
  auto clipped = Paper(200, 40);
  Rect r{10, 5, 60, 30};
  ASSERT_GT(DrawText(clipped->dc(), text, &r, DT_SINGLELINE), 0);
  const auto inside = Changed(*clipped, kPaper);
  ASSERT_FALSE(inside.empty());
  for (auto [x, y] : inside) ASSERT_TRUE(x >= 10 && x < 60 && y >= 5 && y < 30) << x << "," << y;

  auto free = Paper(200, 40);
  DrawText(free->dc(), text, &r, DT_SINGLELINE | DT_NOCLIP);
  int beyond = 0;
  for (auto [x, y] : Changed(*free, kPaper)) beyond += x >= 60;
  EXPECT_GT(beyond, 0);

  // The DC's own clip holds as well.
  auto holed = Paper(200, 40);
  ExcludeClipRect(holed->dc(), 0, 0, 35, 40);
  DrawText(holed->dc(), text, &r, DT_SINGLELINE | DT_NOCLIP);
  for (auto [x, y] : Changed(*holed, kPaper)) ASSERT_GE(x, 35);

  // Failures draw nothing.
  auto untouched = Paper(50, 20);
  EXPECT_EQ(DrawText(untouched->dc(), text, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Rect any{0, 0, 50, 20};
  EXPECT_EQ(DrawText(reinterpret_cast<HDC>(uintptr_t{0x26}), text, &any, 0), 0);
  EXPECT_EQ(DrawText(untouched->dc(), u"", &any, 0), 0);
  EXPECT_TRUE(Changed(*untouched, kPaper).empty());
}

TEST_F(TextRenderTest, BackgroundModes) {
  Use(-20);
  const int32_t h = Metrics().height, w = Extent(u"HH");
  // Transparent: ink only, inside the cell, with gaps.
  auto clear = Paper(80, 40);
  Rect r{4, 3, 80, 40};
  DrawText(clear->dc(), u"HH", &r, 0);
  const auto ink = Changed(*clear, kPaper);
  ASSERT_FALSE(ink.empty());
  EXPECT_LT(ink.size(), size_t(w) * h);
  for (auto [x, y] : ink) ASSERT_TRUE(x >= 4 && x < 4 + w && y >= 3 && y < 3 + h);
  // Opaque over a background of the paper's own colour changes nothing more.
  auto same = Paper(80, 40);
  SetBkMode(same->dc(), OPAQUE);
  SetBkColor(same->dc(), RGB(0, 255, 0));
  DrawText(same->dc(), u"HH", &r, 0);
  gt::ExpectPixels(*same, clear->Pixels(), "opaque in the paper colour");
  // And in another colour it fills the whole cell.
  SetBkColor(same->dc(), RGB(255, 255, 255));
  DrawText(same->dc(), u"HH", &r, 0);
  EXPECT_EQ(Changed(*same, kPaper).size(), size_t(w) * h);
}

TEST_F(TextRenderTest, ThirtyTwoBitTargetsGetPremultipliedCoverage) {
  Use(-24);
  auto d = Paper(100, 40, Fmt::Bgra, 0);
  SetTextColor(d->dc(), RGB(200, 100, 50));
  Rect r{0, 0, 100, 40};
  DrawText(d->dc(), u"Wig", &r, DT_SINGLELINE);
  int solid = 0, partial = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) {
      const gt::C8 c = gt::Channels(Fmt::Bgra, d->Get(x, y));
      ASSERT_LE(c.r, c.a);
      ASSERT_LE(c.g, c.a);
      ASSERT_LE(c.b, c.a);
      solid += d->Get(x, y) == 0xFFC86432u;
      partial += c.a > 0 && c.a < 255;
    }
  EXPECT_GT(solid, 0);
  EXPECT_GT(partial, 0) << "antialiased edges";
}

TEST_F(TextRenderTest, GreyLevelsOnlyWhenAntialiased) {
  for (uint8_t quality : {ANTIALIASED_QUALITY, NONANTIALIASED_QUALITY}) {
    FontDesc desc;
    desc.height = -18;
    desc.quality = quality;
    std::u16string_view(u"Tahoma").copy(desc.faceName, 6);
    HFONT f = CreateFontIndirect(desc);
    ASSERT_NE(f, nullptr);
    m_fonts.push_back(f);
    auto d = Paper(120, 30, Fmt::R565, 0xFFFF);
    Rect r{0, 0, 120, 30};
    DrawText(d->dc(), u"Sawtooth", &r, DT_SINGLELINE);
    int grey = 0, black = 0;
    for (uint32_t v : d->Pixels()) {
      black += v == 0;
      grey += v != 0 && v != 0xFFFF;
    }
    EXPECT_GT(black, 0);
    if (quality == NONANTIALIASED_QUALITY) {
      EXPECT_EQ(grey, 0);
    } else {
      EXPECT_GT(grey, 0);
    }
  }
}

// A row of solid ink across the whole line: below the baseline for an
// underline, above it for a strikeout; plain text has neither.
TEST_F(TextRenderTest, UnderlineAndStrikeoutSpanTheLine) {
  for (int kind = 0; kind < 3; ++kind) {
    FontDesc desc;
    desc.height = -22;
    desc.underline = kind == 1;
    desc.strikeOut = kind == 2;
    HFONT f = CreateFontIndirect(desc);
    m_fonts.push_back(f);
    SelectObject(m_dc, f);
    const TextMetrics tm = Metrics();
    EXPECT_EQ(tm.underlined, kind == 1);
    EXPECT_EQ(tm.struckOut, kind == 2);
    const int32_t w = Extent(u"ab  cd");
    auto d = Paper(w + 10, tm.height + 4);
    Rect r{2, 2, w + 10, tm.height + 4};
    DrawText(d->dc(), u"ab  cd", &r, DT_SINGLELINE);
    int above = 0, below = 0;
    for (int y = 2; y < 2 + tm.height; ++y) {
      bool full = true;
      for (int x = 2; x < 2 + w && full; ++x) full = d->Get(x, y) == 0;
      if (full) (y < 2 + tm.ascent ? above : below)++;
    }
    EXPECT_EQ(below > 0, kind == 1) << kind;
    EXPECT_EQ(above > 0, kind == 2) << kind;
  }
}

TEST_F(TextRenderTest, GlyphCacheIsLeastRecentlyUsedAndInvisible) {
  Use(-13);
  auto d = Paper(200, 30);
  Rect r{0, 0, 200, 30};
  ResetGlyphCache(4);
  auto draw = [&](WStringView s) { DrawText(d->dc(), s, &r, DT_SINGLELINE); };
  auto expect = [](uint64_t hits, uint64_t misses, size_t entries, const char* step) {
    const GlyphCacheStats st = GetGlyphCacheStats();
    EXPECT_EQ(st.hits, hits) << step;
    EXPECT_EQ(st.misses, misses) << step;
    EXPECT_EQ(st.entries, entries) << step;
    EXPECT_EQ(st.capacity, 4u) << step;
  };
  draw(u"abcd");
  expect(0, 4, 4, "cold");
  draw(u"a");
  expect(1, 4, 4, "a is used again");
  draw(u"e");
  expect(1, 5, 4, "e pushes out b, the least recently used");
  draw(u"a");
  expect(2, 5, 4, "a stayed");
  draw(u"b");
  expect(2, 6, 4, "b was gone");
  draw(u"aa  aa");
  expect(7, 7, 4, "repeats hit; the space is a glyph too and pushes out d");

  // Cold and cached glyphs draw the same pixels.
  ResetGlyphCache(4096);
  auto cold = Paper(200, 30), warm = Paper(200, 30);
  DrawText(cold->dc(), u"Same pixels either way", &r, DT_SINGLELINE);
  DrawText(warm->dc(), u"Same pixels either way", &r, DT_SINGLELINE);
  EXPECT_GT(GetGlyphCacheStats().hits, 0u);
  gt::ExpectPixels(*warm, cold->Pixels(), "cached");
}

}  // namespace
