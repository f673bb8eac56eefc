// The options menu in a real SDL window on a virtual X server: a host window
// forwards to the toolkit through its services, the menu opens over a
// snapshot with the generated art, Down and Return choose, a tap outside
// closes, and the window's pixels are read back.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/display/Headless.h"
#include "platform/module/Module.h"
#include "platform/sdl/SdlBackend.h"
#include "platform/testing/TestPlatform.h"
#include "support/Waits.h"
#include "support/XvfbChild.h"
#include "vy/BaseGUI.h"
#include "vy/BasicMenu.h"
#include "vy/FrameSkin.h"
#include "vy/ImageUtil.h"
#include "vy/OptionsMenuGUI.h"
#include "vy/VyGesture.h"

namespace {

constexpr char kChildFlag[] = "QUOREL_VY_SDL_CHILD";
constexpr uint32_t kMsgRun = 0x8003, kMsgClose = 0x8004;
constexpr int32_t kWidth = 480, kHeight = 800;

std::vector<std::string> s_posted;

plat::LRESULT HostProc(plat::HWND hWnd, uint32_t msg, plat::WPARAM w, plat::LPARAM l) {
  switch (msg) {
    case plat::WM_PAINT: {
      plat::PaintInfo ps;
      plat::HDC hdc = plat::BeginPaint(hWnd, &ps);
      ToolkitServices().Paint(hdc);
      plat::EndPaint(hWnd, &ps);
      return 0;
    }
    case plat::WM_TIMER:
    case plat::WM_KEYDOWN:
    case plat::WM_KEYUP:
    case plat::WM_LBUTTONDOWN:
    case plat::WM_LBUTTONUP:
    case plat::WM_MOUSEMOVE:
      return ToolkitServices().ForwardMessage(hWnd, msg, w, l);
    case kMsgRun:
    case kMsgClose:
      s_posted.push_back((msg == kMsgRun ? "run " : "close ") + std::to_string(l));
      return 0;
    default:
      return plat::DefWindowProc(hWnd, msg, w, l);
  }
}

void PushKey(SDL_Keycode key) {
  for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.sym = key;
    SDL_PushEvent(&e);
  }
}

void PushTap(int x, int y) {
  for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
    SDL_Event e{};
    e.type = type;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
  }
}

TEST(MenuSdlWindow, OpensChoosesClosesAndReadsBack) {
  if (!getenv(kChildFlag)) GTEST_SKIP() << "runs under xvfb-run, started by MenuSdlUnderXvfb";
  plat::TestConfig config;
  config.virtualClock = false;
  config.screenWidth = kWidth;
  config.screenHeight = kHeight;
  plat::TestPlatform tp(config);
  unsetenv("QUOREL_BACKEND");
  ASSERT_STREQ(plat::InstallPreferredDisplayBackend(), "sdl");
  auto backend = std::dynamic_pointer_cast<plat::SdlBackend>(plat::CurrentDisplayBackend());
  ASSERT_TRUE(backend);
  std::filesystem::create_directories(tp.DeviceRoot() / "fs");
  std::filesystem::copy_file(MAIN_PACK, tp.DeviceRoot() / "fs" / "Quorel.res",
                             std::filesystem::copy_options::overwrite_existing);
  plat::ModuleHandle hModule = plat::LoadLibrary(u"\\Quorel.res");
  ASSERT_NE(hModule, nullptr);
  CVyToolkitServices& vy = ToolkitServices();
  vy.SetResourceInstance(hModule);
  vy.SetMenuImageIDs(std::vector<int32_t>(kMenuImageIdsTheme0.begin(), kMenuImageIdsTheme0.end()));
  vy.SetMenuItemImageIDs(std::vector<int32_t>(kMenuItemImageIdsTheme0.begin(), kMenuItemImageIdsTheme0.end()));

  plat::WndClass cls;
  cls.proc = &HostProc;
  cls.name = u"MenuSdlHost";
  plat::RegisterClass(cls);
  plat::HWND hWnd =
      plat::CreateWindowEx(0, u"MenuSdlHost", u"", plat::WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, 0, nullptr, nullptr);
  plat::SetFocus(hWnd);
  vy.Load(hWnd);
  vy.Open(0);
  // The application's snapshot: a blue screen with a yellow band.
  plat::HDC hdcScreen = plat::GetDC(nullptr);
  plat::HBITMAP hSnapshot = plat::CreateCompatibleBitmap(hdcScreen, kWidth, kHeight);
  plat::HDC hdcMem = plat::CreateCompatibleDC(hdcScreen);
  plat::HGDIOBJ hOld = plat::SelectObject(hdcMem, hSnapshot);
  plat::HBRUSH blue = plat::CreateSolidBrush(plat::RGB(40, 80, 220)), yellow = plat::CreateSolidBrush(plat::RGB(250, 220, 40));
  plat::FillRect(hdcMem, RECT{0, 0, kWidth, kHeight}, blue);
  plat::FillRect(hdcMem, RECT{0, 100, kWidth, 200}, yellow);
  plat::SelectObject(hdcMem, hOld);
  plat::DeleteDC(hdcMem);
  plat::ReleaseDC(nullptr, hdcScreen);
  const std::vector<TVyMenuItem> items = {{u"Search", 1, 0}, {u"Settings", 2, 0}, {u"About", 3, 0}};
  auto readBack = [&](int x, int y) {
    const std::vector<uint16_t> shown = backend->ReadBack();
    const plat::Size size = backend->WindowSize();
    return shown[size_t(y) * size_t(size.cx) + size_t(x)];
  };
  // The slide in moves a step per frame on real time: until it has come to
  // rest (open, the dim at its floor, the menu where it belongs) and shows,
  // however few frames a busy machine draws in a second.
  auto show = [&] {
    vy.ShowMenu(hSnapshot, RECT{0, 0, kWidth, kHeight}, items, 352, 450, 39, hWnd, kMsgRun, kMsgClose);
    EXPECT_TRUE(tp.RunUntil([&] {
      CBasicMenuEx* p = vy.Screen()->GetMenu();
      if (!p || p->GetState() != CVyMenu::kStateOpen || CVyMenu::DimLevel() > 120) return false;
      RECT at, home;
      p->GetOffsetRect(&at);
      p->GetRect(&home);
      return at.top == home.top && readBack((home.left + home.right) / 2, home.top + 10) != readBack(5, 500);
    }, support::kHangMs));
  };

  show();
  CBasicMenuEx* pMenu = vy.Screen()->GetMenu();
  ASSERT_NE(pMenu, nullptr);
  EXPECT_EQ(pMenu->GetState(), CVyMenu::kStateOpen);
  RECT rc;
  pMenu->GetRect(&rc);
  // The snapshot shows dimmed around the menu; the menu's dark centre inside.
  const uint16_t band = readBack(5, 150), outside = readBack(5, 500);
  EXPECT_NE(band, outside);
  EXPECT_LT(band >> 11, 250 >> 3);  // dimmed yellow
  EXPECT_GT(band >> 11, 0);
  const uint16_t centre = readBack((rc.left + rc.right) / 2, rc.top + 10);
  EXPECT_NE(centre, outside);
  EXPECT_LT(centre >> 11, 12);  // the large screen's dark frame

  // Down focuses the first command; Return chooses it.
  PushKey(SDLK_DOWN);
  PushKey(SDLK_RETURN);
  EXPECT_TRUE(tp.RunUntil([] { return s_posted.size() >= 2; }, support::kHangMs));
  EXPECT_EQ(s_posted, (std::vector<std::string>{"run 1", "close 0"}));

  // Opened again: a tap outside closes without a choice.
  s_posted.clear();
  show();
  PushTap(kWidth / 2, 20);
  EXPECT_TRUE(tp.RunUntil([] { return !s_posted.empty(); }, support::kHangMs));
  EXPECT_EQ(s_posted, (std::vector<std::string>{"close 0"}));

  vy.UnLoad();
  plat::DeleteObject(blue);
  plat::DeleteObject(yellow);
  plat::DeleteObject(hSnapshot);
  plat::DestroyWindow(hWnd);
  plat::FreeLibrary(hModule);
  ASSERT_TRUE(plat::InstallDisplayBackend(std::make_shared<plat::HeadlessBackend>()));
}

TEST(MenuSdlUnderXvfb, ChildPassesOnAVirtualScreen) {
  xvfbchild::ExpectChildPasses(kChildFlag, "MenuSdlWindow.OpensChoosesClosesAndReadsBack");
}

}  // namespace
