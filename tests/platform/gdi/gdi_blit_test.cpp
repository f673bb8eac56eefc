// Exact pixels of the blits and fills on small synthetic bitmaps, each step
// checked against a model written here from the documented rules.
#include <gtest/gtest.h>

#include <functional>

#include "GdiTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/gdi/Pixels.h"

using namespace plat;
using gt::C8;
using gt::Dib;
using gt::Fmt;

namespace {

using ClipFn = std::function<bool(int, int)>;
const ClipFn kEverywhere = [](int, int) { return true; };

bool In(const Dib& d, int x, int y) { return x >= 0 && y >= 0 && x < d.w() && y < d.h(); }

// BitBlt: each destination pixel of the rectangle inside the clip takes its
// source pixel, converted, when there is one.
std::vector<uint32_t> ModelBitBlt(const Dib& dst, int x, int y, int w, int h, const Dib& src, int sx, int sy,
                                  const ClipFn& clip) {
  std::vector<uint32_t> out = dst.Pixels();
  for (int py = 0; py < dst.h(); ++py)
    for (int px = 0; px < dst.w(); ++px) {
      const int qx = sx + px - x, qy = sy + py - y;
      if (px < x || px >= x + w || py < y || py >= y + h || !clip(px, py) || !In(src, qx, qy)) continue;
      out[size_t(py) * dst.w() + px] = gt::Convert(src.fmt(), src.Get(qx, qy), dst.fmt());
    }
  return out;
}

// The nearest-neighbour rule: offset i of a span of w samples source offset
// floor((2i + 1) * sw / (2w)).
int Sample(int start, int sw, int w, int i) { return start + (2 * i + 1) * sw / (2 * w); }

std::vector<uint32_t> ModelStretch(const Dib& dst, int x, int y, int w, int h, const Dib& src, int sx, int sy,
                                   int sw, int sh, const ClipFn& clip) {
  std::vector<uint32_t> out = dst.Pixels();
  for (int py = std::max(0, y); py < std::min(dst.h(), y + h); ++py)
    for (int px = std::max(0, x); px < std::min(dst.w(), x + w); ++px) {
      const int qx = Sample(sx, sw, w, px - x), qy = Sample(sy, sh, h, py - y);
      if (!clip(px, py) || !In(src, qx, qy)) continue;
      out[size_t(py) * dst.w() + px] = gt::Convert(src.fmt(), src.Get(qx, qy), dst.fmt());
    }
  return out;
}

// x / 255 to the nearest integer, spelled differently from the layer.
int R(int x) { return (2 * x + 255) / 510; }

// Source-over of a premultiplied source as documented.
uint32_t ModelBlendPixel(Fmt df, uint32_t dv, Fmt sf, uint32_t sv, int ca, bool perPixel) {
  C8 s = gt::Channels(sf, sv);
  if (!perPixel) s.a = 255;
  s = {R(s.r * ca), R(s.g * ca), R(s.b * ca), R(s.a * ca)};
  const C8 d = gt::Channels(df, dv);
  const C8 out{std::min(255, s.r + R(d.r * (255 - s.a))), std::min(255, s.g + R(d.g * (255 - s.a))),
               std::min(255, s.b + R(d.b * (255 - s.a))), s.a + R(d.a * (255 - s.a))};
  return gt::Pack(df, out);
}

std::vector<uint32_t> ModelAlpha(const Dib& dst, int x, int y, int w, int h, const Dib& src, int sx, int sy, int sw,
                                 int sh, int ca, bool perPixel, const ClipFn& clip) {
  std::vector<uint32_t> out = dst.Pixels();
  for (int py = std::max(0, y); py < std::min(dst.h(), y + h); ++py)
    for (int px = std::max(0, x); px < std::min(dst.w(), x + w); ++px) {
      if (!clip(px, py)) continue;
      uint32_t& d = out[size_t(py) * dst.w() + px];
      d = ModelBlendPixel(dst.fmt(), d, src.fmt(), src.Get(Sample(sx, sw, w, px - x), Sample(sy, sh, h, py - y)), ca,
                          perPixel);
    }
  return out;
}

constexpr Fmt kFormats[] = {Fmt::R565, Fmt::R555, Fmt::Bgra};

TEST(GdiBlit, BitBltCopiesConvertsAndClipsAtEveryEdge) {
  struct Geometry {
    const char* what;
    int x, y, w, h, sx, sy;
  };
  const Geometry cases[] = {
      {"inside", 2, 1, 4, 3, 1, 2},
      {"overhanging every edge", -3, -2, 20, 20, 0, 0},
      {"source partly outside", 1, 1, 7, 6, -2, 3},
      {"source far outside", 0, 0, 9, 7, 50, 50},
      {"destination off the bitmap", 12, 0, 3, 3, 0, 0},
      {"empty", 2, 2, 0, 3, 0, 0},
      {"negative size", 4, 4, -3, -3, 0, 0},
  };
  for (Fmt df : kFormats)
    for (Fmt sf : kFormats) {
      Dib dst(df, 9, 7, df != Fmt::R555), src(sf, 6, 5, sf == Fmt::R555);
      src.Pattern(11);
      for (const Geometry& g : cases) {
        dst.Pattern(3);
        const std::vector<uint32_t> expected = ModelBitBlt(dst, g.x, g.y, g.w, g.h, src, g.sx, g.sy, kEverywhere);
        EXPECT_TRUE(BitBlt(dst.dc(), g.x, g.y, g.w, g.h, src.dc(), g.sx, g.sy, SRCCOPY));
        gt::ExpectPixels(dst, expected,
                         std::string(g.what) + " " + std::to_string(int(sf)) + "->" + std::to_string(int(df)));
      }
      // Through a clip with a hole.
      dst.Pattern(5);
      ExcludeClipRect(dst.dc(), 2, 2, 5, 4);
      const ClipFn hole = [](int x, int y) { return !(x >= 2 && x < 5 && y >= 2 && y < 4); };
      const std::vector<uint32_t> expected = ModelBitBlt(dst, 0, 0, 9, 7, src, -1, -1, hole);
      EXPECT_TRUE(BitBlt(dst.dc(), 0, 0, 9, 7, src.dc(), -1, -1, SRCCOPY));
      gt::ExpectPixels(dst, expected, "clipped");
    }
}

TEST(GdiBlit, BitBltWithinOneBitmapReadsTheSourceBeforeWriting) {
  struct Shift {
    int dx, dy;
  };
  for (Shift s : {Shift{0, 1}, Shift{0, -1}, Shift{1, 0}, Shift{-2, 1}, Shift{3, -2}}) {
    Dib d(Fmt::R565, 8, 6, false);
    d.Pattern(7);
    Dib copy(Fmt::R565, 8, 6);
    copy.Load(d.Pixels());
    const std::vector<uint32_t> expected = ModelBitBlt(d, s.dx, s.dy, 8, 6, copy, 0, 0, kEverywhere);
    EXPECT_TRUE(BitBlt(d.dc(), s.dx, s.dy, 8, 6, d.dc(), 0, 0, SRCCOPY));
    gt::ExpectPixels(d, expected, "scroll " + std::to_string(s.dx) + "," + std::to_string(s.dy));
  }
}

TEST(GdiBlit, BlacknessWhitenessAndUnsupportedRops) {
  Dib d(Fmt::Bgra, 4, 3), s(Fmt::R565, 4, 3);
  d.Pattern(1);
  std::vector<uint32_t> expected = d.Pixels();
  for (int y = 1; y < 3; ++y)
    for (int x = 0; x < 2; ++x) expected[size_t(y) * 4 + x] = 0xFF000000u;
  EXPECT_TRUE(BitBlt(d.dc(), -1, 1, 3, 5, nullptr, 0, 0, BLACKNESS));
  gt::ExpectPixels(d, expected, "blackness");
  for (int x = 2; x < 4; ++x) expected[x] = 0xFFFFFFFFu;
  EXPECT_TRUE(BitBlt(d.dc(), 2, 0, 2, 1, s.dc(), 0, 0, WHITENESS));
  gt::ExpectPixels(d, expected, "whiteness");
  SetLastError(0);
  EXPECT_FALSE(BitBlt(d.dc(), 0, 0, 4, 3, s.dc(), 0, 0, 0x008800C6));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(BitBlt(d.dc(), 0, 0, 4, 3, nullptr, 0, 0, SRCCOPY)) << "a copy needs a source";
  EXPECT_FALSE(StretchBlt(d.dc(), 0, 0, 4, 3, s.dc(), 0, 0, 4, 3, 0x008800C6));
  gt::ExpectPixels(d, expected, "unchanged by refused calls");
}

TEST(GdiBlit, StretchBltSamplesTheNearestSourcePixel) {
  struct Case {
    int x, y, w, h, sx, sy, sw, sh;
  };
  const Case cases[] = {
      {0, 0, 10, 10, 0, 0, 5, 5},     // 2x up
      {1, 1, 3, 3, 0, 0, 8, 8},       // down by 8/3
      {-2, 2, 7, 11, 1, 0, 5, 3},     // mixed, partly off the destination
      {3, 3, 6, 6, 2, 2, 1, 1},       // one pixel everywhere
      {0, 4, 12, 5, 0, 1, 7, 1},      // one row tall
      {0, 0, 12, 12, -3, -3, 10, 10}, // source partly outside: those pixels stay
  };
  for (Fmt df : {Fmt::R565, Fmt::Bgra})
    for (Fmt sf : {Fmt::R565, Fmt::Bgra}) {
      Dib dst(df, 12, 12), src(sf, 8, 8, false);
      src.Pattern(9);
      SetStretchBltMode(dst.dc(), COLORONCOLOR);
      for (const Case& c : cases) {
        dst.Pattern(4);
        const auto expected = ModelStretch(dst, c.x, c.y, c.w, c.h, src, c.sx, c.sy, c.sw, c.sh, kEverywhere);
        EXPECT_TRUE(StretchBlt(dst.dc(), c.x, c.y, c.w, c.h, src.dc(), c.sx, c.sy, c.sw, c.sh, SRCCOPY));
        gt::ExpectPixels(dst, expected,
                         "stretch " + std::to_string(c.sw) + "x" + std::to_string(c.sh) + "->" + std::to_string(c.w) +
                             "x" + std::to_string(c.h));
      }
      // Clipping does not move the samples of the pixels that remain.
      dst.Pattern(4);
      IntersectClipRect(dst.dc(), 3, 2, 9, 7);
      const ClipFn box = [](int x, int y) { return x >= 3 && x < 9 && y >= 2 && y < 7; };
      const auto expected = ModelStretch(dst, 0, 0, 12, 12, src, 0, 0, 5, 7, box);
      EXPECT_TRUE(StretchBlt(dst.dc(), 0, 0, 12, 12, src.dc(), 0, 0, 5, 7, SRCCOPY));
      gt::ExpectPixels(dst, expected, "stretch clipped");
      SelectClipRgn(dst.dc(), nullptr);
    }
  Dib a(Fmt::R565, 4, 4), b(Fmt::R565, 4, 4);
  SetLastError(0);
  EXPECT_FALSE(StretchBlt(a.dc(), 4, 0, -4, 4, b.dc(), 0, 0, 4, 4, SRCCOPY)) << "mirroring is not offered";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(StretchBlt(a.dc(), 0, 0, 4, 4, b.dc(), 0, 0, 0, 4, SRCCOPY)) << "an empty source draws nothing";
}

TEST(GdiBlit, RoundingIsToTheNearestForEveryProduct) {
  for (uint32_t x = 0; x <= 255 * 255; ++x) ASSERT_EQ(Div255(x), uint32_t(R(int(x)))) << x;
}

TEST(GdiBlit, AlphaBlendFollowsThePinnedFormula) {
  // Every source is a premultiplied (colour, alpha) pair of interesting
  // values, plus a few colours above their alpha (not premultiplied: the
  // result saturates at 255).
  const int values[] = {0, 1, 2, 64, 127, 128, 200, 254, 255};
  std::vector<uint32_t> sources;
  for (int a : values)
    for (int c : values)
      if (c <= a) sources.push_back(uint32_t(a) << 24 | uint32_t(c) << 16 | uint32_t(a - c) << 8 | uint32_t(c / 2));
  for (uint32_t odd : {0x00FF8040u, 0x40FFFFFFu, 0x01020304u}) sources.push_back(odd);
  const int n = int(sources.size());
  Dib src(Fmt::Bgra, n, 1);
  src.Load(sources);
  for (Fmt df : kFormats) {
    Dib dst(df, n, 2);
    for (int ca : {255, 128, 77, 1, 0}) {
      dst.Pattern(uint32_t(ca) + 17);
      // Row 0 with per-pixel alpha, row 1 with the source taken as opaque.
      const auto e0 = ModelAlpha(dst, 0, 0, n, 1, src, 0, 0, n, 1, ca, true, kEverywhere);
      ASSERT_TRUE(AlphaBlend(dst.dc(), 0, 0, n, 1, src.dc(), 0, 0, n, 1,
                             BlendFunc{AC_SRC_OVER, 0, uint8_t(ca), AC_SRC_ALPHA}));
      gt::ExpectPixels(dst, e0, "per-pixel ca " + std::to_string(ca) + " fmt " + std::to_string(int(df)));
      const auto e1 = ModelAlpha(dst, 0, 1, n, 1, src, 0, 0, n, 1, ca, false, kEverywhere);
      ASSERT_TRUE(AlphaBlend(dst.dc(), 0, 1, n, 1, src.dc(), 0, 0, n, 1, BlendFunc{AC_SRC_OVER, 0, uint8_t(ca), 0}));
      gt::ExpectPixels(dst, e1, "constant ca " + std::to_string(ca) + " fmt " + std::to_string(int(df)));
    }
  }
}

// The two ends of the formula, for every 16-bit destination value.
TEST(GdiBlit, AlphaBlendEndsAreExactOn565) {
  Dib dst(Fmt::R565, 256, 256), src(Fmt::Bgra, 1, 1);
  for (int v = 0; v < 65536; ++v) dst.Set(v % 256, v / 256, uint32_t(v));
  const std::vector<uint32_t> all = dst.Pixels();
  src.Set(0, 0, 0x00000000);
  ASSERT_TRUE(AlphaBlend(dst.dc(), 0, 0, 256, 256, src.dc(), 0, 0, 1, 1, BlendFunc{}));
  gt::ExpectPixels(dst, all, "transparent source leaves every value");
  src.Set(0, 0, 0xFF9C6B21);
  ASSERT_TRUE(AlphaBlend(dst.dc(), 0, 0, 256, 256, src.dc(), 0, 0, 1, 1, BlendFunc{}));
  gt::ExpectPixels(dst, std::vector<uint32_t>(65536, gt::Pack(Fmt::R565, {0x9C, 0x6B, 0x21, 255})),
                   "opaque source is its 565 packing");
}

TEST(GdiBlit, AlphaBlendStretchesAndClipsLikeStretchBlt) {
  Dib src(Fmt::Bgra, 5, 4, false);
  src.Pattern(21);
  // With every alpha at 255 a blend is a copy, so both calls must agree.
  Dib opaque(Fmt::Bgra, 5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) opaque.Set(x, y, src.Get(x, y) | 0xFF000000u);
  Dib viaBlend(Fmt::R565, 11, 9), viaStretch(Fmt::R565, 11, 9);
  viaBlend.Pattern(2);
  viaStretch.Load(viaBlend.Pixels());
  for (HDC dc : {viaBlend.dc(), viaStretch.dc()}) ExcludeClipRect(dc, 4, 0, 6, 9);
  ASSERT_TRUE(AlphaBlend(viaBlend.dc(), -1, 1, 13, 7, opaque.dc(), 1, 0, 4, 4, BlendFunc{}));
  ASSERT_TRUE(StretchBlt(viaStretch.dc(), -1, 1, 13, 7, opaque.dc(), 1, 0, 4, 4, SRCCOPY));
  gt::ExpectPixels(viaBlend, viaStretch.Pixels(), "blend of opaque = stretch");
  // And with real alpha, the model.
  Dib dst(Fmt::Bgra, 11, 9);
  dst.Pattern(8);
  ExcludeClipRect(dst.dc(), 0, 3, 11, 5);
  const ClipFn band = [](int, int y) { return y < 3 || y >= 5; };
  const auto expected = ModelAlpha(dst, 2, 0, 9, 9, src, 0, 1, 5, 3, 200, true, band);
  ASSERT_TRUE(AlphaBlend(dst.dc(), 2, 0, 9, 9, src.dc(), 0, 1, 5, 3, BlendFunc{AC_SRC_OVER, 0, 200, AC_SRC_ALPHA}));
  gt::ExpectPixels(dst, expected, "stretched blend");
}

// Every (channel, alpha) pair of a source pixel, colours above their alpha
// included, over destinations that step through the 8-bit range (32-bit) or
// take every 5- and 6-bit level (16-bit), with and without constant alpha.
TEST(GdiBlit, AlphaBlendMatchesTheFormulaForEveryChannelAndAlpha) {
  Dib src(Fmt::Bgra, 256, 256);
  for (int a = 0; a < 256; ++a)
    for (int c = 0; c < 256; ++c)
      src.Set(c, a, uint32_t(a) << 24 | uint32_t(255 - c) << 16 | uint32_t((c * 37) & 255) << 8 | uint32_t(c));
  auto sweep = [&](Fmt df, uint32_t fill, int ca, bool perPixel) {
    Dib dst(df, 256, 256);
    dst.Load(std::vector<uint32_t>(65536, fill));
    std::vector<uint32_t> expected(65536);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x)
        expected[size_t(y) * 256 + x] = ModelBlendPixel(df, fill, Fmt::Bgra, src.Get(x, y), ca, perPixel);
    ASSERT_TRUE(AlphaBlend(dst.dc(), 0, 0, 256, 256, src.dc(), 0, 0, 256, 256,
                           BlendFunc{AC_SRC_OVER, 0, uint8_t(ca), uint8_t(perPixel ? AC_SRC_ALPHA : 0)}));
    gt::ExpectPixels(dst, expected,
                     "fmt " + std::to_string(int(df)) + " under " + std::to_string(fill) + " ca " + std::to_string(ca));
  };
  for (uint32_t d = 0; d < 256; d += 5) {
    sweep(Fmt::Bgra, (255 - d) << 24 | d << 16 | (d ^ 0x5A) << 8 | (255 - d), 255, true);
  }
  for (uint32_t level = 0; level < 64; ++level) {
    sweep(Fmt::R565, (level >> 1) << 11 | level << 5 | (31 - (level >> 1)), 255, true);
    sweep(Fmt::R555, (level >> 1) << 10 | (31 - (level >> 1)) << 5 | (level >> 1), 255, true);
  }
  for (int ca = 0; ca < 255; ca += 3) {
    sweep(Fmt::Bgra, 0x80C03F10u + uint32_t(ca), ca, true);
    sweep(Fmt::R565, 0x7BEFu ^ uint32_t(ca * 257), ca, ca % 2 == 0);
  }
}

// Whole frames of random pixels through every blit, scaled by exact and
// inexact ratios, through a clip with holes: the composited result equals the
// model pixel for pixel.
TEST(GdiBlit, BlitsMatchTheModelOnRandomFrames) {
  uint32_t seed = 12345;
  auto next = [&seed](int n) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 8) % uint32_t(n));
  };
  struct Scale {
    int sw, sh, w, h;
  };
  const Scale scales[] = {{48, 40, 48, 40}, {24, 20, 48, 40}, {48, 40, 24, 20}, {16, 10, 48, 40},
                          {48, 40, 31, 17}, {30, 33, 48, 40}, {7, 40, 48, 5}};
  for (Fmt df : kFormats)
    for (Fmt sf : kFormats) {
      Dib dst(df, 48, 40, next(2) == 0), src(sf, 48, 40, next(2) == 0);
      ExcludeClipRect(dst.dc(), 10, 5, 20, 12);
      ExcludeClipRect(dst.dc(), 0, 30, 3, 40);
      const ClipFn clip = [](int x, int y) {
        return !(x >= 10 && x < 20 && y >= 5 && y < 12) && !(x < 3 && y >= 30);
      };
      for (const Scale& sc : scales) {
        src.Pattern(uint32_t(next(1000)));
        const int x = next(9) - 4, y = next(9) - 4, sx = next(48 - sc.sw + 1), sy = next(40 - sc.sh + 1);
        const std::string what = std::to_string(int(sf)) + "->" + std::to_string(int(df)) + " " +
                                 std::to_string(sc.sw) + "x" + std::to_string(sc.sh) + "->" + std::to_string(sc.w) +
                                 "x" + std::to_string(sc.h);
        dst.Pattern(uint32_t(next(1000)));
        auto expected = ModelBitBlt(dst, x, y, sc.w, sc.h, src, sx - 3, sy + 2, clip);
        ASSERT_TRUE(BitBlt(dst.dc(), x, y, sc.w, sc.h, src.dc(), sx - 3, sy + 2, SRCCOPY));
        gt::ExpectPixels(dst, expected, "bitblt " + what);
        expected = ModelStretch(dst, x, y, sc.w, sc.h, src, sx - 2, sy - 1, sc.sw, sc.sh, clip);
        ASSERT_TRUE(StretchBlt(dst.dc(), x, y, sc.w, sc.h, src.dc(), sx - 2, sy - 1, sc.sw, sc.sh, SRCCOPY));
        gt::ExpectPixels(dst, expected, "stretch " + what);
        const int ca = next(3) == 0 ? 255 : next(256);
        const bool perPixel = sf == Fmt::Bgra && next(4) != 0;
        expected = ModelAlpha(dst, x, y, sc.w, sc.h, src, sx, sy, sc.sw, sc.sh, ca, perPixel, clip);
        ASSERT_TRUE(AlphaBlend(dst.dc(), x, y, sc.w, sc.h, src.dc(), sx, sy, sc.sw, sc.sh,
                               BlendFunc{AC_SRC_OVER, 0, uint8_t(ca), uint8_t(perPixel ? AC_SRC_ALPHA : 0)}));
        gt::ExpectPixels(dst, expected, "blend ca " + std::to_string(ca) + " " + what);
      }
    }
}

// Every pair of source and destination spans up to 40 pixels, one row
// tall, each way: the sample of every pixel follows the rule, whichever way
// the blit gets there.
TEST(GdiBlit, StretchSamplesFollowTheRuleAtEveryScale) {
  for (Fmt df : {Fmt::R565, Fmt::Bgra}) {
    const Fmt sf = df == Fmt::R565 ? Fmt::Bgra : Fmt::R565;  // a conversion as well
    Dib src(sf, 40, 40), dst(df, 40, 40);
    src.Pattern(77);
    for (int sw = 1; sw <= 40; ++sw)
      for (int w = 1; w <= 40; ++w) {
        dst.Pattern(uint32_t(sw * 41 + w));
        auto expected = ModelStretch(dst, 0, 0, w, 1, src, 40 - sw, 3, sw, 1, kEverywhere);
        ASSERT_TRUE(StretchBlt(dst.dc(), 0, 0, w, 1, src.dc(), 40 - sw, 3, sw, 1, SRCCOPY));
        expected = ModelStretch(dst, 5, 0, 1, w, src, 2, 40 - sw, 1, sw, kEverywhere);
        ASSERT_TRUE(StretchBlt(dst.dc(), 5, 0, 1, w, src.dc(), 2, 40 - sw, 1, sw, SRCCOPY));
        gt::ExpectPixels(dst, expected, std::to_string(sw) + "->" + std::to_string(w));
      }
  }
}

TEST(GdiBlit, AlphaBlendRefusesWhatItCannotDo) {
  Dib dst(Fmt::R565, 6, 6), src(Fmt::Bgra, 4, 4), src16(Fmt::R565, 4, 4);
  dst.Pattern(1);
  src.Pattern(2);
  const std::vector<uint32_t> before = dst.Pixels();
  struct Case {
    const char* what;
    HDC source;
    int sx, sy, sw, sh, w;
    BlendFunc blend;
  };
  const Case cases[] = {
      {"source reaches right", src.dc(), 1, 0, 4, 4, 4, BlendFunc{}},
      {"source starts left", src.dc(), -1, 0, 2, 2, 4, BlendFunc{}},
      {"source reaches below", src.dc(), 0, 2, 2, 3, 4, BlendFunc{}},
      {"negative source width", src.dc(), 3, 0, -2, 2, 4, BlendFunc{}},
      {"negative width", src.dc(), 0, 0, 2, 2, -4, BlendFunc{}},
      {"per-pixel alpha of 16 bits", src16.dc(), 0, 0, 4, 4, 4, BlendFunc{}},
      {"blend op", src.dc(), 0, 0, 4, 4, 4, BlendFunc{1, 0, 255, AC_SRC_ALPHA}},
      {"blend flags", src.dc(), 0, 0, 4, 4, 4, BlendFunc{0, 2, 255, AC_SRC_ALPHA}},
      {"alpha format", src.dc(), 0, 0, 4, 4, 4, BlendFunc{0, 0, 255, 2}},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(AlphaBlend(dst.dc(), 0, 0, c.w, 4, c.source, c.sx, c.sy, c.sw, c.sh, c.blend)) << c.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
  }
  gt::ExpectPixels(dst, before, "unchanged");
  EXPECT_TRUE(AlphaBlend(dst.dc(), 0, 0, 4, 4, src16.dc(), 0, 0, 4, 4, BlendFunc{0, 0, 128, 0}))
      << "a 16-bit source with constant alpha only";
}

TEST(GdiBlit, FillsAndRectanglesUseBrushAndPen) {
  Dib d(Fmt::Bgra, 10, 8);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  HPEN green = CreatePen(PS_SOLID, 0, RGB(0, 255, 0));
  HPEN wide = CreatePen(PS_SOLID, 2, RGB(255, 0, 0));
  constexpr uint32_t kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kRed = 0xFFFF0000, kPaper = 0x11223344;
  auto paint = [&](auto&& fn) {
    std::vector<uint32_t> px(80, kPaper);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) px[size_t(y) * 10 + x] = fn(x, y);
    return px;
  };
  auto box = [](int x, int y, int l, int t, int r, int b) { return x >= l && x < r && y >= t && y < b; };

  d.Load(std::vector<uint32_t>(80, kPaper));
  EXPECT_EQ(FillRect(d.dc(), {-2, 6, 3, 20}, blue), 1);
  gt::ExpectPixels(d, paint([&](int x, int y) { return box(x, y, 0, 6, 3, 8) ? kBlue : kPaper; }), "fill");
  EXPECT_EQ(FillRect(d.dc(), {5, 5, 2, 9}, blue), 1) << "an inverted rectangle fills nothing";
  EXPECT_EQ(FillRect(d.dc(), {0, 0, 10, 8}, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))), 1);
  gt::ExpectPixels(d, paint([&](int x, int y) { return box(x, y, 0, 6, 3, 8) ? kBlue : kPaper; }), "no-ops");

  d.Load(std::vector<uint32_t>(80, kPaper));
  SelectObject(d.dc(), blue);
  SelectObject(d.dc(), green);
  EXPECT_TRUE(Rectangle(d.dc(), 7, 6, 1, 1));
  gt::ExpectPixels(d, paint([&](int x, int y) {
                     if (!box(x, y, 1, 1, 7, 6)) return kPaper;
                     return box(x, y, 2, 2, 6, 5) ? kBlue : kGreen;
                   }),
                   "outline and inside");

  d.Load(std::vector<uint32_t>(80, kPaper));
  SelectObject(d.dc(), GetStockObject(NULL_PEN));
  EXPECT_TRUE(Rectangle(d.dc(), 1, 1, 7, 6));
  gt::ExpectPixels(d, paint([&](int x, int y) { return box(x, y, 1, 1, 7, 6) ? kBlue : kPaper; }),
                   "null pen: the brush covers all of it");

  d.Load(std::vector<uint32_t>(80, kPaper));
  SelectObject(d.dc(), wide);
  SelectObject(d.dc(), GetStockObject(NULL_BRUSH));
  EXPECT_TRUE(Rectangle(d.dc(), 0, 0, 9, 7));
  gt::ExpectPixels(d, paint([&](int x, int y) {
                     if (!box(x, y, 0, 0, 9, 7)) return kPaper;
                     return box(x, y, 2, 2, 7, 5) ? kPaper : kRed;
                   }),
                   "wide pen inside the edge, null brush");

  d.Load(std::vector<uint32_t>(80, kPaper));
  EXPECT_TRUE(Rectangle(d.dc(), 4, 4, 5, 5));
  EXPECT_TRUE(Rectangle(d.dc(), 6, 6, 6, 9)) << "empty";
  gt::ExpectPixels(d, paint([&](int x, int y) { return box(x, y, 4, 4, 5, 5) ? kRed : kPaper; }), "one pixel");

  SetLastError(0);
  EXPECT_EQ(CreatePen(2 /* dashes */, 1, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SelectObject(d.dc(), GetStockObject(WHITE_BRUSH));
  SelectObject(d.dc(), GetStockObject(BLACK_PEN));
  DeleteObject(blue);
  DeleteObject(green);
  DeleteObject(wide);
}

}  // namespace
