#include <gtest/gtest.h>

#include "framework/CtlStatic.h"
#include "framework/Feedback.h"
#include "tests/framework/appui_test_support.h"

using namespace apptest;

namespace {

class ControlTest : public AppFixture {
 protected:
  CtlPanel* m_pPanel = nullptr;
  CtlPainter* m_pPainter = nullptr;
  TBox* AddBox(CControl* pParent, const std::string& name, RECT rc) {
    auto* p = new TBox(&m_log, name, 0xFF112233u);
    p->Create(pParent);
    p->MoveTo(rc);
    return p;
  }
};

TEST_F(ControlTest, InvalidationSkipsHiddenControlsAndForwardsFromChildrenPaintedByTheParent) {
  MakeApp();
  Run({[&] {
    CView* pView = StartView();
    TBox* pA = StartView()->m_pA;
    pView->FlushPaint();
    ASSERT_TRUE(RectEquals(pView->DirtyRect(), RECT{}));
    // A child of a view is painted by it: its area dirties the view.
    EXPECT_TRUE(pA->IsPaintedByParent());
    pA->Invalidate(RECT{5, 5, 500, 500});
    EXPECT_TRUE(RectEquals(pView->DirtyRect(), RECT{15, 15, 110, 60}));  // clipped to the box
    pView->FlushPaint();
    pA->SetVisible(false);  // dirties the view where it was
    pView->FlushPaint();
    pA->Invalidate();
    EXPECT_TRUE(RectEquals(pView->DirtyRect(), RECT{}));
    // Children of the main window paint themselves.
    EXPECT_FALSE(pView->IsPaintedByParent());
    pView->SetVisible(false);
    pView->FlushPaint();
    pView->Invalidate();
    EXPECT_TRUE(RectEquals(pView->DirtyRect(), RECT{}));
    pView->SetVisible(true);
  }});
}

TEST_F(ControlTest, SmallMovesAreATapOneLongMoveIsADrag) {
  MakeApp();
  TBox* pA = nullptr;
  POINT c{};
  Run({[&] {
         pA = StartView()->m_pA;
         c = Centre(pA);
         MakeFeedbackFiles();
         plat::ResetDeviceServices();
         m_tp->Down(c.x, c.y);
       },
       [&] { m_tp->Move(c.x, c.y + 2); },
       [&] { m_tp->Move(c.x, c.y + 4); },
       [&] { m_tp->Move(c.x, c.y + 6); },
       [&] { m_tp->Up(c.x, c.y + 6); },
       [&] {
         EXPECT_TRUE(pA->m_bTapAtRelease);
         m_tp->Down(c.x, c.y);
       },
       [&] { m_tp->Move(c.x, c.y - 25); },
       [&] { m_tp->Up(c.x, c.y - 25); },
       [&] {
         EXPECT_FALSE(pA->m_bTapAtRelease);
         // The drag's first step and its end gave feedback.
         auto played = Played();
         EXPECT_NE(std::find(played.begin(), played.end(), "s 02_List Enter.wav"), played.end());
         EXPECT_NE(std::find(played.begin(), played.end(), "v \\Windows\\release.ivt"), played.end());
       }});
}

TEST_F(ControlTest, FocusMovesOffControlsThatGoAwayHideOrAreDisabled) {
  MakeApp();
  Run({[&] {
    CView* pView = StartView();
    TBox* pC = AddBox(pView, "C", RECT{200, 10, 250, 60});
    TBox* pD = AddBox(pC, "D", RECT{0, 0, 10, 10});
    pD->SetFocus();
    EXPECT_TRUE(pD->IsFocused());
    EXPECT_TRUE(pC->IsFocused());  // the chain carries the flag
    delete pD;
    EXPECT_EQ(m_app->FocusedControl(), pC);

    // Hiding: the next focusable, else the previous, else the main window.
    TBox* pA = StartView()->m_pA;
    TBox* pB = StartView()->m_pB;
    pA->SetFocus();
    pA->SetVisible(false);
    EXPECT_EQ(m_app->FocusedControl(), pB);
    pC->SetFocus();
    pC->SetVisible(false);
    EXPECT_EQ(m_app->FocusedControl(), pB);  // nothing after it: the previous one
    pB->SetEnabled(false);
    EXPECT_NE(m_app->FocusedControl(), pB);
    EXPECT_FALSE(pB->IsFocused());
  }});
}

TEST_F(ControlTest, FocusMovesSkipHiddenAndDisabledControlsAndStayInTheTopShownLayer) {
  MakeApp();
  Run({[&] {
    CView* pView = StartView();
    TBox* pA = StartView()->m_pA;
    TBox* pB = StartView()->m_pB;
    TBox* pHidden = AddBox(pView, "H", RECT{200, 10, 250, 60});
    TBox* pOff = AddBox(pView, "O", RECT{200, 100, 250, 150});
    TBox* pE = AddBox(pView, "E", RECT{300, 10, 350, 60});
    pHidden->SetVisible(false);
    pOff->SetEnabled(false);
    pA->SetNeighbours(pOff, nullptr, pHidden, pB);
    pHidden->SetRightNeighbour(pE);
    pE->SetLeftNeighbour(pOff);
    pB->SetNeighbours(nullptr, pA, nullptr, nullptr);
    struct TCase {
      const char* name;
      CControl* pFrom;
      bool (*move)();
      CControl* pTo;  // null: the move fails and the focus stays
    } cases[] = {
        {"next over hidden and disabled", pB, &CAppUi::FocusNext, pE},
        {"previous over them", pE, &CAppUi::FocusPrevious, pB},
        {"next at the end", pE, &CAppUi::FocusNext, nullptr},
        {"next from the application: first of the layer", m_app.get(), &CAppUi::FocusNext, pView},
        {"previous from the application: last of the layer", m_app.get(), &CAppUi::FocusPrevious, pE},
        {"right along a hidden link", pA, &CAppUi::FocusRight, pE},
        {"left to a disabled control only", pA, &CAppUi::FocusLeft, nullptr},
        {"down", pA, &CAppUi::FocusDown, pB},
        {"up", pB, &CAppUi::FocusUp, pA},
        {"up without a link", pA, &CAppUi::FocusUp, nullptr},
    };
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.name);
      c.pFrom->SetFocus();
      ASSERT_EQ(CAppUi::GetFocus(), c.pFrom);
      EXPECT_EQ(c.move(), c.pTo != nullptr);
      EXPECT_EQ(CAppUi::GetFocus(), c.pTo ? c.pTo : c.pFrom);
    }
    // A dialog layer on top: the moves stay in it.
    TBox* pDialog = AddBox(m_app.get(), "D", RECT{0, 300, 200, 400});
    m_app->SetChildLayer(pDialog, 1);
    EXPECT_EQ(CAppUi::GetFocus(), m_app.get());
    EXPECT_TRUE(CAppUi::FocusNext());
    EXPECT_EQ(CAppUi::GetFocus(), pDialog);
    EXPECT_FALSE(CAppUi::FocusNext());
    EXPECT_FALSE(CAppUi::FocusPrevious());
    delete pDialog;
  }});
}

TEST_F(ControlTest, InputThroughLayersLetsTheSoftKeyRowTakeTapsUnderADialog) {
  MakeApp();
  TBox* pDialog = nullptr;
  POINT c{};
  Run({[&] {
         pDialog = AddBox(m_app.get(), "D", RECT{0, 300, 200, 400});
         m_app->SetChildLayer(pDialog, 1);
         c = Centre(StartView()->m_pB);
         m_log.clear();
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_FALSE(Logged("B input 1 1 50 25"));
         CAppUi::SetInputThroughLayers(StartView(), true);  // the view and all below it
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_TRUE(Logged("B input 1 1 50 25"));
         EXPECT_TRUE(StartView()->IsInputThrough());
         EXPECT_FALSE(m_app->IsInputThrough());
       }});
}

class TDeltaSum {
 public:
  void Add(void* pDelta) { m_nSum += static_cast<int32_t>(reinterpret_cast<intptr_t>(pDelta)); }
  int32_t m_nSum = 0;
};

TEST_F(ControlTest, DragHandlerSetOnAllDescendantsReachesAGrandchildsDrag) {
  MakeApp();
  TDeltaSum sum;
  TBox* pGrandchild = nullptr;
  POINT c{};
  Run({[&] {
         TBox* pChild = AddBox(StartView(), "C", RECT{200, 200, 300, 300});
         pGrandchild = AddBox(pChild, "G", RECT{10, 10, 90, 90});
         StartView()->SetDragHandler(CDelegate::Member<&TDeltaSum::Add>(&sum), false);
         c = Centre(pGrandchild);
         m_tp->Down(c.x, c.y);
       },
       [&] { m_tp->Move(c.x, c.y - 30); },
       [&] {
         m_tp->Up(c.x, c.y - 30);
         EXPECT_EQ(sum.m_nSum, 0) << "only the view had it";
         StartView()->SetDragHandler(CDelegate::Member<&TDeltaSum::Add>(&sum), true);
         m_tp->Down(c.x, c.y);
       },
       [&] { m_tp->Move(c.x, c.y - 30); },
       [&] {
         m_tp->Up(c.x, c.y - 30);
         EXPECT_EQ(sum.m_nSum, 30);
       }});
}

TEST_F(ControlTest, EveryReleaseEndsTheHoldersDragUnlessTheReleaseDeletedIt) {
  MakeApp();
  TBox* pA = nullptr;
  POINT c{};
  bool bDeleted = false;
  Run({[&] {
         pA = StartView()->m_pA;
         pA->m_bEndDragOnRelease = false;  // ends no drag of its own
         c = Centre(pA);
         MakeFeedbackFiles();
         m_tp->Down(c.x, c.y);
       },
       [&] { m_tp->Move(c.x, c.y - 25); },
       [&] {
         plat::ResetDeviceServices();
         m_tp->Up(c.x, c.y - 25);
       },
       [&] {
         EXPECT_EQ(Played(), (std::vector<std::string>{"v \\Windows\\release.ivt"}));
         plat::ResetDeviceServices();
         m_tp->Down(c.x, c.y);
       },
       [&] {
         EXPECT_TRUE(Played().empty());
         m_tp->Up(c.x, c.y);
       },
       [&] {
         // A click that deletes the control it was given to.
         CtlStatic* pStatic = CtlStatic::Create(StartView());
         pStatic->MoveTo(RECT{300, 300, 400, 400}, false);
         pStatic->SetClickHandler(CDelegate(pStatic, &bDeleted, [](CDelegate*, void* p, void* pFlag) {
           delete static_cast<CtlStatic*>(p);
           *static_cast<bool*>(pFlag) = true;
         }));
         m_tp->Tap(350, 350);
       },
       [&] { EXPECT_TRUE(bDeleted); }});
}

TEST_F(ControlTest, DisablingAParentDisablesItsChildrenUntilItIsEnabledAgain) {
  MakeApp();
  Run({[&] {
    CView* pView = StartView();
    TBox* pC = AddBox(pView, "C", RECT{200, 10, 250, 60});
    TBox* pD = AddBox(pC, "D", RECT{0, 0, 10, 10});
    TBox* pE = AddBox(pC, "E", RECT{0, 20, 10, 30});
    pE->SetEnabled(false);
    pC->SetEnabled(false);
    EXPECT_EQ(pD->EnableState(), EnableOffByAncestor);
    EXPECT_EQ(pE->EnableState(), EnableOff);  // its own choice stays
    TBox* pF = AddBox(pC, "F", RECT{0, 40, 10, 50});
    EXPECT_EQ(pF->EnableState(), EnableOffByAncestor);
    pC->SetEnabled(true);
    EXPECT_EQ(pD->EnableState(), EnableOn);
    EXPECT_EQ(pF->EnableState(), EnableOn);
    EXPECT_EQ(pE->EnableState(), EnableOff);
  }});
}

class TPanelSpy : public CtlPanel {
 public:
  void OnChildAdded(CControl* p) override {
    ++m_nAdded;
    CtlPanel::OnChildAdded(p);
  }
  void OnChildRemoved(CControl* p) override {
    ++m_nRemoved;
    CtlPanel::OnChildRemoved(p);
  }
  int m_nAdded = 0, m_nRemoved = 0;
};

TEST_F(ControlTest, PanelFollowsWhetherAnyChildIsEnabled) {
  MakeApp();
  Run({[&] {
    auto* pOuter = new TPanelSpy;
    pOuter->Create(StartView());
    auto* pInner = new CtlPanel;
    pInner->Create(pOuter);
    int nAddedBefore = pOuter->m_nAdded;
    TBox* pOnly = AddBox(pInner, "O", RECT{0, 0, 5, 5});
    EXPECT_EQ(pOuter->m_nAdded, nAddedBefore + 1);  // forwarded to the grandparent
    EXPECT_TRUE(pInner->IsEnabled());
    pOnly->SetEnabled(false);
    delete AddBox(pInner, "T", RECT{0, 0, 5, 5});  // re-evaluates: only a disabled child left
    EXPECT_FALSE(pInner->IsEnabled());
    EXPECT_GE(pOuter->m_nRemoved, 1);
    TBox* pN = AddBox(pInner, "N", RECT{0, 0, 5, 5});
    EXPECT_TRUE(pInner->IsEnabled());
    // Neither event undoes the owner's own choice: a child going does not
    // enable a panel the owner disabled...
    TBox* pGoes = AddBox(pInner, "G", RECT{0, 0, 5, 5});
    pInner->SetEnabled(false);
    delete pGoes;
    EXPECT_FALSE(pInner->IsEnabled());
    // ...and a static coming does not disable one whose children the owner
    // disabled, so a child enabled again is enabled.
    pInner->SetEnabled(true);
    pN->SetEnabled(false);
    CtlStatic::Create(pInner);
    pN->SetEnabled(true);
    EXPECT_EQ(pN->EnableState(), EnableOn);
  }});
}

TEST_F(ControlTest, BrokenInvariantsPanicWithTheirLines) {
  MakeApp();
  Run({[&] {
    auto expectPanic = [](int32_t line, const std::function<void()>& f) {
      try {
        f();
        ADD_FAILURE() << "no panic for " << line;
      } catch (const TPanic& p) {
        EXPECT_EQ(p.line, line);
      }
    };
    TBox* pA = StartView()->m_pA;
    expectPanic(142, [&] { pA->Create(StartView()); });
    expectPanic(37, [&] { CControl::RegisterWindowClass(nullptr); });
    expectPanic(1652, [&] { m_app->SetChildLayer(pA, 1); });
    TBox loose(nullptr, "X", 0);
    CGraphics g(plat::GetDC(nullptr));
    expectPanic(762, [&] { loose.PaintParentBackground(g, POINT{}, RECT{0, 0, 1, 1}); });
    plat::ReleaseDC(nullptr, g.Dc());
  }});
}

TEST_F(ControlTest, DestroyingTheTargetCancelsItsPostedInput) {
  MakeApp();
  Run({[&] {
         TBox* pC = AddBox(StartView(), "C", RECT{200, 10, 250, 60});
         pC->PostInput(TInputEvent{1, 13, 0, 0});
         StartView()->m_pB->PostInput(TInputEvent{1, 14, 0, 0});
         m_log.clear();
         delete pC;
       },
       [&] {
         EXPECT_FALSE(Logged("C input 1 13 0 0"));
         // Offered to the target and then up its parents.
         EXPECT_TRUE(Logged("B input 1 14 0 0"));
         EXPECT_TRUE(Logged("app input 1 14"));
       }});
}

TEST_F(ControlTest, BringToFrontPaintsAndHitsTheSameControlOnTop) {
  MakeApp();
  Run({[&] {
         CView* pView = StartView();
         // Two self-painting overlapping panels under the main window.
         auto* pLow = new TBox(&m_log, "Low", 0xFFFF0000u);
         pLow->Create(m_app.get());
         pLow->MoveTo(RECT{100, 300, 200, 400});
         auto* pHigh = new TBox(&m_log, "High", 0xFF0000FFu);
         pHigh->Create(m_app.get());
         pHigh->MoveTo(RECT{100, 300, 200, 400});
         pLow->BringToFront();
         (void)pView;
       },
       [&] {
         m_log.clear();
         m_tp->Tap(150, 350);
       },
       [&] {
         EXPECT_TRUE(Logged("Low input 1 1 50 50"));
         EXPECT_FALSE(Logged("High input 1 1 50 50"));
         EXPECT_EQ(m_tp->Pixel(150, 350), To565(0xFFFF0000u));
       }});
}

class TStripes : public CtlPainter {
 public:
  void Paint(CGraphics& g, const RECT& rc, const RECT&) override {
    g.SetFillColor(0xFFFFFF00u, EColorSolid);
    g.SetLineColor(0, EColorOff);
    g.DrawRectangle(RECT{rc.left, rc.top, rc.left + (rc.right - rc.left) / 2, rc.bottom});
  }
  void Resize(const RECT& rcNew, const RECT& rcOld) override {
    m_sizes.push_back(std::to_string(rcNew.right - rcNew.left) + "x" + std::to_string(rcNew.bottom - rcNew.top) +
                      " from " + std::to_string(rcOld.right - rcOld.left));
  }
  std::vector<std::string> m_sizes;
};

TEST_F(ControlTest, PainterIsSizedPaintsTheBackgroundAndDetachesEitherWay) {
  MakeApp();
  Run({[&] {
         auto* pPanel = new CtlPanel;
         pPanel->Create(StartView());
         pPanel->MoveTo(RECT{200, 200, 300, 260});
         auto* pPainter = new TStripes;
         pPanel->SetPainter(pPainter);
         EXPECT_EQ(pPainter->m_sizes, std::vector<std::string>{"100x60 from 0"});
         pPanel->MoveTo(RECT{200, 200, 320, 260});
         EXPECT_EQ(pPainter->m_sizes.back(), "120x60 from 100");
         m_pPanel = pPanel;
         m_pPainter = pPainter;
       },
       [&] {
         RECT rc = m_pPanel->ScreenRect();
         EXPECT_EQ(m_tp->Pixel(rc.left + 5, rc.top + 5), To565(0xFFFFFF00u));
         EXPECT_EQ(m_tp->Pixel(rc.right - 5, rc.top + 5), To565(0xFF808080u));  // the view shows through
         delete m_pPainter;  // the panel forgets it
         EXPECT_EQ(m_pPanel->Painter(), nullptr);
         auto* pOther = new TStripes;
         m_pPanel->SetPainter(pOther);
         delete m_pPanel;  // the painter forgets the panel
         EXPECT_EQ(pOther->Panel(), nullptr);
         delete pOther;
       }});
}

TEST_F(ControlTest, ControlHiddenUnderTheMenuTakesNoTapAfterwards) {
  MakeApp();
  POINT c{};
  Run({[&] {
         c = Centre(StartView()->m_pA);
         m_app->SetMenuMode(true);
         StartView()->m_pA->SetVisible(false);
         StartView()->m_pB->SetVisible(false);
         StartView()->m_pB->SetVisible(true);
         m_app->SetMenuMode(false);
         m_log.clear();
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_FALSE(Logged("A input 1 1 50 25"));
         EXPECT_FALSE(plat::IsWindowVisible(StartView()->m_pA->Window()));
         EXPECT_TRUE(plat::IsWindowVisible(StartView()->m_pB->Window()));
       }});
}

TEST_F(ControlTest, RunWithoutASuccessfulInitFails) {
  TApp app(&m_log);
  EXPECT_EQ(app.Run(), 1);
}

}  // namespace
