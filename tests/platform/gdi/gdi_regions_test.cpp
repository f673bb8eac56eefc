// Regions against a pixel-set model, their banded form, and clipping on DCs.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "GdiTestUtil.h"
#include "platform/base/Errors.h"

using namespace plat;
using gt::Dib;
using gt::Fmt;

namespace {

constexpr int kLo = -8, kHi = 40;

bool Inside(const std::vector<Rect>& rects, int x, int y) {
  for (const Rect& r : rects)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

// The banded form: non-empty rectangles sorted by top then left; one band
// shares top and bottom; spans in a band neither overlap nor touch; bands do
// not overlap, and two touching bands never have the same spans.
void ExpectBanded(const std::vector<Rect>& rects) {
  for (size_t i = 0; i < rects.size(); ++i) {
    ASSERT_FALSE(rects[i].IsEmpty()) << i;
    if (i == 0) continue;
    const Rect& p = rects[i - 1];
    const Rect& r = rects[i];
    if (r.top == p.top) {
      EXPECT_EQ(r.bottom, p.bottom) << "band " << r.top;
      EXPECT_GT(r.left, p.right) << "spans must neither overlap nor touch";
    } else {
      EXPECT_GE(r.top, p.bottom) << "bands overlap";
    }
  }
  // Group into bands and compare neighbours.
  std::vector<std::pair<Rect, std::vector<std::pair<int, int>>>> bands;
  for (const Rect& r : rects) {
    if (bands.empty() || bands.back().first.top != r.top) bands.push_back({r, {}});
    bands.back().second.push_back({r.left, r.right});
  }
  for (size_t i = 1; i < bands.size(); ++i) {
    if (bands[i].first.top == bands[i - 1].first.bottom) {
      EXPECT_NE(bands[i].second, bands[i - 1].second) << "touching bands with equal spans were not merged";
    }
  }
}

HRGN RandomRegion(std::mt19937& rng, std::vector<Rect>& model) {
  std::uniform_int_distribution<int> coord(-5, 34), count(0, 5);
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  const int n = count(rng);
  for (int i = 0; i < n; ++i) {
    Rect r{coord(rng), coord(rng), coord(rng), coord(rng)};
    HRGN part = CreateRectRgn(r.left, r.top, r.right, r.bottom);  // swapped edges are put in order
    model.push_back({std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
                     std::max(r.top, r.bottom)});
    CombineRgn(rgn, rgn, part, RGN_OR);
    DeleteObject(part);
  }
  return rgn;
}

TEST(GdiRegions, CombineMatchesThePixelModelInBandedForm) {
  std::mt19937 rng(20240611);
  struct Op {
    int mode;
    std::function<bool(bool, bool)> keep;
  };
  const Op ops[] = {{RGN_AND, [](bool a, bool b) { return a && b; }},
                    {RGN_OR, [](bool a, bool b) { return a || b; }},
                    {RGN_DIFF, [](bool a, bool b) { return a && !b; }},
                    {RGN_COPY, [](bool a, bool) { return a; }}};
  for (int round = 0; round < 150; ++round) {
    std::vector<Rect> ma, mb;
    HRGN a = RandomRegion(rng, ma), b = RandomRegion(rng, mb);
    for (const Op& op : ops) {
      SCOPED_TRACE(::testing::Message() << "round " << round << " mode " << op.mode);
      HRGN dst = CreateRectRgn(1, 1, 2, 2);
      const int complexity = CombineRgn(dst, a, b, op.mode);
      const std::vector<Rect> rects = GetRegionRects(dst);
      ExpectBanded(rects);
      EXPECT_EQ(complexity, rects.empty() ? NULLREGION : rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION);
      for (int y = kLo; y < kHi; ++y)
        for (int x = kLo; x < kHi; ++x)
          ASSERT_EQ(Inside(rects, x, y), op.keep(Inside(ma, x, y), Inside(mb, x, y))) << x << "," << y;
      // The same pixels always give the same rectangles: OR either way round,
      // and a destination that is also a source.
      if (op.mode == RGN_OR) {
        HRGN swapped = CreateRectRgn(0, 0, 0, 0);
        CombineRgn(swapped, b, a, RGN_OR);
        EXPECT_EQ(GetRegionRects(swapped), rects);
        DeleteObject(swapped);
      }
      HRGN self = CreateRectRgn(0, 0, 0, 0);
      CombineRgn(self, a, a, RGN_COPY);
      CombineRgn(self, self, b, op.mode);
      EXPECT_EQ(GetRegionRects(self), rects);
      DeleteObject(self);
      DeleteObject(dst);
    }
    // Offsetting moves every pixel.
    std::vector<Rect> before = GetRegionRects(a);
    EXPECT_EQ(OffsetRgn(a, 3, -2), before.empty() ? NULLREGION : before.size() == 1 ? SIMPLEREGION : COMPLEXREGION);
    const std::vector<Rect> after = GetRegionRects(a);
    for (int y = kLo; y < kHi; ++y)
      for (int x = kLo; x < kHi; ++x) ASSERT_EQ(Inside(after, x + 3, y - 2), Inside(before, x, y));
    DeleteObject(a);
    DeleteObject(b);
  }
}

TEST(GdiRegions, BoxesComplexityAndBadCalls) {
  HRGN r = CreateRectRgn(10, 20, 0, 5);
  Rect box;
  EXPECT_EQ(GetRgnBox(r, &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 5, 10, 20}));
  HRGN hole = CreateRectRgn(4, 8, 6, 10);
  EXPECT_EQ(CombineRgn(r, r, hole, RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(GetRgnBox(r, &box), COMPLEXREGION);
  EXPECT_EQ(box, (Rect{0, 5, 10, 20})) << "a hole leaves the box";
  EXPECT_EQ(GetRegionRects(r).size(), 4u) << "above, left of, right of and below the hole";
  const std::vector<Rect> kept = GetRegionRects(r);
  EXPECT_EQ(CombineRgn(r, r, hole, 3), RGN_ERROR) << "exclusive or is not offered";
  EXPECT_EQ(CombineRgn(r, r, reinterpret_cast<HRGN>(uintptr_t{0x55}), RGN_AND), RGN_ERROR);
  EXPECT_EQ(GetRegionRects(r), kept) << "a failed combine leaves the destination";
  HRGN empty = CreateRectRgn(3, 3, 3, 9);
  EXPECT_EQ(GetRgnBox(empty, &box), NULLREGION);
  EXPECT_EQ(box, Rect{});
  EXPECT_EQ(CombineRgn(r, r, empty, RGN_AND), NULLREGION);
  EXPECT_EQ(GetRgnBox(r, nullptr), RGN_ERROR);
  DeleteObject(hole);
  EXPECT_EQ(GetRgnBox(hole, &box), RGN_ERROR);
  EXPECT_TRUE(GetRegionRects(hole).empty());
  // Far offsets saturate instead of wrapping.
  HRGN far = CreateRectRgn(0, 0, 10, 10);
  OffsetRgn(far, INT32_MAX, 0);
  OffsetRgn(far, INT32_MAX, 0);
  for (const Rect& rect : GetRegionRects(far)) EXPECT_GT(rect.left, 0);
  DeleteObject(far);
  DeleteObject(r);
  DeleteObject(empty);
}

// Fills through a clip against a model of which pixels it lets through.
TEST(GdiRegions, ClipRegionsLimitDrawing) {
  Dib d(Fmt::R565, 12, 10);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  Rect box;
  EXPECT_EQ(GetClipBox(d.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 0, 12, 10}));

  auto expectFill = [&](const std::string& step, const std::function<bool(int, int)>& inClip) {
    d.Load(std::vector<uint32_t>(120, 0x1234));
    FillRect(d.dc(), {-5, -5, 50, 50}, red);
    std::vector<uint32_t> expected;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) expected.push_back(inClip(x, y) ? 0xF800u : 0x1234u);
    gt::ExpectPixels(d, expected, step);
  };

  EXPECT_EQ(ExcludeClipRect(d.dc(), 3, 2, 6, 5), COMPLEXREGION);
  EXPECT_EQ(GetClipBox(d.dc(), &box), COMPLEXREGION);
  EXPECT_EQ(box, (Rect{0, 0, 12, 10}));
  expectFill("exclude", [](int x, int y) { return !(x >= 3 && x < 6 && y >= 2 && y < 5); });

  EXPECT_EQ(IntersectClipRect(d.dc(), 8, 9, 2, 1), COMPLEXREGION) << "swapped edges are put in order";
  EXPECT_EQ(GetClipBox(d.dc(), &box), COMPLEXREGION);
  EXPECT_EQ(box, (Rect{2, 1, 8, 9}));
  expectFill("intersect", [](int x, int y) {
    return x >= 2 && x < 8 && y >= 1 && y < 9 && !(x >= 3 && x < 6 && y >= 2 && y < 5);
  });

  // A selected region is copied: changing it later changes nothing.
  HRGN big = CreateRectRgn(-100, 4, 100, 6);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(SelectObject(d.dc(), big)), uintptr_t(SIMPLEREGION));
  OffsetRgn(big, 0, 3);
  EXPECT_EQ(GetClipBox(d.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 4, 12, 6})) << "cut to the bitmap";
  expectFill("selected", [](int, int y) { return y >= 4 && y < 6; });

  // A smaller bitmap cuts the same clip further.
  HBITMAP small = CreateCompatibleBitmap(d.dc(), 5, 5);
  HGDIOBJ dib = SelectObject(d.dc(), small);
  EXPECT_EQ(GetClipBox(d.dc(), &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 4, 5, 5}));
  SelectObject(d.dc(), dib);
  DeleteObject(small);

  HRGN none = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(SelectClipRgn(d.dc(), none), NULLREGION);
  EXPECT_EQ(GetClipBox(d.dc(), &box), NULLREGION);
  expectFill("empty clip", [](int, int) { return false; });

  EXPECT_EQ(SelectClipRgn(d.dc(), nullptr), SIMPLEREGION);
  expectFill("no clip", [](int, int) { return true; });
  EXPECT_EQ(GetClipBox(d.dc(), nullptr), RGN_ERROR);
  EXPECT_EQ(SelectClipRgn(d.dc(), reinterpret_cast<HRGN>(red)), RGN_ERROR);

  DeleteObject(big);
  DeleteObject(none);
  DeleteObject(red);
}

}  // namespace
