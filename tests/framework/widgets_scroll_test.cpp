#include <gtest/gtest.h>

#include "framework/CtlButton.h"
#include "framework/CtlScrollBar.h"
#include "framework/CtlScrollPanel.h"
#include "layouts/LayoutTable.h"
#include "tests/framework/widgets_test_support.h"

using namespace apptest;
using namespace widgettest;
using namespace LayoutOps;

namespace {

// Bar pieces: thumb start cap, middle, end cap, start cap, track, end cap.
constexpr TColor kPiece[6] = {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u, 0x00FFFFu, 0xFF00FFu};
constexpr int32_t kPieceLength[6] = {5, 10, 5, 10, 10, 10};

class ScrollTest : public WidgetFixture {
 protected:
  void RegisterBar() {
    for (int32_t i = 0; i < 6; ++i) RegisterSolid(500 + i, 15, kPieceLength[i], kPiece[i]);
  }
  CtlScrollBar* MakeBar(int32_t nPos, int32_t nThumb) {
    CtlScrollBar* p = CtlScrollBar::Create(StartView(), 0, 100, nPos, nThumb, CtlScrollBar::EVertical, 0);
    p->MoveTo(RECT{400, 100, 415, 300});
    p->SetImages(500, 501, 502, 503, 504, 505);
    return p;
  }
  // A scroll panel 400 high with `n` rows of `nRowHeight` stacked in its
  // content cell; rows are made by `make` inside the content panel.
  CtlScrollPanel* MakePanel(int32_t n, int32_t nRowHeight, const std::function<CControl*(CtlPanel*)>& make) {
    CtlScrollPanel* p = CtlScrollPanel::Create(StartView());
    std::vector<TLayoutOp> ops;
    for (int32_t i = 0; i < n; ++i) {
      for (TLayoutOp op : {Node(200, i), H(0, P, 0), H(1, P, 1), V(0, P, 0, px(i * nRowHeight)),
                           Height(px(nRowHeight)), End})
        ops.push_back(op);
    }
    RunLayoutTable(p->GetContentLayout(), ops, "test rows");
    for (int32_t i = 0; i < n; ++i) {
      CControl* pRow = make(p->GetContentPanel());
      pRow->SetLayoutNode(p->GetContentLayout()->FindNode(200, i));
      m_rows.push_back(pRow);
    }
    p->MoveTo(RECT{0, 100, 480, 500});
    return p;
  }
  static CControl* Box(CtlPanel* pParent) {
    auto* p = new TBox(nullptr, "row", 0xFF224466u);
    p->Create(pParent);
    return p;
  }
  static int32_t Scroll(CtlScrollPanel* p) { return p->GetContentLayout()->GetScrollY(); }
  std::vector<CControl*> m_rows;
};

TEST_F(ScrollTest, BarPiecesByPixels) {
  InApp([&] {
    RegisterBar();
    // 200 long: caps 10, track 180; thumb 25 of 100 is 45 px at 135 * 50 %.
    CtlScrollBar* p = MakeBar(50, 25);
    Flush(p);
    CtlScrollBar::TGeometry g = p->Geometry();
    EXPECT_EQ(g.nTrack, 180);
    EXPECT_EQ(g.nThumb, 45);
    EXPECT_EQ(g.nThumbOffset, 67);
    EXPECT_EQ(g.nThumbMiddle, 35);
    struct {
      int32_t y, piece;
    } expect[] = {{0, 3}, {9, 3}, {10, 4}, {76, 4}, {77, 0}, {81, 0}, {82, 1},
                  {116, 1}, {117, 2}, {121, 2}, {122, 4}, {189, 4}, {190, 5}, {199, 5}};
    for (auto& e : expect) EXPECT_EQ(Px(p, 7, e.y), C(kPiece[e.piece])) << e.y;

    // Twice as thick: the caps keep their aspect ratio (20 px).
    p->MoveTo(RECT{400, 100, 430, 300});
    EXPECT_EQ(p->Geometry().nStartCap, 20);
    EXPECT_EQ(p->Geometry().nThumbStart, 10);
    // A bar shorter than its caps: they stop at half the length less 2,
    // never below 0.
    p->MoveTo(RECT{400, 100, 415, 120});
    EXPECT_EQ(p->Geometry().nStartCap, 8);
    p->MoveTo(RECT{400, 100, 415, 102});
    EXPECT_EQ(p->Geometry().nStartCap, 0);
    EXPECT_EQ(p->Geometry().nTrack, 2);
  });
}

TEST_F(ScrollTest, DegenerateRangesNeitherDivideByZeroNorMove) {
  InApp([&] {
    RegisterBar();
    CtlScrollBar* p = MakeBar(0, 30);
    p->SetThumbSize(0, 400);  // a total of 0: the thumb fills the range
    EXPECT_EQ(p->ThumbExtent(), 100);
    EXPECT_EQ(p->Geometry().nThumb, 180);
    EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 5, 150}));
    EXPECT_EQ(p->Position(), 0);
    p->SetPositionFromOffset(300, 0, 300);  // content equals view: divisor 1
    EXPECT_EQ(p->Position(), 0);
    p->SetPositionFromOffset(1000, 300, 400);
    EXPECT_EQ(p->Position(), 50);
    p->SetPosition(500);  // stored as given, drawn clamped
    EXPECT_EQ(p->Position(), 500);
    p->SetThumbSize(1000, 400);
    EXPECT_EQ(p->Geometry().nThumbOffset, 180 - 72);
    Flush(p);

    CtlScrollBar* q = CtlScrollBar::Create(StartView(), 5, 5, 5, 0, CtlScrollBar::EVertical, 0);  // R = 0
    q->MoveTo(RECT{420, 100, 435, 300});
    q->SetImages(500, 501, 502, 503, 504, 505);
    Flush(q);
    EXPECT_TRUE(q->OnInput(TInputEvent{1, KeyPointer, 5, 150}));
    EXPECT_TRUE(q->OnInput(TInputEvent{0, KeyPointer, 5, 150}));
    EXPECT_EQ(q->Position(), 5);
  });
}

TEST_F(ScrollTest, PressesAndThumbDrags) {
  InApp([&] {
    RegisterBar();
    CtlScrollBar* p = MakeBar(0, 25);
    TCounter changed;
    p->SetValueChangedHandler(changed.Delegate());
    // Outside the thumb: its middle part comes under the pointer.
    EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 5, 150}));
    EXPECT_TRUE(p->OnInput(TInputEvent{0, KeyPointer, 5, 150}));
    CtlScrollBar::TGeometry g = p->Geometry();
    int32_t nMiddle = g.nStartCap + g.nThumbOffset + g.nThumbStart + g.nThumbMiddle / 2;
    EXPECT_LE(std::abs(nMiddle - 150), 1);
    EXPECT_EQ(changed.n, 1);
    EXPECT_EQ(changed.last, p->Position());
    // Far past the end: clamped.
    p->OnInput(TInputEvent{1, KeyPointer, 5, 199});
    p->OnInput(TInputEvent{0, KeyPointer, 5, 199});
    EXPECT_EQ(p->Position(), 100);

    // A drag on the thumb follows the pointer within a pixel.
    p->SetPosition(0);
    int32_t y0 = 30;
    p->OnInput(TInputEvent{1, KeyPointer, 5, y0});
    for (int32_t y : {33, 41, 60, 97, 120, 118, 90}) {
      p->OnInput(TInputEvent{1, KeyPointer, 5, y});
      EXPECT_LE(std::abs(p->Geometry().nThumbOffset - (y - y0)), 1) << y;
    }
    p->OnInput(TInputEvent{0, KeyPointer, 5, 90});
    int32_t nAfter = p->Position();
    p->OnInput(TInputEvent{1, KeyPointer, 5, 199});  // not dragging any more: a jump
    EXPECT_NE(p->Position(), nAfter);

    // An editable bar declines drags so moves reach its input; a read-only
    // one takes them and ignores input.
    EXPECT_FALSE(p->OnDrag(3));
    p->SetReadOnly(true);
    EXPECT_TRUE(p->OnDrag(3));
    EXPECT_FALSE(p->OnInput(TInputEvent{1, KeyPointer, 5, 50}));
  });
}

TEST_F(ScrollTest, DragScrollsStopsAtTheTopAndShowsTheBarForTwentyTicks) {
  MakeApp();
  CtlScrollPanel* p = nullptr;
  POINT c{};
  Run({[&] {
         gfx::PinTestFont();
         MakeFeedbackFiles();
         RegisterBar();
         // Rows forward their drags to the panel.
         p = MakePanel(10, 100, [](CtlPanel* pParent) -> CControl* { return CtlAdvButton::Create(pParent); });
         p->SetScrollBarImages(500, 501, 502, -1, -1, -1);
         for (CControl* pRow : m_rows) pRow->SetDragHandler(p->DragDelegate(), true);
         EXPECT_FALSE(p->ScrollBar()->IsVisible());
         c = Centre(m_rows[1]);
         m_tp->Down(c.x, c.y);
       },
       [&] { m_tp->Move(c.x, c.y - 30); },
       [&] {
         EXPECT_EQ(Scroll(p), 30);
         EXPECT_TRUE(p->ScrollBar()->IsVisible());
         EXPECT_EQ(p->HideCountdown(), 20);
         EXPECT_EQ(p->ScrollBar()->Position(), 100 * 30 / 600);
         plat::ResetDeviceServices();
         m_tp->Move(c.x, c.y + 30);  // 60 down: past the top
       },
       [&] {
         EXPECT_EQ(Scroll(p), 0);
         EXPECT_EQ(Count("v \\Windows\\listEnd.ivt"), 1);
         m_tp->Up(c.x, c.y + 30);
       },
       [&] {
         Tick(19);
         EXPECT_TRUE(p->ScrollBar()->IsVisible());
         Tick(1);
         EXPECT_FALSE(p->ScrollBar()->IsVisible());
         // A press on the panel's empty area is taken and its drag scrolls.
         EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 10, 10}));
         p->OnDrag(600);
         EXPECT_EQ(Scroll(p), 600);
         EXPECT_EQ(p->ScrollBar()->Position(), 100);
       }});
}

TEST_F(ScrollTest, KeysStepToTheEndAndOthersLeaveThePanel) {
  MakeApp();
  CtlScrollPanel* p = nullptr;
  Run({[&] {
         p = MakePanel(10, 100, [](CtlPanel* pParent) -> CControl* { return CtlStatic::Create(pParent); });
         // Step: an eighth of the main window, at most a quarter of the
         // panel (100); content 1000, view 400.
         int32_t nStep = std::min<int32_t>(100, (m_app->Rect().bottom - m_app->Rect().top) / 8);
         int nSteps = 0;
         while (p->OnInput(TInputEvent{1, plat::VK_DOWN, 0, 0}) && nSteps < 50) {
           ++nSteps;
           EXPECT_EQ(Scroll(p), std::min(600, nStep * nSteps));
         }
         EXPECT_EQ(nSteps, (600 + nStep - 1) / nStep);
         EXPECT_EQ(Scroll(p), 600);
         EXPECT_TRUE(p->OnInput(TInputEvent{1, plat::VK_UP, 0, 0}));
         EXPECT_EQ(Scroll(p), 600 - nStep);
         EXPECT_FALSE(p->OnInput(TInputEvent{0, plat::VK_UP, 0, 0}));
         EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 0, 0}));
         delete p;
         m_rows.clear();
         // Focusable rows: Down moves the focus to the next row in view.
         p = MakePanel(10, 100, Box);
         m_rows[0]->SetFocus();
       },
       [&] {
         EXPECT_TRUE(p->OnInput(TInputEvent{1, plat::VK_DOWN, 0, 0}));
         EXPECT_TRUE(m_rows[1]->IsFocused());
         EXPECT_EQ(p->TrackedControl(), m_rows[1]);
         EXPECT_GT(Scroll(p), 0);
         EXPECT_LE(Scroll(p), 100);
         m_log.clear();
         m_tp->KeyDown(plat::VK_ESCAPE);
       },
       [&] { m_tp->KeyDown(plat::VK_LEFT); }, [&] { m_tp->KeyDown(plat::VK_RIGHT); },
       [&] {
         EXPECT_TRUE(Logged("app input 1 27"));
         EXPECT_TRUE(Logged("app input 1 37"));
         EXPECT_TRUE(Logged("app input 1 39"));
       }});
}

TEST_F(ScrollTest, FocusBelowTheViewScrollsInBottomAligned) {
  MakeApp();
  CtlScrollPanel* p = nullptr;
  CtlScrollPanel* q = nullptr;
  Run({[&] {
         p = MakePanel(10, 100, Box);
         m_rows[5]->SetFocus();  // 500-600, the view 0-400
       },
       [&] {
         EXPECT_EQ(Scroll(p), 200);
         EXPECT_EQ(p->TrackedControl(), m_rows[5]);
         // Entering off screen while another row is tracked: the focus goes
         // back to the tracked row.
         StartView()->SetFocus();
         m_rows[1]->SetFocus();
       },
       [&] {
         EXPECT_TRUE(m_rows[5]->IsFocused());
         EXPECT_EQ(Scroll(p), 200);
         delete p;
         m_rows.clear();
         // Above the view with nothing tracked: top-aligned.
         p = MakePanel(10, 100, Box);
         p->OnDrag(300);
         m_rows[2]->SetFocus();
       },
       [&] {
         EXPECT_EQ(Scroll(p), 200);
         delete p;
         m_rows.clear();
         // Taller than the view: ends bottom-aligned.
         q = MakePanel(2, 700, Box);
         StartView()->SetFocus();
         m_rows[1]->SetFocus();  // 700-1400
       },
       [&] {
         EXPECT_EQ(Scroll(q), 1000);
         // A focus outside the content moves nothing.
         StartView()->SetFocus();
       },
       [&] { EXPECT_EQ(Scroll(q), 1000); }});
}

TEST_F(ScrollTest, UpAndDownStepThroughFocusStopsInsideRows) {
  MakeApp();
  CtlScrollPanel* p = nullptr;
  std::vector<CControl*> inner;
  // Each row a button holding a focusable button of its own.
  auto row = [&inner](CtlPanel* pParent) -> CControl* {
    CtlAdvButton* pRow = CtlAdvButton::Create(pParent);
    inner.push_back(CtlButton::Create(pRow));
    return pRow;
  };
  auto key = [&p](uint32_t vk) { return p->OnInput(TInputEvent{1, vk, 0, 0}); };
  Run({[&] {
         p = MakePanel(3, 100, row);
         m_rows[0]->SetFocus();
       },
       [&] {
         const struct {
           uint32_t vk;
           CControl* pFocused;
         } steps[] = {{plat::VK_DOWN, inner[0]}, {plat::VK_DOWN, m_rows[1]}, {plat::VK_DOWN, inner[1]},
                      {plat::VK_UP, m_rows[1]},  {plat::VK_UP, inner[0]},    {plat::VK_UP, m_rows[0]}};
         for (const auto& s : steps) {
           EXPECT_TRUE(key(s.vk));
           EXPECT_TRUE(s.pFocused->IsFocused());
         }
       }});
}

TEST_F(ScrollTest, RelayoutHandlerTrackingAndTeardown) {
  MakeApp();
  CtlScrollPanel* p = nullptr;
  TCounter relayouts;
  Run({[&] {
         p = MakePanel(3, 100, Box);
         p->SetRelayoutHandler(relayouts.Delegate());
         p->MoveTo(RECT{0, 100, 480, 450});  // a resize relayouts at once
         EXPECT_EQ(relayouts.n, 1);
         p->Relayout();
         p->Relayout();  // one message
         EXPECT_EQ(relayouts.n, 1);
       },
       [&] {
         EXPECT_EQ(relayouts.n, 2);
         // Content shorter than the view: no bar on drags, position 0.
         EXPECT_EQ(p->ScrollBar()->Position(), 0);
         p->OnDrag(10);
         EXPECT_FALSE(p->ScrollBar()->IsVisible());
         ExpectPanic([&] { CtlStatic::Create(p); }, u"CtlScrollPanel", 49);
         m_rows[2]->SetFocus();
       },
       [&] {
         EXPECT_EQ(p->TrackedControl(), m_rows[2]);
         delete m_rows[2];
         EXPECT_EQ(p->TrackedControl(), nullptr);
         StartView()->SetFocus();
         m_rows[1]->SetFocus();
       },
       [&] {
         EXPECT_EQ(p->TrackedControl(), m_rows[1]);
         // A move between rows passes the panel by; leaving tracks the row
         // the focus left.
         m_rows[0]->SetFocus();
         StartView()->SetFocus();
         EXPECT_EQ(p->TrackedControl(), m_rows[0]);
         // Deleting the panel while it tracks a live control.
         p->Relayout();
         delete p;
       }});
}

TEST_F(ScrollTest, AContentChildWithoutANodeInTheCellPanics) {
  MakeApp();
  Run({[&] {
    CtlScrollPanel* p = MakePanel(2, 100, Box);
    Box(p->GetContentPanel());  // bound nowhere
    p->MoveTo(RECT{0, 100, 480, 420});
  }});
  auto boxes = m_tp->MessageBoxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().text, u"CtlScrollPanel, 110: ");
}

}  // namespace
