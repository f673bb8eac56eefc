// CGraphics, CBitmap and CFont on small DIB sections: colours, rectangles,
// the clip stack, text placement and spacing, bitmap drawing and blending,
// scaling in the three modes with both scalers, and font fitting.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "framework/Graphics.h"
#include "graphics_test_util.h"
#include "platform/gdi/Pixels.h"
#include "platform/registry/Registry.h"
#include "platform/testing/TestPlatform.h"
#include "platform/ui/Ui.h"
#include "png_test_util.h"

namespace {

using gfx::Held;
using gfx::Surface;

constexpr TColor kRed = 0xFFFF0000;
constexpr TColor kGreen = 0xFF00FF00;

int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Env::TSysErrorCode& e) {
    return e.code;
  }
  return 0;
}

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetRegistryForTests();
    m_haveFont = gfx::PinTestFont();
  }
  void TearDown() override { plat::ResetRegistryForTests(); }
  void NeedFont() {
    if (!m_haveFont) GTEST_SKIP() << "DejaVu Sans (fonts-dejavu-core) is not installed";
  }
  bool m_haveFont = false;
};

// ---------------------------------------------------------------------------
// Colours and rectangles

TEST_F(GraphicsTest, RectanglesTakeTheColourWordsAndTheirModes) {
  Surface s(10, 8);
  CMemoryGraphics g(s.Bitmap());
  // Nothing chosen yet: nothing drawn.
  g.DrawRectangle({0, 0, 10, 8});
  EXPECT_EQ(s.All(), std::vector<uint32_t>(80, 0));

  // The colour word 0xAARRGGBB comes out as the same 32-bit pixel, alpha
  // aside: blue in the low byte.
  g.SetFillColor(0x00102030, EColorSolid);
  g.SetLineColor(0x80A0B0C0, EColorSolid);
  g.DrawRectangle({2, 2, 8, 6});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool inside = x >= 2 && x < 8 && y >= 2 && y < 6;
      const bool edge = inside && (x == 2 || x == 7 || y == 2 || y == 5);
      const uint32_t want = !inside ? 0 : edge ? 0xFFA0B0C0 : 0xFF102030;
      ASSERT_EQ(s.Px(x, y), want) << x << "," << y;
    }

  // Mode 2 leaves the colour; mode 1 switches that drawing off.
  s.Fill(0);
  g.SetFillColor(kRed, EColorKeep);
  g.SetLineColor(kGreen, EColorOff);
  g.DrawRectangle({0, 0, 3, 3});
  EXPECT_EQ(s.Px(0, 0), 0xFF102030u) << "without a line the fill covers the edge";
  EXPECT_EQ(s.Px(2, 2), 0xFF102030u);
  EXPECT_EQ(s.Px(3, 3), 0u);
  g.SetFillColor(kRed, EColorOff);
  g.SetLineColor(kGreen, EColorSolid);
  s.Fill(0);
  g.DrawRectangle({0, 0, 5, 5});
  EXPECT_EQ(s.Px(0, 0), 0xFF00FF00u);
  EXPECT_EQ(s.Px(2, 2), 0u) << "without a fill the inside stays";

  EXPECT_EQ(ErrorOf([&] { g.SetFillColor(kRed, 3); }), Env::ErrBadArgument);
  EXPECT_EQ(ErrorOf([&] { g.SetLineColor(kRed, -1); }), Env::ErrBadArgument);
  EXPECT_TRUE(g.HasDrawn());
}

// ---------------------------------------------------------------------------
// The clip stack

TEST_F(GraphicsTest, ClipsNestRestoreAndUnclip) {
  Surface s(12, 12);
  CMemoryGraphics g(s.Bitmap());
  g.SetFillColor(kRed, EColorSolid);
  auto paint = [&] {
    s.Fill(0);
    g.DrawRectangle({0, 0, 12, 12});
    std::set<std::pair<int, int>> hit;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x)
        if (s.Px(x, y)) hit.insert({x, y});
    return hit;
  };
  auto box = [](int l, int t, int r, int b) {
    std::set<std::pair<int, int>> out;
    for (int y = t; y < b; ++y)
      for (int x = l; x < r; ++x) out.insert({x, y});
    return out;
  };

  EXPECT_EQ(g.ClipRect(), (RECT{0, 0, 12, 12}));
  g.PushClip({3, 3, 8, 8});
  EXPECT_EQ(paint(), box(3, 3, 8, 8));
  g.PushClip({6, 6, 20, 20});  // intersects with the current clip
  EXPECT_EQ(g.ClipRect(), (RECT{6, 6, 8, 8}));
  EXPECT_EQ(paint(), box(6, 6, 8, 8));
  g.PushClip({0, 0, 2, 2});  // disjoint: nothing at all
  EXPECT_TRUE(paint().empty());
  g.PopClip();
  EXPECT_EQ(paint(), box(6, 6, 8, 8));
  g.PopClip();
  EXPECT_EQ(paint(), box(3, 3, 8, 8));
  g.PopClip();
  EXPECT_EQ(paint(), box(0, 0, 12, 12));
  EXPECT_EQ(g.ClipDepth(), 0u);
}

TEST_F(GraphicsTest, PoppingAnEmptyStackRemovesClippingAltogether) {
  // A context that arrives clipped (as a paint context does): with nothing
  // pushed, PopClip lets drawing reach outside the old clip.
  Surface s(10, 10);
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  plat::HGDIOBJ old = plat::SelectObject(dc, s.Bitmap());
  plat::HRGN region = plat::CreateRectRgn(0, 0, 2, 2);
  plat::SelectClipRgn(dc, region);
  plat::DeleteObject(region);
  {
    CGraphics g(dc);
    g.SetFillColor(kRed, EColorSolid);
    g.DrawRectangle({0, 0, 10, 10});
    EXPECT_EQ(s.Px(5, 5), 0u);
    g.PopClip();
    EXPECT_EQ(g.ClipRect(), (RECT{0, 0, 10, 10}));
    g.DrawRectangle({0, 0, 10, 10});
    EXPECT_EQ(s.Px(9, 9), 0xFFFF0000u);
  }
  // The borrowed context outlives the object, its clip removed.
  RECT box{};
  EXPECT_EQ(plat::GetClipBox(dc, &box), plat::SIMPLEREGION);
  EXPECT_EQ(box, (RECT{0, 0, 10, 10}));
  plat::SelectObject(dc, old);
  EXPECT_TRUE(plat::DeleteDC(dc));
}

// ---------------------------------------------------------------------------
// Without a device context

TEST_F(GraphicsTest, DrawingWithoutAContextIsABrokenInvariant) {
  CGraphics g(nullptr);
  Held<CBitmap> bitmap(CBitmap::FromHandle(nullptr, false));
  const TFraction one(1, 1);
  const std::pair<int, std::function<void()>> calls[] = {
      {589, [&] { g.DrawRectangle({0, 0, 1, 1}); }},
      {469, [&] { g.DrawText(u"x", {0, 0, 9, 9}, EAlignLeft); }},
      {493, [&] { g.DrawTextEx(u"x", {0, 0, 9, 9}, EAlignLeft, one, EPlaceTop); }},
      {231, [&] { g.PushClip({0, 0, 1, 1}); }},
      {283, [&] { g.PopClip(); }},
      {672, [&] { g.DrawBitmap(bitmap.get(), 0, 0, {}); }},
      {738, [&] { g.DrawBitmapOpaque(bitmap.get(), 0, 0, {}); }},
  };
  for (const auto& [line, call] : calls) {
    try {
      call();
      ADD_FAILURE() << "no panic for line " << line;
    } catch (const TPanic& p) {
      EXPECT_EQ(p.line, line);
      EXPECT_EQ(std::u16string(p.source), u"Graphics");
    }
  }
}

TEST_F(GraphicsTest, AMemoryContextGivesItsBitmapBack) {
  Surface s(4, 4);
  {
    CMemoryGraphics first(s.Bitmap());
    // A bitmap sits in one context at a time.
    EXPECT_EQ(ErrorOf([&] { CMemoryGraphics second(s.Bitmap()); }), Env::ErrSystem);
  }
  EXPECT_EQ(ErrorOf([&] { CMemoryGraphics again(s.Bitmap()); }), 0);
  EXPECT_EQ(ErrorOf([&] { CMemoryGraphics none(nullptr); }), Env::ErrSystem);
  // Reference counted like every shared value.
  auto* counted = new CMemoryGraphics(s.Bitmap());
  counted->addReference();
  counted->removeReference();
  EXPECT_EQ(ErrorOf([&] { CMemoryGraphics after(s.Bitmap()); }), 0);
}

// ---------------------------------------------------------------------------
// Text

class TextOnSurface : public GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    NeedFont();
  }
  // Rows holding at least one pixel of the colour.
  static std::vector<int> RowsWith(const Surface& s, uint32_t colour) {
    std::vector<int> rows;
    for (int y = 0; y < s.H(); ++y)
      for (int x = 0; x < s.W(); ++x)
        if (s.Px(x, y) == colour) {
          rows.push_back(y);
          break;
        }
    return rows;
  }
};

TEST_F(TextOnSurface, NothingIsDrawnWhileTheLineIsOff) {
  Surface s(60, 30);
  s.Fill(0xFF123456);
  CMemoryGraphics g(s.Bitmap());
  g.SetFont(TFontDesc{14});
  g.SetFillColor(kGreen, EColorSolid);  // an opaque background would show
  g.DrawTextEx(u"Hello", {0, 0, 60, 30}, EAlignLeft, TFraction(1, 1), EPlaceTop);
  EXPECT_EQ(s.All(), std::vector<uint32_t>(60 * 30, 0xFF123456));
  EXPECT_FALSE(g.HasDrawn());
}

TEST_F(TextOnSurface, VerticalPlacementUsesTheMeasuredLine) {
  // The opaque background cell of a line is exactly one line high, so its
  // rows show where the line went.
  for (int place : {EPlaceTop, EPlaceCenter, EPlaceBottom}) {
    Surface s(120, 80);
    s.Fill(0xFF000000);
    CMemoryGraphics g(s.Bitmap());
    g.SetFont(TFontDesc{16});
    const int32_t line = g.Font()->MeasuredHeight();
    g.SetFillColor(kGreen, EColorSolid);
    g.SetLineColor(kRed, EColorSolid);
    const RECT rc{5, 10, 115, 71};
    g.DrawTextEx(u"xoxo", rc, EAlignLeftSingle, TFraction(1, 1), place);
    const std::vector<int> rows = RowsWith(s, 0xFF00FF00);
    ASSERT_FALSE(rows.empty());
    const int top = place == EPlaceTop ? rc.top : place == EPlaceCenter ? (rc.top + rc.bottom) / 2 - line / 2
                                                                         : rc.bottom - line;
    EXPECT_EQ(rows.front(), top) << "placement " << place;
    EXPECT_EQ(rows.back(), top + line - 1) << "placement " << place;
    EXPECT_EQ(int(rows.size()), line);
  }
}

TEST_F(TextOnSurface, LinesStartTheLineFractionApart) {
  for (const TFraction& fraction : {TFraction(1, 1), TFraction(1, 2), TFraction(3, 2)}) {
    Surface s(200, 200);
    s.Fill(0xFF000000);
    CMemoryGraphics g(s.Bitmap());
    g.SetFont(TFontDesc{14});
    const int32_t line = g.Font()->MeasuredHeight();
    // Room for one word a line: three lines.
    const RECT one = g.DrawText(u"mmm", {0, 0, 500, 500}, EAlignLeftSingle);
    const RECT rc{10, 20, 10 + one.right + 4, 190};
    const RECT measured = g.DrawText(u"mmm mmm mmm", rc, EAlignLeft);
    ASSERT_EQ(measured.bottom - measured.top, 3 * line);
    g.SetFillColor(kGreen, EColorSolid);
    g.SetLineColor(kRed, EColorSolid);
    g.DrawTextEx(u"mmm mmm mmm", rc, EAlignLeft, fraction, EPlaceTop);
    const int step = fraction == TFraction(1, 1) ? line : line * fraction.Num() / fraction.Den();
    const std::vector<int> rows = RowsWith(s, 0xFF00FF00);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), rc.top);
    EXPECT_EQ(rows.back(), rc.top + 2 * step + line - 1) << fraction.Num() << "/" << fraction.Den();
    // Apart by at least a line, each line's ink lies in its own band.
    if (step >= line) {
      std::set<int> ink;
      for (int y = 0; y < s.H(); ++y)
        for (int x = 0; x < s.W(); ++x)
          if (s.Px(x, y) != 0xFF000000u && s.Px(x, y) != 0xFF00FF00u) ink.insert((y - rc.top) / step);
      EXPECT_EQ(ink, (std::set<int>{0, 1, 2})) << fraction.Num() << "/" << fraction.Den();
    }
  }
}

TEST_F(TextOnSurface, DrawnTextStaysInsideItsRectangle) {
  Surface s(80, 60);
  s.Fill(0xFF000000);
  CMemoryGraphics g(s.Bitmap());
  g.SetFont(TFontDesc{30});
  g.SetLineColor(kRed, EColorSolid);
  const RECT rc{10, 20, 50, 30};  // lower than one line, narrower than the text
  g.DrawTextEx(u"Wide Text", rc, EAlignCenterSingle, TFraction(1, 1), EPlaceCenter);
  int inside = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) {
      const bool in = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
      if (s.Px(x, y) != 0xFF000000u) {
        ASSERT_TRUE(in) << "drawn outside at " << x << "," << y;
        ++inside;
      }
    }
  EXPECT_GT(inside, 0);
}

TEST_F(TextOnSurface, WrappingAndMeasuring) {
  Surface s(10, 10);
  CMemoryGraphics g(s.Bitmap());
  g.SetFont(TFontDesc{12});
  const int32_t line = g.Font()->MeasuredHeight();
  const char16_t* text = u"a long text that cannot fit on one line of this width";
  const RECT wrapped = g.DrawText(text, -1, {4, 6, 104, 6}, EAlignLeft);
  const int32_t h = wrapped.bottom - wrapped.top;
  EXPECT_GT(h, line);
  EXPECT_EQ(h % line, 0);
  EXPECT_EQ(wrapped.left, 4);
  EXPECT_EQ(wrapped.top, 6);
  EXPECT_LE(wrapped.right, 104);
  const RECT single = g.DrawText(text, -1, {4, 6, 104, 6}, EAlignCenterSingle);
  EXPECT_EQ(single.bottom - single.top, line);
  EXPECT_GT(single.right, 104);
  // A length cuts the text; an empty text takes no room.
  const RECT part = g.DrawText(text, 6, {0, 0, 1000, 0}, EAlignLeftSingle);
  EXPECT_EQ(part, g.DrawText(u"a long", {0, 0, 1000, 0}, EAlignLeftSingle));
  EXPECT_EQ(g.DrawText(u"", {3, 3, 50, 50}, EAlignLeft), (RECT{3, 3, 3, 3}));
  // Measuring draws nothing.
  EXPECT_EQ(s.All(), std::vector<uint32_t>(100, 0));

  EXPECT_EQ(ErrorOf([&] { g.DrawText(u"x", {0, 0, 9, 9}, 6); }), Env::ErrBadArgument);
  EXPECT_EQ(ErrorOf([&] { g.DrawTextEx(u"x", {0, 0, 9, 9}, -1, TFraction(1, 1), EPlaceTop); }),
            Env::ErrBadArgument);
  EXPECT_EQ(ErrorOf([&] { g.DrawTextEx(u"x", {0, 0, 9, 9}, EAlignLeft, TFraction(1, 1), 3); }),
            Env::ErrBadArgument);
  EXPECT_EQ(ErrorOf([&] { g.SetFont(static_cast<CFont*>(nullptr)); }), Env::ErrBadArgument);
}

TEST_F(TextOnSurface, SetFontKeepsOneFontPerDescription) {
  Surface s(4, 4);
  CMemoryGraphics g(s.Bitmap());
  g.SetFont(TFontDesc{12, true});
  CFont* first = g.Font();
  g.SetFont(TFontDesc{12, true});
  EXPECT_EQ(g.Font(), first);
  g.SetFont(TFontDesc{12, false});
  EXPECT_NE(g.Font(), first);
  // A font held elsewhere stays valid after the graphics lets go of it.
  Held<CFont> mine(CFont::Create(20, false, true, true));
  g.SetFont(mine.get());
  EXPECT_EQ(mine->ReferenceCount(), 2);
  g.SetFont(TFontDesc{9});
  EXPECT_EQ(mine->ReferenceCount(), 1);
  EXPECT_EQ(mine->Desc(), (TFontDesc{20, false, true, true}));
}

// ---------------------------------------------------------------------------
// Fonts

TEST_F(GraphicsTest, FontFittingStaysWithinThePixelHeight) {
  NeedFont();
  EXPECT_EQ(ErrorOf([] { CFont::Create(0, false, false, false); }), Env::ErrBadArgument);
  EXPECT_EQ(ErrorOf([] { CFont::Create(-4, false, false, false); }), Env::ErrBadArgument);
  for (int32_t px : {1, 2, 3, 5, 8, 11, 12, 16, 20, 24, 33, 48, 64, 100, 300}) {
    for (bool bold : {false, true}) {
      Held<CFont> font(CFont::Create(px, bold, false, false));
      ASSERT_NE(font->Handle(), nullptr) << px;
      // Never a zero (default-size) request, never above the asked height.
      EXPECT_LE(font->RequestedHeight(), -1) << px;
      EXPECT_GE(font->RequestedHeight(), -px) << px;
      EXPECT_GE(font->MeasuredHeight(), 1) << px;
      EXPECT_LE(font->MeasuredHeight(), px) << px << (bold ? " bold" : "");
      // ... and not needlessly smaller: the refit scales, it does not collapse.
      EXPECT_GE(font->MeasuredHeight(), px - px / 8 - 1) << px;
      // Asked by character height, fonts measure taller and shrink once.
      if (px >= 12) {
        EXPECT_GT(font->RequestedHeight(), -px) << px;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Drawing bitmaps

TEST_F(GraphicsTest, AlphaBitmapsBlendAndOthersCopy) {
  // 565 target: a translucent pixel over a known background.
  Surface target(4, 1, 16);
  const plat::Rgb8 back{40, 200, 120};
  target.Fill(plat::Pack565(back.r, back.g, back.b));
  Surface px(1, 1);
  const uint32_t a = 128, r = 100, g = 50, b = 20;  // premultiplied
  px.Set(0, 0, a << 24 | r << 16 | g << 8 | b);
  Held<CBitmap> blended(px.ToBitmap(true));
  {
    CMemoryGraphics gr(target.Bitmap());
    gr.DrawBitmap(blended.get(), 1, 0, {});
  }
  const plat::Rgb8 got = plat::Expand565(uint16_t(target.Px(1, 0)));
  auto over = [&](double s, double d) { return s + d * (255.0 - a) / 255.0; };
  auto near = [](int got5, double want8, int bits) {
    const int want = int(want8) >> (8 - bits);
    return std::abs((got5 >> (8 - bits)) - want) <= 1;
  };
  EXPECT_TRUE(near(got.r, over(r, back.r), 5)) << int(got.r);
  EXPECT_TRUE(near(got.g, over(g, back.g), 6)) << int(got.g);
  EXPECT_TRUE(near(got.b, over(b, back.b), 5)) << int(got.b);
  EXPECT_EQ(target.Px(0, 0), plat::Pack565(back.r, back.g, back.b));

  // Without the alpha flag the same pixel is copied as it is; the opaque
  // variant copies even a bitmap with alpha.
  Surface dst(3, 1);
  dst.Fill(0xFF0000FF);
  Surface same(1, 1);
  same.Set(0, 0, 0x80640000);
  Held<CBitmap> copied(same.ToBitmap(false));
  {
    CMemoryGraphics gr(dst.Bitmap());
    gr.DrawBitmap(copied.get(), 0, 0, {});
    gr.DrawBitmapOpaque(blended.get(), 1, 0, {});
    gr.DrawBitmap(blended.get(), 2, 0, {});
  }
  EXPECT_EQ(dst.Px(0, 0), 0x80640000u);
  EXPECT_EQ(dst.Px(1, 0), 0x80643214u);
  EXPECT_NE(dst.Px(2, 0), 0x80643214u);
}

TEST_F(GraphicsTest, SourceRectanglesAndClipsLimitWhatIsDrawn) {
  Surface src(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) src.Set(x, y, 0xFF000000u | uint32_t(y * 16 + x + 1));
  Held<CBitmap> bitmap(src.ToBitmap(false));
  Held<CBitmap> empty(CBitmap::FromHandle(nullptr, true));

  auto draw = [&](const std::function<void(CGraphics&)>& f) {
    Surface dst(8, 8);
    {
      CMemoryGraphics g(dst.Bitmap());
      f(g);
    }
    std::map<std::pair<int, int>, uint32_t> hits;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (dst.Px(x, y)) hits[{x, y}] = dst.Px(x, y) & 0xFF;
    return hits;
  };
  using Hits = std::map<std::pair<int, int>, uint32_t>;
  // A part of the bitmap.
  EXPECT_EQ(draw([&](CGraphics& g) { g.DrawBitmap(bitmap.get(), 5, 5, {1, 1, 3, 3}); }),
            (Hits{{{5, 5}, 18}, {{6, 5}, 19}, {{5, 6}, 34}, {{6, 6}, 35}}));
  // A source rectangle reaching outside the bitmap: only what the bitmap
  // has, where it would have landed.
  EXPECT_EQ(draw([&](CGraphics& g) { g.DrawBitmap(bitmap.get(), 0, 0, {-1, -1, 1, 1}); }), (Hits{{{1, 1}, 1}}));
  EXPECT_TRUE(draw([&](CGraphics& g) { g.DrawBitmap(bitmap.get(), 0, 0, {10, 10, 12, 12}); }).empty());
  // The clip.
  EXPECT_EQ(draw([&](CGraphics& g) {
              g.PushClip({0, 0, 6, 6});
              g.DrawBitmap(bitmap.get(), 5, 5, {});
            }),
            (Hits{{{5, 5}, 1}}));
  // Partly off the surface.
  EXPECT_EQ(draw([&](CGraphics& g) { g.DrawBitmap(bitmap.get(), -3, -3, {}); }), (Hits{{{0, 0}, 3 * 16 + 3 + 1}}));
  // Nothing to draw is no error.
  EXPECT_TRUE(draw([&](CGraphics& g) {
                g.DrawBitmap(empty.get(), 0, 0, {});
                g.DrawBitmap(nullptr, 0, 0, {});
                g.DrawBitmapOpaque(empty.get(), 0, 0, {});
                EXPECT_FALSE(g.HasDrawn());
              }).empty());
}

// ---------------------------------------------------------------------------
// Scaling

// A w x h opaque picture, every pixel different, as a bitmap with or
// without the alpha flag.
CBitmap* Pattern(int32_t w, int32_t h, bool alpha) {
  Surface s(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s.Set(x, y, 0xFF000000u | uint32_t((y * 7 + 3) << 8) | uint32_t(x * 5 + 1));
  return s.ToBitmap(alpha);
}

TEST_F(GraphicsTest, ProportionalScalingCentresAndLeavesTransparentBands) {
  for (bool smooth : {false, true}) {
    Held<CBitmap> wide(Pattern(100, 50, false));
    Held<CBitmap> tall(Pattern(50, 100, false));
    auto scale = smooth ? &CBitmap::NewScaledSmooth : &CBitmap::NewScaled;
    // The target's place does not matter, only its size.
    Held<CBitmap> a(scale(wide.get(), {10, 10, 110, 110}, EScaleProportional));
    Held<CBitmap> b(scale(tall.get(), {0, 0, 100, 100}, EScaleProportional));
    EXPECT_EQ(a->GetSize(), (RECT{0, 0, 100, 100}));
    EXPECT_TRUE(a->HasAlpha()) << "bands need alpha even from an opaque source";
    EXPECT_EQ(a->SourceSize(), (SIZE{100, 50}));
    const std::vector<uint32_t> wideSrc = gfx::Pixels(wide.get());
    const std::vector<uint32_t> pa = gfx::Pixels(a.get());
    const std::vector<uint32_t> pb = gfx::Pixels(b.get());
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x) {
        const uint32_t va = pa[size_t(y) * 100 + x], vb = pb[size_t(y) * 100 + x];
        if (y < 25 || y >= 75) {
          ASSERT_EQ(va, 0u) << "band at " << x << "," << y;
        } else {
          // Same size along both axes: both scalers copy.
          ASSERT_EQ(va, wideSrc[size_t(y - 25) * 100 + x]) << x << "," << y << (smooth ? " smooth" : "");
        }
        if (x < 25 || x >= 75) {
          ASSERT_EQ(vb, 0u) << "band at " << x << "," << y;
        } else {
          ASSERT_EQ(vb >> 24, 255u) << x << "," << y;
        }
      }
  }
}

TEST_F(GraphicsTest, StretchAndKeepModes) {
  Surface s(2, 2);
  s.Set(0, 0, 0xFF0000FF), s.Set(1, 0, 0xFF00FF00), s.Set(0, 1, 0xFFFF0000), s.Set(1, 1, 0xFFFFFFFF);
  Held<CBitmap> src(s.ToBitmap(false));
  // Stretch, nearest neighbour: each source pixel fills its quadrant.
  Held<CBitmap> big(CBitmap::NewScaled(src.get(), {0, 0, 4, 6}, EScaleStretch));
  EXPECT_EQ(big->GetSize(), (RECT{0, 0, 4, 6}));
  EXPECT_FALSE(big->HasAlpha());
  const auto p = gfx::Pixels(big.get());
  EXPECT_EQ(p[0], 0xFF0000FFu);
  EXPECT_EQ(p[3], 0xFF00FF00u);
  EXPECT_EQ(p[5 * 4], 0xFFFF0000u);
  EXPECT_EQ(p[5 * 4 + 3], 0xFFFFFFFFu);
  // Keep: the source's own size, whatever the target.
  for (auto scale : {&CBitmap::NewScaled, &CBitmap::NewScaledSmooth}) {
    Held<CBitmap> kept(scale(src.get(), {0, 0, 50, 70}, EScaleNone));
    EXPECT_EQ(kept->GetSize(), (RECT{0, 0, 2, 2}));
    EXPECT_EQ(gfx::Pixels(kept.get()), gfx::Pixels(src.get()));
  }
}

TEST_F(GraphicsTest, ScalingEdgeCases) {
  Held<CBitmap> src(Pattern(3, 3, true));
  Held<CBitmap> empty(CBitmap::FromHandle(nullptr, true));
  // Nothing to scale, or nothing to scale to: an empty bitmap.
  for (const RECT& target : {RECT{0, 0, 0, 5}, RECT{0, 0, 5, 0}, RECT{5, 5, 0, 9}, RECT{0, 0, -3, -3}}) {
    Held<CBitmap> r(CBitmap::NewScaledSmooth(src.get(), target, EScaleNone));
    EXPECT_EQ(r->Handle(), nullptr);
    EXPECT_EQ(r->GetSize(), RECT{});
  }
  Held<CBitmap> r1(CBitmap::NewScaled(empty.get(), {0, 0, 5, 5}, EScaleStretch));
  Held<CBitmap> r2(CBitmap::NewScaled(nullptr, {0, 0, 5, 5}, EScaleStretch));
  EXPECT_EQ(r1->Handle(), nullptr);
  EXPECT_EQ(r2->Handle(), nullptr);
  EXPECT_EQ(ErrorOf([&] { CBitmap::NewScaled(src.get(), {0, 0, 5, 5}, 3); }), Env::ErrBadArgument);
  // A source thinner than a pixel at the target's scale still shows.
  Held<CBitmap> line(Pattern(200, 1, false));
  Held<CBitmap> fit(CBitmap::NewScaled(line.get(), {0, 0, 20, 20}, EScaleProportional));
  const auto p = gfx::Pixels(fit.get());
  EXPECT_EQ(std::count_if(p.begin(), p.end(), [](uint32_t v) { return v >> 24 == 255; }), 20);
}

TEST_F(GraphicsTest, OpaqueSourcesComeOutOpaqueWhateverTheirFourthByte) {
  Surface s(3, 2);
  s.Fill(0x00406080);  // alpha byte 0, yet not an alpha bitmap
  Held<CBitmap> src(s.ToBitmap(false));
  for (auto scale : {&CBitmap::NewScaled, &CBitmap::NewScaledSmooth}) {
    Held<CBitmap> stretched(scale(src.get(), {0, 0, 7, 5}, EScaleStretch));
    for (uint32_t v : gfx::Pixels(stretched.get())) ASSERT_EQ(v, 0xFF406080u);
  }
  // A 16-bit source scales too (read through a 32-bit copy).
  plat::HBITMAP screenLike = plat::CreateCompatibleBitmap(nullptr, 4, 4);
  Held<CBitmap> s16(CBitmap::FromHandle(screenLike, false));
  Held<CBitmap> from16(CBitmap::NewScaledSmooth(s16.get(), {0, 0, 2, 2}, EScaleStretch));
  for (uint32_t v : gfx::Pixels(from16.get())) EXPECT_EQ(v, 0xFF000000u);
}

TEST_F(GraphicsTest, SmoothScalingAveragesPremultipliedPixels) {
  // A uniform translucent picture stays exactly uniform: weighted sums of
  // premultiplied pixels keep their alpha.
  Surface s(7, 5);
  s.Fill(0x80402010);
  Held<CBitmap> translucent(s.ToBitmap(true));
  for (const RECT& target : {RECT{0, 0, 13, 3}, RECT{0, 0, 3, 2}, RECT{0, 0, 1, 1}, RECT{0, 0, 40, 41}}) {
    Held<CBitmap> r(CBitmap::NewScaledSmooth(translucent.get(), target, EScaleStretch));
    EXPECT_TRUE(r->HasAlpha());
    for (uint32_t v : gfx::Pixels(r.get())) ASSERT_EQ(v, 0x80402010u) << target.right << "x" << target.bottom;
  }
  // A checkerboard halved: smooth averages to grey, nearest keeps extremes.
  Surface c(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) c.Set(x, y, (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000);
  Held<CBitmap> board(c.ToBitmap(false));
  Held<CBitmap> smooth(CBitmap::NewScaledSmooth(board.get(), {0, 0, 4, 4}, EScaleStretch));
  Held<CBitmap> plain(CBitmap::NewScaled(board.get(), {0, 0, 4, 4}, EScaleStretch));
  for (uint32_t v : gfx::Pixels(smooth.get())) {
    EXPECT_NEAR(int(v & 0xFF), 128, 1);
    EXPECT_EQ(v >> 24, 255u);
  }
  for (uint32_t v : gfx::Pixels(plain.get())) EXPECT_TRUE((v & 0xFF) == 0 || (v & 0xFF) == 255);
  // Enlarging interpolates: between a black and a white pixel the values rise.
  Surface two(2, 1);
  two.Set(0, 0, 0xFF000000), two.Set(1, 0, 0xFFFFFFFF);
  Held<CBitmap> pair(two.ToBitmap(false));
  Held<CBitmap> wide(CBitmap::NewScaledSmooth(pair.get(), {0, 0, 8, 1}, EScaleStretch));
  const auto w = gfx::Pixels(wide.get());
  EXPECT_EQ(w.front() & 0xFF, 0u);
  EXPECT_EQ(w.back() & 0xFF, 255u);
  for (size_t i = 1; i < w.size(); ++i) EXPECT_GE(w[i] & 0xFF, w[i - 1] & 0xFF);
  EXPECT_GT(std::count_if(w.begin(), w.end(), [](uint32_t v) { return (v & 0xFF) != 0 && (v & 0xFF) != 255; }), 2);

  // Gradients along one axis stay constant along the other and keep their
  // direction, for wide and for tall targets alike.
  for (bool horizontal : {true, false}) {
    Surface g(6, 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) g.Set(x, y, 0xFF000000u | uint32_t((horizontal ? x : y) * 40));
    Held<CBitmap> ramp(g.ToBitmap(false));
    for (const RECT& target : {RECT{0, 0, 12, 3}, RECT{0, 0, 3, 12}, RECT{0, 0, 4, 5}, RECT{0, 0, 9, 8}}) {
      Held<CBitmap> r(CBitmap::NewScaledSmooth(ramp.get(), target, EScaleStretch));
      const auto v = gfx::Pixels(r.get());
      const int w = target.right, h = target.bottom;
      auto at = [&](int x, int y) { return int(v[size_t(y) * w + x] & 0xFF); };
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int along = horizontal ? x : y, other = horizontal ? y : x;
          const int px = horizontal ? along : other, py = horizontal ? other : along;
          ASSERT_EQ(at(px, py), horizontal ? at(px, 0) : at(0, py)) << w << "x" << h;
          if (along > 0) {
            ASSERT_GE(at(px, py), horizontal ? at(px - 1, py) : at(px, py - 1)) << w << "x" << h;
          }
        }
      EXPECT_LT(at(0, 0), horizontal ? at(w - 1, 0) : at(0, h - 1)) << w << "x" << h;
    }
  }

  // Random premultiplied input, up and down: colours never exceed alpha.
  Surface rnd(9, 7);
  uint32_t seed = 99;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const uint32_t a = seed >> 24;
      const uint32_t r = (seed >> 16 & 0xFF) * a / 255, g = (seed >> 8 & 0xFF) * a / 255, b = (seed & 0xFF) * a / 255;
      rnd.Set(x, y, a << 24 | r << 16 | g << 8 | b);
    }
  Held<CBitmap> noisy(rnd.ToBitmap(true));
  for (const RECT& target : {RECT{0, 0, 4, 3}, RECT{0, 0, 23, 19}, RECT{0, 0, 9, 2}}) {
    Held<CBitmap> r(CBitmap::NewScaledSmooth(noisy.get(), target, EScaleProportional));
    for (uint32_t v : gfx::Pixels(r.get())) {
      const uint32_t a = v >> 24;
      ASSERT_LE((v >> 16) & 0xFF, a);
      ASSERT_LE((v >> 8) & 0xFF, a);
      ASSERT_LE(v & 0xFF, a);
    }
  }
}

// ---------------------------------------------------------------------------
// Bitmaps from PNG data

TEST_F(GraphicsTest, DownloadedPicturesDrawOpaque) {
  pngt::Picture p = pngt::MakePicture(3, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 4);
  const auto file = pngt::Encode(p);
  Held<CBitmap> bitmap(CBitmap::FromPngData(file.data(), file.size()));
  EXPECT_FALSE(bitmap->HasAlpha());
  EXPECT_EQ(bitmap->GetSize(), (RECT{0, 0, 3, 2}));
  EXPECT_EQ(bitmap->ReferenceCount(), 1);
  const std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() / 2));
  EXPECT_EQ(ErrorOf([&] { CBitmap::FromPngData(cut.data(), cut.size()); }), Env::ErrBadArgument);
  EXPECT_EQ(ErrorOf([&] { CBitmap::FromPngData(nullptr, 0); }), Env::ErrBadArgument);
  // A handle that is not a bitmap is refused.
  plat::HBRUSH brush = plat::CreateSolidBrush(0);
  EXPECT_EQ(ErrorOf([&] { CBitmap::FromHandle(reinterpret_cast<plat::HBITMAP>(brush), false); }),
            Env::ErrBadArgument);
  plat::DeleteObject(brush);
}

// ---------------------------------------------------------------------------
// Windows

plat::LRESULT PlainProc(plat::HWND h, uint32_t m, plat::WPARAM w, plat::LPARAM l) { return plat::DefWindowProc(h, m, w, l); }

TEST(WindowGraphics, DrawsOnTheWindowAndFailsForNoWindow) {
  plat::TestPlatform platform;
  plat::WndClass cls;
  cls.proc = PlainProc;
  cls.name = u"GraphicsTestWindow";
  ASSERT_NE(plat::RegisterClass(cls), 0);
  plat::HWND window = plat::CreateWindowEx(0, cls.name, u"", plat::WS_VISIBLE, 10, 20, 40, 30, nullptr, 0, nullptr,
                                           nullptr);
  ASSERT_NE(window, nullptr);
  plat::ScreenFrameBuffer().Fill(0);
  {
    CWindowGraphics g(window);
    EXPECT_EQ(g.ClipRect(), (RECT{0, 0, 40, 30}));
    g.SetFillColor(kRed, EColorSolid);
    g.DrawRectangle({0, 0, 5, 5});
    g.DrawRectangle({35, 25, 60, 60});  // reaches past the window
  }
  EXPECT_EQ(platform.Pixel(10, 20), 0xF800);
  EXPECT_EQ(platform.Pixel(14, 24), 0xF800);
  EXPECT_EQ(platform.Pixel(15, 25), 0);
  EXPECT_EQ(platform.Pixel(49, 49), 0xF800);
  EXPECT_EQ(platform.Pixel(50, 50), 0) << "drawing stays inside the window";
  plat::DestroyWindow(window);
  EXPECT_EQ(ErrorOf([&] { CWindowGraphics gone(window); }), Env::ErrSystem);
}

}  // namespace
