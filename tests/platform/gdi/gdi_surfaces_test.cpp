// Bitmaps, DCs and handles: DIB layouts and their memory order, the pixel
// conversion rules, DC defaults, selection rules, stale handles and device
// capabilities.
#include <gtest/gtest.h>

#include "GdiTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/display/Display.h"

using namespace plat;
using gt::Dib;
using gt::Fmt;

namespace {

TEST(GdiSurfaces, DibLayoutsPadRowsAndKeepTheirMemoryOrder) {
  struct Case {
    Fmt fmt;
    bool bitfields;
    bool topDown;
    int width;
  };
  const Case cases[] = {
      {Fmt::R565, true, false, 3}, {Fmt::R565, true, true, 1},  {Fmt::R555, false, false, 5},
      {Fmt::R555, true, true, 2},  {Fmt::Bgra, false, false, 3}, {Fmt::Bgra, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "fmt " << int(c.fmt) << " bitfields " << c.bitfields << " topDown "
                                      << c.topDown << " width " << c.width);
    const int height = 4;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, gt::InfoFor(c.fmt, c.width, height, c.topDown, c.bitfields),
                                   DIB_RGB_COLORS, &bits);
    ASSERT_NE(bmp, nullptr);
    ASSERT_NE(bits, nullptr);
    const int bpp = c.fmt == Fmt::Bgra ? 4 : 2;
    const int stride = (c.width * bpp + 3) / 4 * 4;
    BitmapDesc desc;
    ASSERT_EQ(GetObject(bmp, &desc), int(sizeof(BitmapDesc)));
    EXPECT_EQ(desc.width, c.width);
    EXPECT_EQ(desc.height, height);
    EXPECT_EQ(desc.widthBytes, stride);
    EXPECT_EQ(desc.bitsPixel, bpp * 8);
    EXPECT_EQ(desc.bits, bits);
    auto* bytes = static_cast<uint8_t*>(bits);
    for (int i = 0; i < stride * height; ++i) ASSERT_EQ(bytes[i], 0) << "new pixels are zero";

    // Mark the first pixel of the picture's top row in memory where the
    // orientation puts it, then read the picture back through a blit.
    const uint32_t mark = c.fmt == Fmt::Bgra ? 0x80FF4010u : c.fmt == Fmt::R565 ? 0xF81Fu : 0x7C1Fu;
    uint8_t* top = bytes + (c.topDown ? 0 : (height - 1) * stride);
    std::memcpy(top, &mark, bpp);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    Dib out(Fmt::Bgra, c.width, height);
    ASSERT_TRUE(BitBlt(out.dc(), 0, 0, c.width, height, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(out.Get(0, 0), gt::Convert(c.fmt, mark, Fmt::Bgra));
    EXPECT_EQ(out.Get(0, height - 1), gt::Convert(c.fmt, 0, Fmt::Bgra));
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(bmp));
  }
}

TEST(GdiSurfaces, UnsupportedLayoutsAreRefusedCleanly) {
  struct Case {
    const char* what;
    void (*change)(BitmapInfo&);
    uint32_t usage;
  };
  const Case cases[] = {
      {"24 bits", [](BitmapInfo& b) { b.header.bitCount = 24; }, DIB_RGB_COLORS},
      {"8 bits", [](BitmapInfo& b) { b.header.bitCount = 8; }, DIB_RGB_COLORS},
      {"16-bit masks of neither layout", [](BitmapInfo& b) { b.masks[1] = 0x0FE0; }, DIB_RGB_COLORS},
      {"32-bit RGBA masks", [](BitmapInfo& b) { b.header.bitCount = 32; b.masks[0] = 0xFF; }, DIB_RGB_COLORS},
      {"compression 1", [](BitmapInfo& b) { b.header.compression = 1; }, DIB_RGB_COLORS},
      {"width 0", [](BitmapInfo& b) { b.header.width = 0; }, DIB_RGB_COLORS},
      {"negative width", [](BitmapInfo& b) { b.header.width = -4; }, DIB_RGB_COLORS},
      {"height 0", [](BitmapInfo& b) { b.header.height = 0; }, DIB_RGB_COLORS},
      {"two planes", [](BitmapInfo& b) { b.header.planes = 2; }, DIB_RGB_COLORS},
      {"short header", [](BitmapInfo& b) { b.header.size = 12; }, DIB_RGB_COLORS},
      {"palette usage", [](BitmapInfo&) {}, 1},
      {"above 256 MB", [](BitmapInfo& b) { b.header.width = 100000; b.header.height = 2000; }, DIB_RGB_COLORS},
  };
  for (const Case& c : cases) {
    BitmapInfo bi = gt::InfoFor(Fmt::R565, 4, 4, false);
    c.change(bi);
    void* bits = reinterpret_cast<void*>(uintptr_t{0x1234});
    SetLastError(0);
    EXPECT_EQ(CreateDIBSection(nullptr, bi, c.usage, &bits), nullptr) << c.what;
    EXPECT_EQ(bits, nullptr) << c.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
  }
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, 0, 5), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, 5, -1), nullptr);
  HBITMAP compatible = CreateCompatibleBitmap(nullptr, 7, 3);
  BitmapDesc desc;
  ASSERT_EQ(GetObject(compatible, &desc), int(sizeof(BitmapDesc)));
  EXPECT_EQ(desc.bitsPixel, 16);
  EXPECT_EQ(desc.widthBytes, 16);
  EXPECT_EQ(desc.bits, nullptr) << "only DIB sections expose their memory";
  EXPECT_EQ(GetObject(compatible, nullptr), 0);
  DeleteObject(compatible);
}

// 565 and 555 widen by bit replication and narrow by truncation, so every
// 16-bit value survives a trip through 32 bits; 32 bits lose alpha and the
// low bits on the way to 16.
TEST(GdiSurfaces, ConversionRulesHoldForEveryValue) {
  for (Fmt narrow : {Fmt::R565, Fmt::R555}) {
    const int count = narrow == Fmt::R565 ? 65536 : 32768;
    Dib src(narrow, 256, count / 256), wide(Fmt::Bgra, 256, count / 256), back(narrow, 256, count / 256);
    for (int v = 0; v < count; ++v) src.Set(v % 256, v / 256, uint32_t(v));
    ASSERT_TRUE(BitBlt(wide.dc(), 0, 0, 256, count / 256, src.dc(), 0, 0, SRCCOPY));
    ASSERT_TRUE(BitBlt(back.dc(), 0, 0, 256, count / 256, wide.dc(), 0, 0, SRCCOPY));
    std::vector<uint32_t> widened;
    for (int v = 0; v < count; ++v) widened.push_back(gt::Convert(narrow, uint32_t(v), Fmt::Bgra));
    gt::ExpectPixels(wide, widened, narrow == Fmt::R565 ? "565 widened" : "555 widened");
    gt::ExpectPixels(back, src.Pixels(), "narrowed back");
  }
  // Spot values of the rules themselves.
  Dib one(Fmt::R565, 1, 1), wide(Fmt::Bgra, 1, 1);
  struct Spot {
    uint32_t in565;
    uint32_t bgra;
  };
  for (Spot s : {Spot{0xFFFF, 0xFFFFFFFF}, Spot{0x0000, 0xFF000000}, Spot{0x8410, 0xFF848284},
                 Spot{0x0821, 0xFF080408}}) {
    one.Set(0, 0, s.in565);
    BitBlt(wide.dc(), 0, 0, 1, 1, one.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(wide.Get(0, 0), s.bgra) << std::hex << s.in565;
  }
  for (Spot s : {Spot{0x0000, 0x00070307}, Spot{0xFFFF, 0x00F8FCF8}, Spot{0x0861, 0x7F0F0F0F},
                 Spot{0xF800, 0xFFFF0307}}) {
    wide.Set(0, 0, s.bgra);
    BitBlt(one.dc(), 0, 0, 1, 1, wide.dc(), 0, 0, SRCCOPY);
    EXPECT_EQ(one.Get(0, 0), s.in565) << std::hex << s.bgra;
  }
}

TEST(GdiSurfaces, MemoryDcStartsWithTheDefaults) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
  EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  EXPECT_EQ(GetStretchBltMode(dc), BLACKONWHITE);
  Rect box;
  EXPECT_EQ(GetClipBox(dc, &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 0, 1, 1})) << "a 1x1 bitmap to start with";

  HBITMAP bmp = CreateCompatibleBitmap(dc, 4, 4);
  auto firstBitmap = static_cast<HBITMAP>(SelectObject(dc, bmp));
  BitmapDesc desc;
  ASSERT_EQ(GetObject(firstBitmap, &desc), int(sizeof(BitmapDesc)));
  EXPECT_EQ(desc.width, 1);
  EXPECT_EQ(desc.height, 1);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  HPEN pen = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
  EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
  EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_BRUSH)), brush);
  EXPECT_EQ(SelectObject(dc, firstBitmap), bmp);

  // Setters hand back what they replace; bad values change nothing.
  EXPECT_EQ(SetTextColor(dc, 0xFF123456), RGB(0, 0, 0));
  EXPECT_EQ(GetTextColor(dc), 0x00123456u) << "the high byte is not kept";
  EXPECT_EQ(SetBkMode(dc, 7), 0);
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), BLACKONWHITE);
  EXPECT_EQ(SetStretchBltMode(dc, 9), 0);
  EXPECT_EQ(GetStretchBltMode(dc), COLORONCOLOR);

  DeleteDC(dc);
  DeleteObject(bmp);
  DeleteObject(brush);
  DeleteObject(pen);
}

TEST(GdiSurfaces, ABitmapLivesInOneDcAtATime) {
  HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(a, 2, 2);
  HGDIOBJ aOld = SelectObject(a, bmp);
  ASSERT_NE(aOld, nullptr);
  EXPECT_EQ(SelectObject(a, bmp), bmp) << "selecting it again into the same DC is fine";
  SetLastError(0);
  EXPECT_EQ(SelectObject(b, bmp), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Rect box;
  GetClipBox(b, &box);
  EXPECT_EQ(box.Width(), 1) << "b keeps its own bitmap";
  SelectObject(a, aOld);
  EXPECT_NE(SelectObject(b, bmp), nullptr) << "free again once a let go";
  EXPECT_TRUE(DeleteDC(b));
  EXPECT_NE(SelectObject(a, bmp), nullptr) << "deleting a DC frees its bitmap";
  // The stock first bitmap may sit in any number of DCs.
  HDC c = CreateCompatibleDC(nullptr);
  EXPECT_NE(SelectObject(c, aOld), nullptr);
  DeleteDC(a);
  DeleteDC(c);
  DeleteObject(bmp);
}

TEST(GdiSurfaces, HandlesAreCheckedNotTrusted) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBRUSH first = CreateSolidBrush(RGB(9, 9, 9));
  ASSERT_TRUE(DeleteObject(first));
  EXPECT_FALSE(DeleteObject(first)) << "a second delete";
  HBRUSH second = CreateSolidBrush(RGB(9, 9, 9));
  EXPECT_NE(second, first) << "a reused slot carries a new generation";
  SetLastError(0);
  EXPECT_EQ(SelectObject(dc, first), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(FillRect(dc, {0, 0, 1, 1}, first), 0);
  // Wrong kinds: a DC is no GDI object, a brush is no region.
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(dc)));
  EXPECT_EQ(SelectClipRgn(dc, reinterpret_cast<HRGN>(second)), RGN_ERROR);
  EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(uintptr_t{0x12345670})), nullptr);
  EXPECT_EQ(SelectObject(dc, HGDI_ERROR), nullptr);
  EXPECT_FALSE(DeleteObject(nullptr));
  // Stock objects survive deletion.
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(FillRect(dc, {0, 0, 1, 1}, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 1);
  EXPECT_EQ(GetStockObject(42), nullptr);
  // A DC that is gone.
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(dc));
  EXPECT_EQ(GetTextColor(dc), CLR_INVALID);
  EXPECT_EQ(CreateCompatibleDC(dc), nullptr);
  DeleteObject(second);
}

// Deleting what a DC still uses must not pull the pixels out from under it.
TEST(GdiSurfaces, DeletingSelectedObjectsKeepsTheDcWorking) {
  Dib target(Fmt::R565, 4, 4);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(dc, 4, 4);
  HGDIOBJ old = SelectObject(dc, bmp);
  HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
  SelectObject(dc, brush);
  SelectObject(dc, GetStockObject(NULL_PEN));
  ASSERT_TRUE(DeleteObject(bmp));
  ASSERT_TRUE(DeleteObject(brush));
  EXPECT_EQ(GetObject(bmp, nullptr), 0);
  EXPECT_TRUE(Rectangle(dc, 0, 0, 4, 4));
  EXPECT_TRUE(BitBlt(target.dc(), 0, 0, 4, 4, dc, 0, 0, SRCCOPY));
  EXPECT_EQ(target.Get(3, 3), 0xF800u) << "drawn with the deleted brush into the deleted bitmap";
  EXPECT_EQ(SelectObject(dc, old), bmp) << "hands back the dead handle of the bitmap it replaced";
  EXPECT_EQ(SelectObject(dc, bmp), nullptr) << "which selects nothing";
  DeleteDC(dc);
}

TEST(GdiSurfaces, DeviceCapsDescribeTheDisplay) {
  HDC dc = CreateCompatibleDC(nullptr);
  const DisplayConfig config = CurrentDisplayConfig();
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), int(config.dpi));
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), int(config.dpi));
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), ScreenSize().cx);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), ScreenSize().cy);
  EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 16);
  EXPECT_EQ(GetDeviceCaps(dc, PLANES), 1);
  EXPECT_EQ(GetDeviceCaps(dc, 12345), 0);
  DeleteDC(dc);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 0);
}

}  // namespace
