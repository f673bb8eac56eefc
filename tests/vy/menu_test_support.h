// A toolkit screen with an options menu on it, as the application builds
// one: synthetic menu art of known sizes, the item table, the open
// sequence, frames driven by hand (the render tick, then the paint) and the
// messages the menu posts to the host window.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "vy/BasicMenu.h"
#include "vy/VyPicture.h"
#include "vy_test_support.h"

namespace vytest {

constexpr uint32_t kMsgRun = 0x8003, kMsgClose = 0x8004;

// Menu image i is id 700 + i, item image i is id 800 + i. Frame corners and
// edges 16 x 16, page buttons 44 x 44, back-button pieces and pressed-row
// caps 16 x 66, arrows 12 x 20, indicators 20 x 20; each a colour of its own.
inline std::map<uint16_t, std::vector<uint8_t>> MenuArt() {
  std::map<uint16_t, std::vector<uint8_t>> art;
  for (uint16_t i = 0; i < 26; ++i) {
    const int32_t side = (i >= 11 && i <= 16) ? 44 : 16;
    const int32_t h = i >= 17 ? 66 : side;
    art[uint16_t(700 + i)] = SolidPng(side, h, 0x404040FF + (uint32_t(i) << 24));
  }
  const std::array<std::pair<int32_t, int32_t>, 10> items = {
      {{16, 66}, {16, 66}, {16, 66}, {16, 66}, {12, 20}, {12, 20}, {20, 20}, {20, 20}, {20, 20}, {20, 20}}};
  for (uint16_t i = 0; i < 10; ++i)
    art[uint16_t(800 + i)] = SolidPng(items[i].first, items[i].second, 0x20A020FF + (uint32_t(i) << 16));
  return art;
}

inline std::array<int32_t, 26> MenuIds() {
  std::array<int32_t, 26> ids{};
  for (int32_t i = 0; i < 26; ++i) ids[size_t(i)] = 700 + i;
  return ids;
}
inline std::array<int32_t, 10> ItemIds() {
  std::array<int32_t, 10> ids{};
  for (int32_t i = 0; i < 10; ++i) ids[size_t(i)] = 800 + i;
  return ids;
}

class MenuFixture : public VyFixture {
 protected:
  void SetUp() override {
    VyFixture::SetUp();
    Prepare(480, 800);
  }
  // A host of the given client size with a loaded, open screen whose root
  // panel shows a grey background picture, and the art registered.
  void Prepare(int32_t w, int32_t h, bool bArt = true) {
    MakeHost(w, h);
    m_gui = MakeScreen();
    m_gui->Load(m_hWnd);
    m_gui->Open(0);
    if (bArt) {
      PackImages(MenuArt());
      SetMenuImageIDs(MenuIds());
      SetMenuItemImageIDs(ItemIds());
    }
    RECT rc;
    plat::GetClientRect(m_hWnd, &rc);
    m_pBack = new CVyPicture(&rc);
    m_pBack->SetBackColor(plat::RGB(200, 200, 200));
    m_gui->GetRootPanel()->AddControl(m_pBack, -1);
  }
  void Restart(int32_t w, int32_t h, uint32_t dpi = 192) {
    Stop();
    plat::TestConfig config;
    config.screenWidth = w;
    config.screenHeight = h;
    config.dpi = dpi;
    Start(config);
    Prepare(w, h);
  }
  static std::vector<BasicMenuItemInfo> Table(int32_t n, std::vector<int32_t> disabled = {}) {
    std::vector<BasicMenuItemInfo> t;
    for (int32_t i = 0; i < n; ++i) {
      BasicMenuItemInfo r;
      r.label = u"Command " + plat::FromUtf8(std::to_string(i + 1));
      r.nId = i + 1;
      r.nDisabled = std::find(disabled.begin(), disabled.end(), i) != disabled.end() ? 1 : 0;
      t.push_back(r);
    }
    return t;
  }
  static int32_t S(int32_t n) { return VyScale(GetLogPixelsX(), n); }
  // Built and opened as the application's options menu is.
  CBasicMenuEx* OpenMenu(const std::vector<BasicMenuItemInfo>& table, const plat::WChar* pwszTitle = nullptr) {
    const int32_t m = std::min(plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN));
    auto* pMenu =
        new CBasicMenuEx(table.data(), int32_t(table.size()), m * 352 / 480, m * 450 / 480, m * 66 / 800);
    pMenu->CreateControls(pwszTitle);
    RECT rc;
    plat::GetClientRect(m_hWnd, &rc);
    pMenu->SetRect(rc.left, rc.top, rc.right, rc.bottom, 0);
    pMenu->BindRunMessage(m_hWnd, kMsgRun, 0, 0);
    pMenu->SetCloseMessage(m_hWnd, kMsgClose, 0, 0);
    pMenu->BindPressMessage(m_hWnd, kMsgRun, 0, 0);
    pMenu->Open(m_gui->GetRootPanel(), 0, nullptr, nullptr);
    m_menus.push_back(pMenu);
    return pMenu;
  }
  void TearDown() override {
    for (CVyMenu* p : m_menus) {
      p->RemoveFromParent();
      p->Destroy();
    }
    m_menus.clear();
    VyFixture::TearDown();
  }
  // One render frame: the tick, then the paint; then the posted messages.
  void Frame() {
    m_gui->OnTimer(TIMERID_RENDER, 0);
    plat::HDC hdc = plat::GetDC(m_hWnd);
    m_gui->OnPaint(m_hWnd, hdc);
    plat::ReleaseDC(m_hWnd, hdc);
    Collect();
  }
  void Frames(int n) {
    for (int i = 0; i < n; ++i) Frame();
  }
  // Until the menu has gone from the panel (at most `limit` frames).
  int FramesUntilGone(CVyMenu* pMenu, int limit = 200) {
    for (int i = 1; i <= limit; ++i) {
      Frame();
      if (!pMenu->GetParent()) return i;
    }
    return -1;
  }
  void Collect() {
    plat::Msg msg;
    while (plat::PeekMessage(&msg, m_hWnd, kMsgRun, kMsgClose, plat::PM_REMOVE))
      m_posted.push_back((msg.message == kMsgRun ? "run " : "close ") + std::to_string(msg.lParam));
  }
  void Tap(int32_t x, int32_t y) {
    m_gui->OnLButtonDown(0, plat::MAKELPARAM(uint32_t(x), uint32_t(y)));
    m_gui->OnLButtonUp(0, plat::MAKELPARAM(uint32_t(x), uint32_t(y)));
  }
  void Key(uint32_t vk) {
    m_gui->OnKeyDown(vk, 0);
    m_gui->OnKeyUp(vk, 0);
  }
  // The centre of a child's rectangle as drawn (the menu's slide offset
  // applied).
  static POINT CentreOf(CVyControl* p) {
    RECT rc;
    p->GetOffsetRect(&rc);
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
  }
  // The screen's pixel after the last frame.
  uint16_t ScreenPixel(int32_t x, int32_t y) { return m_tp->Backend().Pixel(x, y); }
  static int32_t Red(uint16_t v) { return (v >> 11) << 3; }

  CBaseGUI* m_gui = nullptr;
  CVyPicture* m_pBack = nullptr;
  std::vector<CVyMenu*> m_menus;
  std::vector<std::string> m_posted;
};

}  // namespace vytest
