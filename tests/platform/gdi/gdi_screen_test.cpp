// The screen and window DCs over the one framebuffer: drawing lands on the
// screen where the window is, within its ancestors; reading back reads the
// screen; changes are reported to the display; BeginPaint's DC reaches only
// the area being painted; the DPI works before main.
#include <gtest/gtest.h>

#include "GdiTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/testing/TestPlatform.h"
#include "platform/ui/Ui.h"

using namespace plat;

namespace {

// What the toolkit does during static initialisation.
struct EarlyDpi {
  bool gotDc = false;
  int dpi = 0;
  EarlyDpi() {
    HDC dc = GetDC(nullptr);
    gotDc = dc != nullptr;
    dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
  }
};
const EarlyDpi kEarly;

TEST(GdiScreen, TheDpiIsThereBeforeMain) {
  EXPECT_TRUE(kEarly.gotDc);
  EXPECT_EQ(kEarly.dpi, 192);
}

constexpr uint16_t kRed = 0xF800, kBlue = 0x001F;

class GdiScreenTest : public ::testing::Test {
 protected:
  GdiScreenTest() {
    WndClass cls;
    cls.proc = &GdiScreenTest::Proc;
    cls.name = u"Plain";
    RegisterClass(cls);
    cls.name = u"Red";
    cls.background = m_redBrush;
    RegisterClass(cls);
    ScreenFrameBuffer().Fill(0);
    ScreenFrameBuffer().TakeDamage();
  }
  ~GdiScreenTest() override {
    DeleteObject(m_redBrush);
    DeleteObject(m_blueBrush);
    s_paint = nullptr;
  }

  HWND Window(HWND parent, Rect r, bool visible = true, const char16_t* cls = u"Plain") {
    return CreateWindowEx(0, cls, u"", (visible ? WS_VISIBLE : 0) | (parent ? WS_CHILD : 0), r.left, r.top,
                          r.Width(), r.Height(), parent, 0, nullptr, nullptr);
  }
  // The screen with `rect` in `colour` on black.
  static std::vector<uint16_t> Expected(const std::vector<std::pair<Rect, uint16_t>>& rects) {
    const FrameBuffer& fb = ScreenFrameBuffer();
    std::vector<uint16_t> px(size_t(fb.Width()) * fb.Height(), 0);
    for (const auto& [r, c] : rects)
      for (int y = std::max(0, r.top); y < std::min(fb.Height(), r.bottom); ++y)
        for (int x = std::max(0, r.left); x < std::min(fb.Width(), r.right); ++x) px[size_t(y) * fb.Width() + x] = c;
    return px;
  }
  static void ExpectScreen(const std::vector<uint16_t>& expected, const std::string& step) {
    const FrameBuffer& fb = ScreenFrameBuffer();
    for (int y = 0; y < fb.Height(); ++y)
      for (int x = 0; x < fb.Width(); ++x)
        ASSERT_EQ(fb.Pixel(x, y), expected[size_t(y) * fb.Width() + x]) << step << " at " << x << "," << y;
  }

  static LRESULT Proc(HWND h, uint32_t msg, WPARAM w, LPARAM l) {
    if (msg == WM_PAINT && s_paint) {
      s_paint(h);
      return 0;
    }
    return DefWindowProc(h, msg, w, l);
  }

  TestPlatform m_platform;
  HBRUSH m_redBrush = CreateSolidBrush(RGB(255, 0, 0));
  HBRUSH m_blueBrush = CreateSolidBrush(RGB(0, 0, 255));
  static inline std::function<void(HWND)> s_paint;
};

TEST_F(GdiScreenTest, TheScreenDcDrawsOnTheFramebufferAndReportsIt) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  Rect box;
  EXPECT_EQ(GetClipBox(screen, &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 0, 480, 800}));
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 480);
  EXPECT_EQ(GetTextColor(screen), RGB(0, 0, 0));
  EXPECT_EQ(GetBkMode(screen), OPAQUE);
  EXPECT_EQ(FillRect(screen, {470, 20, 500, 40}, m_redBrush), 1);
  ExpectScreen(Expected({{{470, 20, 480, 40}, kRed}}), "fill");
  EXPECT_EQ(ScreenFrameBuffer().TakeDamage(), (Rect{470, 20, 480, 40}));
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
  EXPECT_EQ(SelectObject(screen, bitmap), nullptr) << "no bitmaps in a screen DC";
  DeleteObject(bitmap);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
  HDC memory = CreateCompatibleDC(nullptr);
  EXPECT_EQ(ReleaseDC(nullptr, memory), 0) << "memory DCs are deleted, not released";
  EXPECT_EQ(GetBkMode(memory), OPAQUE);
  DeleteDC(memory);
}

TEST_F(GdiScreenTest, ReadingBackReadsTheScreen) {
  FrameBuffer& fb = ScreenFrameBuffer();
  for (int y = 0; y < fb.Height(); ++y)
    for (int x = 0; x < fb.Width(); ++x) fb.Row(y)[x] = uint16_t(x * 31 + y * 7);
  HWND top = Window(nullptr, {0, 0, 480, 800});
  HWND child = Window(top, {50, 60, 90, 100});
  gt::Dib fromScreen(gt::Fmt::R565, 40, 40), fromWindow(gt::Fmt::Bgra, 40, 40);
  HDC screen = GetDC(nullptr), window = GetDC(child);
  ASSERT_TRUE(BitBlt(fromScreen.dc(), 0, 0, 40, 40, screen, 50, 60, SRCCOPY));
  ASSERT_TRUE(BitBlt(fromWindow.dc(), 0, 0, 40, 40, window, 0, 0, SRCCOPY));
  std::vector<uint32_t> expected16, expected32;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      expected16.push_back(fb.Pixel(50 + x, 60 + y));
      expected32.push_back(gt::Convert(gt::Fmt::R565, fb.Pixel(50 + x, 60 + y), gt::Fmt::Bgra));
    }
  gt::ExpectPixels(fromScreen, expected16, "screen");
  gt::ExpectPixels(fromWindow, expected32, "window");
  // A scroll on the screen reads before it writes.
  const uint16_t above = fb.Pixel(10, 10);
  ASSERT_TRUE(BitBlt(screen, 10, 11, 100, 100, screen, 10, 10, SRCCOPY));
  EXPECT_EQ(fb.Pixel(10, 11), above);
  ReleaseDC(nullptr, screen);
  ReleaseDC(child, window);
}

TEST_F(GdiScreenTest, AWindowDcIsPlacedAndClippedByItsAncestors) {
  HWND top = Window(nullptr, {0, 0, 480, 800});
  HWND parent = Window(top, {20, 30, 170, 130});
  HWND child = Window(parent, {100, 50, 200, 150});  // sticks out right and below
  HDC dc = GetDC(child);
  ASSERT_NE(dc, nullptr);
  Rect box;
  EXPECT_EQ(GetClipBox(dc, &box), SIMPLEREGION);
  EXPECT_EQ(box, (Rect{0, 0, 50, 50})) << "the part inside the parent, in the child's coordinates";
  EXPECT_EQ(FillRect(dc, {-100, -100, 1000, 1000}, m_redBrush), 1);
  ExpectScreen(Expected({{{120, 80, 170, 130}, kRed}}), "child within parent");
  EXPECT_EQ(ScreenFrameBuffer().TakeDamage(), (Rect{120, 80, 170, 130}));

  // The same DC follows the window.
  ScreenFrameBuffer().Fill(0);
  ASSERT_TRUE(MoveWindow(child, 10, 10, 30, 20, false));
  EXPECT_EQ(FillRect(dc, {0, 0, 100, 100}, m_blueBrush), 1);
  ExpectScreen(Expected({{{30, 40, 60, 60}, kBlue}}), "moved");
  // A program clip combines with the window's.
  ScreenFrameBuffer().Fill(0);
  ExcludeClipRect(dc, 0, 0, 10, 100);
  FillRect(dc, {0, 0, 100, 100}, m_redBrush);
  ExpectScreen(Expected({{{40, 40, 60, 60}, kRed}}), "excluded");

  // Hidden: nothing; gone: the DC fails but can still be released.
  ScreenFrameBuffer().Fill(0);
  ShowWindow(parent, SW_HIDE);
  EXPECT_EQ(GetClipBox(dc, &box), NULLREGION);
  FillRect(dc, {0, 0, 100, 100}, m_redBrush);
  ExpectScreen(Expected({}), "hidden");
  DestroyWindow(child);
  SetLastError(0);
  EXPECT_EQ(FillRect(dc, {0, 0, 100, 100}, m_redBrush), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(ReleaseDC(child, dc), 1);
  SetLastError(0);
  EXPECT_EQ(GetDC(child), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(GdiScreenTest, BeginPaintReachesOnlyTheAreaBeingPainted) {
  HWND top = Window(nullptr, {0, 0, 480, 800});
  HWND plain = Window(top, {100, 100, 200, 200});
  m_platform.Pump();
  ScreenFrameBuffer().Fill(0);
  s_paint = [this](HWND h) {
    PaintInfo ps;
    HDC dc = BeginPaint(h, &ps);
    ASSERT_NE(dc, nullptr);
    // Even with the program's clip removed, only the update area changes.
    SelectClipRgn(dc, nullptr);
    FillRect(dc, {0, 0, 100, 100}, m_blueBrush);
    EndPaint(h, &ps);
  };
  const Rect part{10, 20, 30, 25};
  InvalidateRect(plain, &part, false);
  m_platform.Pump();
  ExpectScreen(Expected({{{110, 120, 130, 125}, kBlue}}), "paint");

  // The class brush erases through GDI when the procedure paints nothing.
  s_paint = [](HWND h) {
    PaintInfo ps;
    BeginPaint(h, &ps);
    EndPaint(h, &ps);
  };
  HWND red = Window(top, {300, 300, 340, 320}, true, u"Red");
  ScreenFrameBuffer().Fill(0);
  InvalidateRect(red, nullptr, true);
  m_platform.Pump();
  ExpectScreen(Expected({{{300, 300, 340, 320}, kRed}}), "erase");
}

TEST_F(GdiScreenTest, ADcKeptAcrossARotationDrawsOnTheTurnedScreen) {
  HDC dc = GetDC(nullptr);
  ASSERT_EQ(m_platform.Rotate(90), 0);
  Rect box;
  GetClipBox(dc, &box);
  EXPECT_EQ(box, (Rect{0, 0, 800, 480}));
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 800);
  ScreenFrameBuffer().TakeDamage();
  EXPECT_EQ(FillRect(dc, {780, 470, 900, 900}, m_redBrush), 1);
  EXPECT_EQ(ScreenFrameBuffer().Pixel(799, 479), kRed);
  EXPECT_EQ(ScreenFrameBuffer().TakeDamage(), (Rect{780, 470, 800, 480}));
  ReleaseDC(nullptr, dc);
}

}  // namespace
