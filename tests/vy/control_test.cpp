// The control base: tree, geometry, drawing order, the focus frame, input
// dispatch, press feedback and the event bindings.
#include <regex>

#include "vy_test_support.h"

namespace {

using vytest::BackBuffer;
using vytest::SolidPng;
using vytest::To565;
using vytest::VyFixture;

using vytest::TLog;
using vytest::TProbe;

RECT OffsetRectOf(CVyControl* p) {
  RECT rc;
  p->GetOffsetRect(&rc);
  return rc;
}

class ControlTest : public VyFixture {
 protected:
  void TearDown() override {
    m_root.reset();
    EXPECT_EQ(TProbe::s_nLive, 0);
    VyFixture::TearDown();
  }
  TProbe* Add(CVyControl* parent, const std::string& name, RECT rc = {}) {
    auto* p = new TProbe(&m_log, name, rc);
    EXPECT_EQ(parent->AddControl(p, -1), S_OK);
    return p;
  }
  TLog m_log;
  std::unique_ptr<TProbe> m_root = std::make_unique<TProbe>(&m_log, "root", RECT{0, 0, 480, 800});
};

TEST_F(ControlTest, GeometryAndOffsets) {
  TProbe* a = Add(m_root.get(), "a", {10, 10, 50, 50});
  TProbe* b = Add(a, "b", {20, 20, 30, 30});
  a->SetOffset(10, 0);
  EXPECT_EQ(OffsetRectOf(a), (RECT{20, 10, 60, 50}));
  a->SetRect(10, 10, 50, 50, 0);
  EXPECT_EQ(OffsetRectOf(a), (RECT{10, 10, 50, 50}));
  m_root->SetOffset(0, 7);
  m_root->SetOffset(0, 7);
  EXPECT_EQ(OffsetRectOf(b), (RECT{20, 27, 30, 37}));  // absolute, not summed
  m_root->SetRect(1, 2, 3, 4, 1);
  RECT rc;
  b->GetRect(&rc);
  EXPECT_EQ(rc, (RECT{1, 2, 3, 4}));
  // HitTest: left and top inside, right and bottom outside, offset applied.
  b->SetRect(100, 100, 110, 120, 0);
  b->SetOffset(0, -50);
  struct Case {
    int32_t x, y, hit;
  } cases[] = {{100, 50, 1}, {109, 69, 1}, {110, 60, 0}, {105, 70, 0}, {99, 60, 0}, {105, 100, 0}};
  for (const Case& c : cases) EXPECT_EQ(b->HitTest(c.x, c.y), c.hit) << c.x << "," << c.y;
  b->MoveRect(5, 5, 0);
  b->GetRect(&rc);
  EXPECT_EQ(rc, (RECT{105, 105, 115, 125}));
}

TEST_F(ControlTest, TreeOperations) {
  TProbe* a = Add(m_root.get(), "a");
  TProbe* b = new TProbe(&m_log, "b");
  EXPECT_EQ(m_root->AddControl(b, 0), S_OK);
  EXPECT_EQ(m_root->GetChildControl(0), b);
  EXPECT_EQ(m_root->GetChildControl(1), a);
  m_tp->ClearDebugLines();
  EXPECT_EQ(m_root->GetChildControl(-1), nullptr);
  EXPECT_EQ(m_root->GetChildControl(2), nullptr);
  EXPECT_EQ(CountLines("]CVyControl::GetChildControl..Error CBR(nIndex >= 0 && nIndex < size):vy/VyControl.cpp"),
            2);
  // A second add of a listed child is refused; a null one too.
  m_tp->ClearDebugLines();
  EXPECT_EQ(m_root->AddControl(a, -1), E_FAIL);
  EXPECT_EQ(m_root->AddControl(nullptr, -1), E_FAIL);
  EXPECT_EQ(m_root->GetChildCount(), 2);
  EXPECT_EQ(CountLines("AddControl..Error CBR("), 1);
  EXPECT_EQ(CountLines("AddControl..Error CPR(pControl)"), 1);
  // So is one that another parent lists: both parents go, and it goes once.
  {
    TProbe other(&m_log, "other");
    TProbe* o = Add(&other, "o");
    EXPECT_EQ(m_root->AddControl(o, -1), E_FAIL);
    EXPECT_EQ(o->GetParent(), &other);
    EXPECT_EQ(m_root->GetChildCount(), 2);
  }
  a->SetReservedValue(42);
  EXPECT_EQ(m_root->GetChildControlByReservedValue(42), a);
  EXPECT_EQ(a->GetRootParent(), m_root.get());
  // Handed back: alive, parentless; a second removal does nothing.
  a->RemoveFromParent();
  a->RemoveFromParent();
  EXPECT_EQ(a->GetParent(), nullptr);
  EXPECT_EQ(m_root->GetChildCount(), 1);
  EXPECT_EQ(TProbe::s_nLive, 3);
  // A control whose parent is set but that is not listed can be added.
  ASSERT_EQ(a->SetParent(m_root.get()), S_OK);
  EXPECT_EQ(m_root->AddControl(a, -1), S_OK);
  // Cleanup deletes the whole subtree.
  Add(a, "c");
  Add(Add(a, "d"), "e");
  EXPECT_EQ(TProbe::s_nLive, 6);
  m_root->Cleanup();
  EXPECT_EQ(TProbe::s_nLive, 1);
  // Select leaves the previously selected sibling's bit.
  TProbe* x = Add(m_root.get(), "x");
  TProbe* y = Add(m_root.get(), "y");
  x->Select();
  y->Select();
  EXPECT_TRUE(x->IsSelected());
  EXPECT_EQ(m_root->GetSelectedChild(), y);
  EXPECT_FALSE(m_root->IsSelected());
}

TEST_F(ControlTest, MoveTargetStepsWithTheFrameCounter) {
  MakeHost();
  CBaseGUI* gui = MakeScreen();
  gui->Load(m_hWnd);
  gui->Open(0);
  TProbe* a = Add(m_root.get(), "a", {100, 0, 200, 10});
  a->SetMoveTarget(60, 0, 160, 10, 5);
  int steps = 0;
  while (a->ExMember1()->pMoveTarget && steps < 20) {
    gui->OnTimer(TIMERID_RENDER, 0);
    a->StepMove();
    EXPECT_GE(OffsetRectOf(a).left, 60);
    if (a->ExMember1()->pMoveTarget) ++steps;
  }
  EXPECT_EQ(steps, 8);
  EXPECT_EQ(OffsetRectOf(a), (RECT{60, 0, 160, 10}));
}

TEST_F(ControlTest, DrawingSkipsHiddenSubtreesAndRunsADeferredReleaseOnce) {
  MakeHost();
  BackBuffer bb(m_hWnd);
  TProbe* hidden = Add(m_root.get(), "hidden");
  Add(hidden, "inner");
  TProbe* disabled = Add(m_root.get(), "disabled", {10, 10, 20, 20});
  hidden->SetVisible(0, 0);
  disabled->SetEnable(0, 0);
  m_root->Draw(bb.Dc());
  EXPECT_EQ(m_log, (TLog{"root draw", "disabled draw"}));

  m_log.clear();
  disabled->SetEnable(1, 0);
  disabled->SetDeferRelease(1);
  m_root->OnLButtonDown(15, 15);
  EXPECT_TRUE(disabled->IsPressed());
  m_root->OnLButtonUp(300, 301, 0);
  EXPECT_TRUE(disabled->IsPressed());  // pressed look for one more frame
  m_root->Draw(bb.Dc());
  m_root->Draw(bb.Dc());
  EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "disabled release 300,301 cancel 0 was 1"), 1);
  EXPECT_FALSE(disabled->IsPressed());
}

TEST_F(ControlTest, TheFocusFrameAndItsSuppression) {
  MakeHost();
  PackImages({{643, SolidPng(3, 1, 0xFF0000FF)},
               {644, SolidPng(1, 4, 0x00FF00FF)},
               {645, SolidPng(6, 5, 0x0000FFFF)},
               {646, SolidPng(6, 5, 0x0000FFFF)},
               {647, SolidPng(6, 5, 0x0000FFFF)},
               {648, SolidPng(6, 5, 0x0000FFFF)}});
  GetFrameSkin()->Load(643, 644, 645, 646, 647, 648);
  BackBuffer bb(m_hWnd);
  TProbe* a = Add(m_root.get(), "a", {100, 100, 200, 200});
  a->SetFocusFlag();
  struct Case {
    bool own, parent, inset;
    uint16_t corner;
  } cases[] = {{false, false, false, To565(0, 0, 255)},
               {true, false, false, 0},
               {false, true, false, 0},
               {false, false, true, 0}};
  for (const Case& c : cases) {
    bb.Fill(0);
    a->SetShowFocusFrame(!c.own);
    m_root->SetShowFocusFrame(!c.parent);
    if (c.inset) a->SetFocusFrameInset(2, 2, 0, 0);  // each edge plus its value
    a->Draw(bb.Dc());
    EXPECT_EQ(bb.At(100, 100), c.corner);
    if (c.inset) {
      EXPECT_EQ(bb.At(102, 102), To565(0, 0, 255));
    }
  }
}

TEST_F(ControlTest, PressDispatchAndFeedback) {
  FeedbackOn();
  TProbe* low = Add(m_root.get(), "low", {0, 0, 100, 100});
  TProbe* high = Add(m_root.get(), "high", {200, 200, 300, 300});
  TProbe* hidden = Add(m_root.get(), "hidden", {0, 0, 100, 100});
  TProbe* off = Add(m_root.get(), "off", {0, 0, 100, 100});
  hidden->SetVisible(0, 0);
  off->SetEnable(0, 0);
  high->SetHitPriority(1);
  low->SetPressVibration(1, nullptr);
  low->SetPressSound(1, nullptr);
  m_root->OnLButtonDown(10, 10);
  EXPECT_EQ(m_log, (TLog{"root down", "high down", "low down"}));  // priority pass first
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "s 49_button.wav"}));
  plat::ResetDeviceServices();
  EXPECT_EQ(low->PlayPressFeedback(), 0);  // a second press plays nothing
  EXPECT_TRUE(Played().empty());
  // Pen-up releases a pressed control even outside it.
  m_root->OnLButtonUp(500, 500, 0);
  EXPECT_FALSE(low->IsPressed());
  // A high-priority child that takes the press ends it.
  m_log.clear();
  high->m_bTakeDown = true;
  high->SetRect(0, 0, 100, 100, 0);
  m_root->OnLButtonDown(10, 10);
  EXPECT_EQ(m_log, (TLog{"root down", "high down"}));
  // A miss takes nothing.
  EXPECT_EQ(m_root->OnLButtonDown(900, 900), 1);
}

TEST_F(ControlTest, HotKeysLongPressAndFocus) {
  TProbe* a = Add(m_root.get(), "a", {0, 0, 100, 100});
  TProbe* b = Add(a, "b", {0, 0, 50, 50});
  a->SetHotKey(13);
  EXPECT_EQ(m_root->OnKeyDown(13, 0), 0);
  EXPECT_TRUE(a->IsPressed());
  EXPECT_TRUE(b->IsPressed());
  m_root->OnKeyUp(13, 0);
  EXPECT_FALSE(a->IsPressed());
  EXPECT_FALSE(b->IsPressed());
  a->ClearHotKey();
  EXPECT_EQ(m_root->OnKeyDown(13, 0), 1);

  // Long press with release: the press is cancelled first.
  a->PlayPressFeedback();
  m_log.clear();
  EXPECT_EQ(m_root->OnLongPress(10, 10, 1), 1);
  EXPECT_EQ(m_log, (TLog{"root long 10,10 1", "root release 10,10 cancel 1 was 0", "a long 10,10 1",
                         "a release 10,10 cancel 1 was 1", "b long 10,10 1", "b release 10,10 cancel 1 was 0"}));

  // Losing the focus cancels a press, down the tree.
  a->SetFocus(1, 0);
  b->SetFocus(1, 0);
  a->PlayPressFeedback();
  m_log.clear();
  a->SetFocus(0, 0);
  EXPECT_FALSE(a->IsFocused());
  EXPECT_FALSE(b->IsFocused());
  EXPECT_EQ(m_log[0], "a release 50,50 cancel 1 was 1");
}

TEST_F(ControlTest, BindingsFireInOrder) {
  FeedbackOn();
  MakeHost();
  TProbe* a = Add(m_root.get(), "a", {0, 0, 100, 100});
  std::vector<std::string> seen;
  auto runFunctor = TVyFunctor([&](intptr_t x, intptr_t y) {
    plat::Msg msg;
    seen.push_back("functor " + std::to_string(x) + " " + std::to_string(y) + " queued " +
                   std::to_string(plat::PeekMessage(&msg, m_hWnd, 0x8003, 0x8003, 0)) + " played " +
                   std::to_string(plat::FeedbackEvents().size()));
  });
  EXPECT_EQ(a->FireEvent(1, 2), E_FAIL);
  EXPECT_EQ(a->FirePressEvent(1, 2), E_FAIL);
  a->BindRunEvent(&runFunctor, 9);
  a->BindRunMessage(m_hWnd, 0x8003, 5, 77);
  a->SetRunVibration(1, nullptr);
  a->SetRunSound(1, u"");  // empty: the default sound
  EXPECT_EQ(a->FireRunEvent(3, 4), S_OK);
  EXPECT_EQ(seen, (std::vector<std::string>{"functor 3 4 queued 0 played 0"}));
  plat::Msg msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, m_hWnd, 0x8003, 0x8003, plat::PM_REMOVE));
  EXPECT_EQ(msg.lParam, 77);
  EXPECT_EQ(Played(), (std::vector<std::string>{"v windows\\press.ivt", "s 02_List Enter.wav"}));

  // Long press: a functor wins over the message; a message bound with
  // lParam 0 carries the point.
  EXPECT_EQ(a->FireLongPressEvent(0, nullptr), 1);
  a->BindLongPressMessage(m_hWnd, 0x8005, 0, 0);
  const POINT pt{12, 34};
  EXPECT_EQ(a->FireLongPressEvent(0, &pt), 0);
  ASSERT_TRUE(plat::PeekMessage(&msg, m_hWnd, 0x8005, 0x8005, plat::PM_REMOVE));
  EXPECT_EQ(msg.lParam, 0x22000C);
  a->BindLongPressEvent(&runFunctor, 0);
  seen.clear();
  EXPECT_EQ(a->FireLongPressEvent(0, &pt), 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_FALSE(plat::PeekMessage(&msg, m_hWnd, 0x8005, 0x8005, plat::PM_REMOVE));
  a->BindPressMessage(m_hWnd, 0x8006, 0, 1);
  EXPECT_EQ(a->FirePressEvent(0, 0), S_OK);
  EXPECT_TRUE(plat::PeekMessage(&msg, m_hWnd, 0x8006, 0x8006, plat::PM_REMOVE));
}

// A tree whose second child cannot be fetched.
class THoleyParent : public TProbe {
 public:
  using TProbe::TProbe;
  CVyControl* GetChildControl(int32_t nIndex) override {
    return nIndex == 1 ? nullptr : TProbe::GetChildControl(nIndex);
  }
};

TEST_F(ControlTest, AMissingChildEndsTheWalkWithOneLine) {
  MakeHost();
  BackBuffer bb(m_hWnd);
  THoleyParent parent(&m_log, "parent", {0, 0, 100, 100});
  for (const char* name : {"a", "b", "c"}) parent.AddControl(new TProbe(&m_log, name, {0, 0, 10, 10}), -1);
  m_log.clear();
  m_tp->ClearDebugLines();
  parent.Draw(bb.Dc());
  EXPECT_EQ(m_log, (TLog{"parent draw", "a draw"}));
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_TRUE(std::regex_match(Lines()[0], std::regex(R"(\[Quorel\.exe\]CVyControl::Draw\.\.Error pControl = )"
                                                       R"(this->GetChildControl\(1\) : vy/VyControl\.cpp, line \d+)")))
      << Lines()[0];
  EXPECT_EQ(parent.OnLButtonDown(5, 5), 1);
}

TEST_F(ControlTest, DeletingTheFocusedControlLeavesNothingBehind) {
  MakeHost();
  CBaseGUI* gui = MakeScreen();
  gui->Load(m_hWnd);
  gui->Open(0);
  CVyPanel* panel = gui->GetRootPanel();
  auto* a = new TProbe(&m_log, "a", {0, 0, 100, 100});
  panel->AddControl(a, -1);
  a->SetFocusOnPress(1);
  a->PlayPressFeedback();  // takes the screen's focus
  EXPECT_EQ(gui->GetFocusControl(), a);
  EXPECT_EQ(panel->GetFocusIndex(), 0);
  a->RemoveFromParent();
  a->Destroy();
  EXPECT_EQ(gui->GetFocusControl(), nullptr);
  gui->SetKeyFocusVisible(1);
  gui->ClearFocusControl();
  EXPECT_EQ(panel->GetFocusIndex(), -1);
}

}  // namespace
