// The screen base on a headless host window and the virtual clock: timers,
// inactivity and holds, long presses, frame pacing, the screen stack, the
// fade, the background order and the focus bookkeeping.
#include "vy_test_support.h"

namespace {

using vytest::TLog;
using vytest::TProbe;
using vytest::VyFixture;

class ScreenTest : public VyFixture {
 protected:
  void SetUp() override {
    VyFixture::SetUp();
    MakeHost();
    m_gui = MakeScreen();
    m_gui->Load(m_hWnd);
  }
  TProbe* AddToRoot(const std::string& name, RECT rc) {
    auto* p = new TProbe(&m_log, name, rc);
    m_gui->GetRootPanel()->AddControl(p, -1);
    return p;
  }
  void Paint() {
    plat::HDC hdc = plat::GetDC(m_hWnd);
    m_gui->OnPaint(m_hWnd, hdc);
    plat::ReleaseDC(m_hWnd, hdc);
  }
  void PaintWindow(plat::COLORREF colour) {
    plat::HDC hdc = plat::GetDC(m_hWnd);
    plat::HBRUSH brush = plat::CreateSolidBrush(colour);
    plat::FillRect(hdc, RECT{0, 0, 480, 800}, brush);
    plat::DeleteObject(brush);
    plat::ReleaseDC(m_hWnd, hdc);
  }
  static plat::LPARAM At(int32_t x, int32_t y) { return plat::MAKELPARAM(uint32_t(x), uint32_t(y)); }

  TLog m_log;
  CBaseGUI* m_gui = nullptr;
};

TEST_F(ScreenTest, LoadSizesTheRootAndRendersUntilIdle) {
  RECT rc;
  m_gui->GetRootPanel()->GetRect(&rc);
  EXPECT_EQ(rc, (RECT{0, 0, 480, 800}));
  EXPECT_TRUE(m_gui->IsLoaded());
  EXPECT_TRUE(m_gui->IsRendering());
  m_gui->Open(0);
  m_gui->GetRootPanel()->SetVisible(0, 0);  // draws nothing and holds nothing
  m_tp->RunFor(200);
  EXPECT_GE(m_gui->GetFrameCounter(), 3u);
  m_tp->RunFor(10000);
  EXPECT_FALSE(m_gui->IsRendering());
  EXPECT_EQ(CountLines("]CBaseGUI::OnTimer..TIMERID_INACTIVITY ("), 1);
  const uint32_t frames = m_gui->GetFrameCounter();
  m_tp->RunFor(500);
  EXPECT_EQ(m_gui->GetFrameCounter(), frames);

  // Hold 2 keeps rendering past inactivity; a hold of exactly 1 stops at the
  // next tick.
  m_gui->SetRenderHold(CBaseGUI::kHoldKeepRendering);
  EXPECT_TRUE(m_gui->IsRendering());
  m_tp->RunFor(10500);
  EXPECT_TRUE(m_gui->IsRendering());
  m_gui->ClearRenderHold(CBaseGUI::kHoldKeepRendering);
  m_gui->SetRenderHold(CBaseGUI::kHoldStopAtTick);
  m_tp->RunFor(40);
  EXPECT_FALSE(m_gui->IsRendering());

  // The frame counter wraps.
  m_gui->SetFrameCounterForTests(999999999);
  m_gui->OnTimer(TIMERID_RENDER, 0);
  EXPECT_EQ(m_gui->GetFrameCounter(), 0u);
}

TEST_F(ScreenTest, LongPressFiresAtThePressPointUnlessMovedTooFar) {
  m_gui->Open(0);
  AddToRoot("a", {0, 0, 480, 200});
  for (int32_t dx : {20, 21}) {
    m_log.clear();
    m_gui->OnLButtonDown(0, At(100, 100));
    m_gui->OnMouseMove(0, At(100 + dx, 100));
    m_tp->RunFor(690);
    EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "a long 100,100 0"), 0);
    m_tp->RunFor(20);
    EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "a long 100,100 0"), dx == 20 ? 1 : 0) << dx;
    m_gui->OnLButtonUp(0, At(100 + dx, 100));
  }
  // A release below the screen arrives at y 0.
  m_log.clear();
  m_gui->OnLButtonDown(0, At(50, 50));
  m_gui->OnLButtonUp(0, At(50, 900));
  EXPECT_NE(std::find(m_log.begin(), m_log.end(), "a release 50,0 cancel 1 was 1"), m_log.end());
}

TEST_F(ScreenTest, HeldEnterFiresTheKeyLongPressOnce) {
  m_gui->Open(0);
  TProbe modal(&m_log, "modal", {0, 0, 100, 100});
  m_gui->GetRootPanel()->SetModalControl(&modal, 0);
  m_gui->OnKeyDown(13, 0);
  EXPECT_EQ(m_gui->OnKeyDown(13, 0), 0);
  EXPECT_EQ(m_gui->OnKeyDown(13, 0), 0);
  m_tp->RunFor(800);
  EXPECT_EQ(m_log, (TLog{"modal key 13", "modal long 50,50 1", "modal release 50,50 cancel 1 was 0"}));
  m_gui->OnKeyUp(13, 0);
  m_log.clear();
  m_gui->OnKeyDown(13, 0);
  EXPECT_EQ(m_log, (TLog{"modal key 13"}));
  m_gui->OnKeyUp(13, 0);
  m_gui->GetRootPanel()->SetModalControl(nullptr, 0);
}

TEST_F(ScreenTest, AFrameTakesAtLeast30Ms) {
  m_gui->Open(0);
  const uint32_t t0 = plat::GetTickCount();
  Paint();
  EXPECT_EQ(plat::GetTickCount() - t0, 30u);
}

TEST_F(ScreenTest, TheScreenStack) {
  CBaseGUI* second = MakeScreen();
  second->Load(m_hWnd);
  m_gui->Open(0);
  second->Open(0);
  EXPECT_EQ(CBaseGUI::GetCurrentGUI(), second);
  m_tp->ClearDebugLines();
  m_gui->Open(0);  // already open: closed first, back on top
  EXPECT_EQ(CountLines("]CBaseGUI::Open..Close() GUI before Open()"), 1);
  EXPECT_EQ(CBaseGUI::Stack(), (std::vector<CBaseGUI*>{second, m_gui}));
  m_tp->ClearDebugLines();
  second->Close(0);  // in the middle
  EXPECT_EQ(CountLines("]CBaseGUI::Close..GetCurrentGUI() != this"), 1);
  EXPECT_EQ(CBaseGUI::Stack(), (std::vector<CBaseGUI*>{m_gui}));
  EXPECT_TRUE(m_gui->IsRendering());
  m_gui->Close(0);
  EXPECT_EQ(CBaseGUI::GetCurrentGUI(), nullptr);
  const int timers = s_nTimerMessages;
  m_tp->RunFor(11000);
  EXPECT_EQ(s_nTimerMessages, timers);
  m_tp->ClearDebugLines();
  EXPECT_EQ(m_gui->Close(0), E_FAIL);
  EXPECT_EQ(CountLines("]CBaseGUI::Close..Error CBR(s_vectorGui.size() > 0):vy/BaseGUI.cpp line "), 1);
  // A screen destroyed while open is no longer current.
  CBaseGUI* third = MakeScreen();
  third->Load(m_hWnd);
  third->Open(0);
  EXPECT_EQ(CBaseGUI::GetCurrentGUI(), third);
  m_screens.pop_back();
  EXPECT_EQ(CBaseGUI::GetCurrentGUI(), nullptr);
  EXPECT_EQ(CBaseGUI::StartRenderCurrentGUI(1), 0);
  EXPECT_EQ(CountLines("]CBaseGUI::StartRenderCurrentGUI..Error CBR(pGui != NULL)"), 1);
}

TEST_F(ScreenTest, UnLoadStopsTheTimersWhateverTheHold) {
  m_gui->Open(0);
  m_gui->SetRenderHold(CBaseGUI::kHoldKeepRendering);
  m_gui->StopRender();
  EXPECT_TRUE(m_gui->IsRendering());  // vetoed
  m_gui->UnLoad();
  EXPECT_FALSE(m_gui->IsRendering());
  EXPECT_FALSE(m_gui->IsLoaded());
  EXPECT_EQ(m_gui->GetRenderHold(), 0u);
  const int timers = s_nTimerMessages;
  m_tp->RunFor(1000);
  EXPECT_EQ(s_nTimerMessages, timers);
}

TEST_F(ScreenTest, AFadeShowsFourBlendedFrames) {
  m_gui->Open(3);
  ASSERT_NE(CBaseGUI::FadeSnapshot().hdc, nullptr);
  std::vector<int32_t> levels;
  for (int i = 0; i < 5; ++i) {
    Paint();
    levels.push_back(CBaseGUI::FadeLevel());
  }
  EXPECT_EQ(levels, (std::vector<int32_t>{205, 155, 105, 55, 255}));
  EXPECT_EQ(CBaseGUI::FadeSnapshot().hdc, nullptr);
}

TEST_F(ScreenTest, SlidesInFromTheRightAndOutAgain) {
  CVyPanel* root = m_gui->GetRootPanel();
  PaintWindow(plat::RGB(0, 0, 255));
  m_gui->Open(2);
  POINT offset;
  root->GetOffset(&offset);
  EXPECT_EQ(offset.x, 480);
  std::vector<int32_t> xs, snapshots;
  for (int i = 0; i < 40 && offset.x != 0; ++i) {
    Paint();
    root->GetOffset(&offset);
    xs.push_back(offset.x);
    snapshots.push_back(CBaseGUI::GetSnapshotOffset().x);
    if (offset.x != 0) {
      EXPECT_FALSE(root->IsEnabled());
    }
  }
  ASSERT_EQ(offset.x, 0);
  EXPECT_GT(xs.size(), 3u);  // an animation, not a jump
  EXPECT_LT(snapshots.front(), 0);  // the old picture leaves to the left
  Paint();
  EXPECT_TRUE(root->IsEnabled());
  // A sliding close ends off the stack once the panel reaches the right.
  m_tp->ClearDebugLines();
  m_gui->Close(1);
  EXPECT_TRUE(m_gui->IsOpen());
  for (int i = 0; i < 40 && m_gui->IsOpen(); ++i) Paint();
  EXPECT_FALSE(m_gui->IsOpen());
  root->GetOffset(&offset);
  EXPECT_EQ(offset.x, 480);
  EXPECT_EQ(CountLines("]CBaseGUI::Close.."), 2);  // sliding, then the real close
  EXPECT_EQ(CountLines("]CBaseGUI::ReleaseCapturedDC.."), 1);
}

TEST_F(ScreenTest, BackgroundsInTheirOrder) {
  m_gui->Open(0);
  m_gui->GetRootPanel()->SetVisible(0, 0);
  const uint16_t red = vytest::To565(255, 0, 0), green = vytest::To565(0, 255, 0), blue = vytest::To565(0, 0, 255);
  PaintWindow(plat::RGB(255, 0, 0));
  m_gui->CaptureBackDC();
  PaintWindow(plat::RGB(0, 255, 0));
  m_gui->CaptureMenuDC();
  PaintWindow(plat::RGB(0, 0, 255));
  m_gui->CaptureCurrentDC();
  PaintWindow(0);
  Paint();
  EXPECT_EQ(m_tp->Pixel(10, 10), green);
  CBaseGUI::ReleaseMenuDC();
  Paint();
  EXPECT_EQ(m_tp->Pixel(10, 10), red);
  CBaseGUI::ReleaseGlobalDCs();
  PaintWindow(plat::RGB(0, 0, 255));
  m_gui->CaptureCurrentDC();
  PaintWindow(0);
  Paint();
  EXPECT_EQ(m_tp->Pixel(10, 10), blue);
  // After a size change the snapshot no longer fits and is let go.
  plat::SetWindowPos(m_hWnd, nullptr, 0, 0, 300, 800, plat::SWP_NOZORDER);
  m_tp->ClearDebugLines();
  Paint();
  EXPECT_EQ(CountLines("]CBaseGUI::ReleaseCapturedDC.."), 1);
  Paint();
  EXPECT_EQ(CountLines("]CBaseGUI::ReleaseCapturedDC.."), 1);
}

TEST_F(ScreenTest, F4TogglesTheOutlinesOnlyWithTheFrameRate) {
  m_gui->Open(0);
  AddToRoot("a", {100, 100, 200, 150});
  m_gui->OnKeyUp(plat::VK_F4, 0);
  EXPECT_FALSE(CVyControl::GetDebugOutline());
  m_gui->SetShowFPS(1, 1);
  m_gui->OnKeyUp(plat::VK_F4, 0);
  EXPECT_TRUE(CVyControl::GetDebugOutline());
  PaintWindow(0);
  Paint();
  const uint16_t red = vytest::To565(255, 0, 0);
  EXPECT_EQ(m_tp->Pixel(100, 100), red);
  EXPECT_EQ(m_tp->Pixel(199, 149), red);
  EXPECT_EQ(m_tp->Pixel(150, 140), 0);
  // The control's address and index, in green, right-aligned in it.
  int green = 0;
  for (int32_t y = 100; y < 150; ++y)
    for (int32_t x = 100; x < 200; ++x) green += (m_tp->Pixel(x, y) & 0x07E0) != 0 && (m_tp->Pixel(x, y) >> 11) == 0;
  EXPECT_GT(green, 20);
  m_gui->OnKeyUp(plat::VK_F4, 0);
  EXPECT_FALSE(CVyControl::GetDebugOutline());
}

TEST_F(ScreenTest, FocusBookkeeping) {
  m_gui->Open(0);
  CVyPanel* root = m_gui->GetRootPanel();
  AddToRoot("first", {0, 0, 100, 100});
  auto* inner = new CVyPanel();
  root->AddControl(inner, -1);
  auto* c = new TProbe(&m_log, "c", {0, 0, 10, 10});
  inner->AddControl(new TProbe(&m_log, "before", {}), -1);
  inner->AddControl(c, -1);
  m_gui->SetFocusControl(inner, c);
  EXPECT_EQ(root->GetFocusIndex(), 1);
  EXPECT_EQ(inner->GetFocusIndex(), 1);
  m_gui->SetKeyFocusVisible(1);
  EXPECT_TRUE(c->IsFocused());
  EXPECT_EQ(c->ExMember2()->nHotKey, 13u);
  TProbe* d = AddToRoot("d", {0, 200, 10, 210});
  m_gui->SetFocusControl(root, d);
  EXPECT_FALSE(c->IsFocused());
  EXPECT_EQ(c->ExMember2()->nHotKey, 0u);
  EXPECT_EQ(inner->GetFocusIndex(), -1);
  EXPECT_EQ(root->GetFocusIndex(), 2);
  m_gui->ClearFocusControl();
  EXPECT_EQ(root->GetFocusIndex(), -1);
  EXPECT_EQ(m_gui->GetFocusControl(), nullptr);
}

}  // namespace
