// How the menu bar looks on the screen: its band, its edge and its labels,
// white when usable and grey when not. Text is judged by where its colour
// appears, not by glyph shapes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/display/Display.h"
#include "platform/shell/MenuBarPaint.h"
#include "platform/testing/TestPlatform.h"
#include "tools/qrespack/PackWriter.h"

namespace {

using namespace plat;

constexpr uint16_t k565Background = Rgb565(0x20, 0x20, 0x20);
constexpr uint16_t k565Edge = Rgb565(0x60, 0x60, 0x60);
constexpr uint16_t k565White = Rgb565(0xFF, 0xFF, 0xFF);
constexpr uint16_t k565Grey = Rgb565(0x80, 0x80, 0x80);

LRESULT Quiet(HWND h, uint32_t m, WPARAM w, LPARAM l) { return DefWindowProc(h, m, w, l); }

class MenuBarLook : public ::testing::Test {
 protected:
  void SetUp() override {
    qrespack::PackWriter w;
    std::string error;
    w.AddMenu(102, {{kSoftKeyLeftCommand, u"Options"}, {kSoftKeyRightCommand, u"Back"}}, "t", error);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(w.Serialize(bytes, error)) << error;
    std::filesystem::create_directories(p.DeviceRoot() / "fs");
    std::ofstream(p.DeviceRoot() / "fs" / "t.res", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    module = LoadLibrary(u"\\t.res");
    ASSERT_NE(module, nullptr);
    WndClass cls;
    cls.name = u"Main";
    cls.proc = Quiet;
    RegisterClass(cls);
    main = CreateWindowEx(0, u"Main", u"", WS_VISIBLE, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, 0, nullptr,
                          nullptr);
    bar = SHCreateMenuBar(main, module, 102);
    ASSERT_NE(bar, nullptr);
    p.Pump();
  }
  void TearDown() override { FreeLibrary(module); }

  // How many pixels of the colour lie in the rectangle.
  int Count(const Rect& r, uint16_t colour) const {
    int n = 0;
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) n += p.Pixel(x, y) == colour;
    return n;
  }

  TestPlatform p;
  ModuleHandle module = nullptr;
  HWND main = nullptr;
  HWND bar = nullptr;
};

TEST_F(MenuBarLook, BandEdgeAndLabels) {
  const Rect left{0, 737, 240, 800}, right{240, 737, 480, 800};
  EXPECT_EQ(Count({0, 736, 480, 737}, k565Edge), 480);
  EXPECT_EQ(p.Pixel(1, 799), k565Background);
  EXPECT_EQ(p.Pixel(239, 740), k565Background);
  EXPECT_GT(Count(left, k565White), 20);
  EXPECT_GT(Count(right, k565White), 20);
  // Above the band the bar draws nothing.
  EXPECT_EQ(Count({0, 700, 480, 736}, k565Background), 0);

  // Disabled: grey, no white. Empty: nothing but the band.
  MenuBarSetButton(bar, 1, u"Back", false);
  MenuBarSetButton(bar, 0, u"", true);
  p.Pump();
  EXPECT_EQ(Count(right, k565White), 0);
  EXPECT_GT(Count(right, k565Grey), 20);
  EXPECT_EQ(Count(left, k565Background), left.Width() * left.Height());
}

TEST_F(MenuBarLook, LabelsSitCentredInTheirHalves) {
  MenuBarSetButton(bar, 1, u"", true);
  p.Pump();
  int32_t minX = 480, maxX = -1, minY = 800, maxY = -1;
  for (int32_t y = 737; y < 800; ++y) {
    for (int32_t x = 0; x < 480; ++x) {
      if (p.Pixel(x, y) == k565Background || p.Pixel(x, y) == k565Edge) continue;
      minX = std::min(minX, x);
      maxX = std::max(maxX, x);
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
  }
  ASSERT_GE(maxX, minX);
  EXPECT_LT(maxX, 240);
  EXPECT_NEAR((minX + maxX) / 2.0, 120, 4);
  EXPECT_NEAR((minY + maxY) / 2.0, 768, 6);
}

TEST_F(MenuBarLook, FollowsTheScreenWhenItTurns) {
  ASSERT_EQ(p.Rotate(90), DISP_CHANGE_SUCCESSFUL);
  p.Pump();
  const int32_t top = 480 - 480 * 2 / 25;
  EXPECT_EQ(Count({0, top, 800, top + 1}, k565Edge), 800);
  EXPECT_EQ(p.Pixel(799, 479), k565Background);
  EXPECT_GT(Count({400, top + 1, 800, 480}, k565White), 20);
  const auto png = p.DeviceRoot() / "turned.png";
  EXPECT_TRUE(p.SnapshotPng(png));
  EXPECT_GT(std::filesystem::file_size(png), 0u);
}

}  // namespace
