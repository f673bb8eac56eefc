// The panel: the drawn range, the item haptic, touch routing with taps and
// drags, the modal control, key focus moves and their scrolling, the clip
// and the render hold.
#include "vy_test_support.h"

namespace {

using vytest::BackBuffer;
using vytest::TLog;
using vytest::TProbe;
using vytest::VyFixture;

class PanelTest : public VyFixture {
 protected:
  void SetUp() override {
    VyFixture::SetUp();
    MakeHost(480, 400);
    m_gui = MakeScreen();
    m_gui->Load(m_hWnd);
    m_gui->Open(0);
    m_root = m_gui->GetRootPanel();
  }
  void TearDown() override {
    m_bb.reset();
    VyFixture::TearDown();
  }
  // `n` rows of the given height, the full width.
  void AddRows(int n, int32_t height = 100) {
    for (int i = 0; i < n; ++i) Add("row" + std::to_string(i), {0, i * height, 480, (i + 1) * height});
    m_root->SetContentSize(0, 0);
  }
  TProbe* Add(const std::string& name, RECT rc) {
    auto* p = new TProbe(&m_log, name, rc);
    p->SetFocusOnPress(1);
    m_root->AddControl(p, -1);
    return p;
  }
  void Draw() {
    if (!m_bb) m_bb = std::make_unique<BackBuffer>(m_hWnd);
    m_root->Draw(m_bb->Dc());
  }
  void ScrollTo(int32_t y) {
    m_root->Gesture().SetOffsetForTests(0, y);
    Draw();
  }
  int32_t Offset() {
    POINT p;
    m_root->Gesture().GetOffset(&p);
    return p.y;
  }
  std::pair<int32_t, int32_t> Range(int32_t y) {
    int32_t first, last;
    m_root->GetUpdateIndexRange(0, y, &first, &last);
    return {first, last};
  }
  static plat::LPARAM At(int32_t x, int32_t y) { return plat::MAKELPARAM(uint32_t(x), uint32_t(y)); }
  int Count(const std::string& line) const { return int(std::count(m_log.begin(), m_log.end(), line)); }

  TLog m_log;
  CBaseGUI* m_gui = nullptr;
  CVyPanel* m_root = nullptr;
  std::unique_ptr<BackBuffer> m_bb;
};

TEST_F(PanelTest, UpdateRangeEdges) {
  AddRows(10);
  EXPECT_EQ(m_root->GetContentRect().bottom, 1000);  // the rows' total height
  using R = std::pair<int32_t, int32_t>;
  EXPECT_EQ(Range(0), (R{0, 5}));
  EXPECT_EQ(Range(-50), (R{0, 5}));
  EXPECT_EQ(Range(-100), (R{0, 6}));
  EXPECT_EQ(Range(-101), (R{1, 6}));
  EXPECT_EQ(Range(-950), (R{9, 10}));
  EXPECT_EQ(Range(-2000), (R{0, 0}));
  EXPECT_EQ(Range(500), (R{0, 0}));
}

TEST_F(PanelTest, ItemHapticTicksStrictlyInsideTheRange) {
  FeedbackOn();
  AddRows(10);
  std::vector<int32_t> at;
  for (int32_t y = 0; y >= -350; y -= 10) {
    const size_t before = plat::FeedbackEvents().size();
    ScrollTo(y);
    if (plat::FeedbackEvents().size() > before) at.push_back(y);
  }
  EXPECT_EQ(at, (std::vector<int32_t>{-100, -200, -300}));
  for (const std::string& p : Played()) EXPECT_EQ(p, "v windows\\itemSearch.ivt");
  // Content shorter than the panel never ticks.
  m_root->Cleanup();
  AddRows(3);
  plat::ResetDeviceServices();
  for (int32_t y = 0; y >= -350; y -= 10) ScrollTo(y);
  EXPECT_TRUE(Played().empty());
}

TEST_F(PanelTest, ATapReleasesInRangeChildrenAndADragCancelsAll) {
  AddRows(10);
  Draw();
  m_gui->OnLButtonDown(0, At(50, 50));
  m_gui->OnLButtonUp(0, At(50, 52));
  EXPECT_EQ(Count("row0 release 50,52 cancel 0 was 1"), 1);
  EXPECT_EQ(Count("row4 release 50,52 cancel 0 was 0"), 1);
  EXPECT_EQ(Count("row5 release 50,52 cancel 1 was 0"), 1);
  m_log.clear();
  m_gui->OnLButtonDown(0, At(50, 50));
  m_gui->OnMouseMove(0, At(50, 100));
  m_gui->OnMouseMove(0, At(50, 150));
  m_gui->OnLButtonUp(0, At(50, 150));
  EXPECT_EQ(Count("row0 release 50,150 cancel 1 was 1"), 1);
  EXPECT_EQ(Count("row4 release 50,150 cancel 1 was 0"), 1);
  // The inertia holds rendering until it ends.
  Draw();
  EXPECT_NE(m_gui->GetRenderHold() & CBaseGUI::kHoldKeepRendering, 0u);
  for (int i = 0; i < 500 && m_root->Gesture().IsAnimating(); ++i) Draw();
  Draw();
  EXPECT_EQ(m_gui->GetRenderHold() & CBaseGUI::kHoldKeepRendering, 0u);
}

TEST_F(PanelTest, AnExclusiveModalControlIsAllThereIs) {
  AddRows(3);
  TProbe modal(&m_log, "modal", {100, 100, 200, 200});
  EXPECT_EQ(m_root->SetModalControl(&modal, 1), nullptr);
  m_log.clear();
  Draw();
  EXPECT_EQ(m_log, (TLog{"modal draw"}));
  m_log.clear();
  m_gui->OnLButtonDown(0, At(150, 150));
  m_gui->OnLButtonUp(0, At(150, 150));
  m_root->OnLongPress(150, 150, 0);
  m_gui->OnKeyDown(plat::VK_DOWN, 0);
  EXPECT_EQ(m_log, (TLog{"modal down", "modal release 150,150 cancel 0 was 1", "modal long 150,150 0",
                         "modal key 40"}));
  EXPECT_EQ(m_root->SetModalControl(nullptr, 0), &modal);
}

TEST_F(PanelTest, KeyFocusMovesByLinesAndWraps) {
  // Three lines of two cells.
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 2; ++col)
      Add("c" + std::to_string(row * 2 + col), {col * 200, row * 100, col * 200 + 200, row * 100 + 100});
  m_root->SetContentSize(0, 0);
  Draw();
  // A touch takes the focus; the first arrow only shows it.
  m_gui->OnLButtonDown(0, At(50, 50));
  m_gui->OnLButtonUp(0, At(50, 50));
  EXPECT_EQ(m_gui->GetFocusControl(), m_root->GetChildControl(0));
  EXPECT_FALSE(m_root->GetChildControl(0)->IsFocused());
  m_gui->OnKeyDown(plat::VK_DOWN, 0);
  EXPECT_EQ(m_root->GetFocusIndex(), 0);
  EXPECT_TRUE(m_root->GetChildControl(0)->IsFocused());
  struct Step {
    uint32_t key;
    int32_t index;
  } steps[] = {{plat::VK_DOWN, 2},  {plat::VK_DOWN, 4}, {plat::VK_DOWN, 0}, {plat::VK_UP, 4},
               {plat::VK_RIGHT, 5}, {plat::VK_LEFT, 4}, {plat::VK_UP, 2},   {plat::VK_RIGHT, 3}};
  for (const Step& s : steps) {
    m_gui->OnKeyUp(s.key, 0);
    m_gui->OnKeyDown(s.key, 0);
    EXPECT_EQ(m_root->GetFocusIndex(), s.index) << s.key;
    EXPECT_TRUE(m_root->GetChildControl(s.index)->IsFocused()) << s.index;
  }
  // Right of the last cell: nothing to go to.
  EXPECT_EQ(m_gui->OnKeyDown(plat::VK_RIGHT, 0), 1);
}

TEST_F(PanelTest, TopsWithinTheToleranceShareALine) {
  Add("top", {300, 0, 400, 100});
  Add("right", {300, 100, 400, 200});
  Add("left", {0, 115, 100, 200});  // 15 lower: the same line
  m_root->SetContentSize(0, 0);
  m_root->SetFocusIndex(0);
  EXPECT_EQ(m_root->GetDownFocusIndex(), 2);  // the leftmost
  m_gui->SetKeepColumn(1);
  EXPECT_EQ(m_root->GetDownFocusIndex(), 1);  // the same column
}

TEST_F(PanelTest, MovingTheFocusScrollsItIntoView) {
  AddRows(10);
  Draw();
  m_gui->SetKeyFocusVisible(1);
  m_root->MoveFocusTo(3, plat::VK_DOWN, 0);
  EXPECT_EQ(Offset(), 0);  // in view: nothing moves
  Draw();
  m_root->MoveFocusTo(4, plat::VK_DOWN, 0);
  EXPECT_EQ(Offset(), 400 - 500 - 10);
  ScrollTo(-300);
  m_root->MoveFocusTo(2, plat::VK_UP, 0);
  EXPECT_EQ(Offset(), 0 - 200 + 10);
  ScrollTo(-300);
  m_root->MoveFocusTo(0, plat::VK_UP, 0);  // the first line goes to the top
  EXPECT_EQ(Offset(), 0);
  EXPECT_EQ(m_root->MoveFocusTo(20, plat::VK_UP, 0), 1);
}

TEST_F(PanelTest, ANestedPanelGivesTheKeyUpAndTheClipComesBack) {
  auto* inner = new CVyPanel();
  inner->SetRect(0, 0, 200, 200, 0);
  m_root->AddControl(inner, -1);
  auto* a = new TProbe(&m_log, "a", {0, 0, 200, 100});
  a->SetFocusOnPress(1);
  inner->AddControl(a, -1);
  inner->SetContentSize(0, 0);
  m_gui->SetFocusControl(inner, a);
  m_gui->SetKeyFocusVisible(1);
  EXPECT_EQ(inner->OnKeyDown(plat::VK_UP, 0), 1);
  EXPECT_EQ(inner->GetFocusIndex(), -1);

  BackBuffer bb(m_hWnd);
  RECT before, after;
  plat::GetClipBox(bb.Dc(), &before);
  inner->Draw(bb.Dc());
  plat::GetClipBox(bb.Dc(), &after);
  EXPECT_EQ(after, before);
}

}  // namespace
