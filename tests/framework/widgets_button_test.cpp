#include <gtest/gtest.h>

#include "framework/CtlButton.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "tests/framework/widgets_test_support.h"

using namespace apptest;
using namespace widgettest;

namespace {

// Slices 0-8 of the test skin: one solid colour each.
constexpr TColor kSlice[9] = {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u, 0x00FFFFu,
                              0xFF00FFu, 0x800000u, 0x008000u, 0x000080u};
constexpr int32_t kFirstSlot = 400;

class ButtonTest : public WidgetFixture {
 protected:
  void RegisterSkin() {
    for (int32_t i = 0; i < 9; ++i) RegisterSolid(kFirstSlot + i, 15, 15, kSlice[i]);
  }
  // A button at `rc` with the test skin in all three records and the given
  // corner size.
  CtlButton* MakeButton(RECT rc, int32_t nCorner) {
    CtlButton* p = CtlButton::Create(StartView());
    p->MoveTo(rc);
    for (auto edit : {&CtlButton::EditFocusedSkin, &CtlButton::EditNormalSkin, &CtlButton::EditPressedSkin}) {
      (p->*edit)();
      p->SetSliceRange(kFirstSlot);
    }
    p->SetCornerSize(nCorner, nCorner);
    return p;
  }
};

TEST_F(ButtonTest, NineSlicesCutAtHalfTheButton) {
  InApp([&] {
    RegisterSkin();
    // 40 x 20 with 15 x 15 corners: the corners show 15 x 10, the top and
    // bottom edges 10 x 10, no sides and no centre.
    CtlButton* p = MakeButton(RECT{10, 300, 50, 320}, 15);
    Flush(p);
    struct {
      int32_t x, y, slice;
    } expect[] = {{0, 0, 0},   {14, 9, 0},  {15, 0, 1},  {24, 9, 1},  {25, 0, 2},  {39, 9, 2},
                  {0, 10, 6},  {14, 19, 6}, {15, 10, 7}, {24, 19, 7}, {25, 10, 8}, {39, 19, 8}};
    for (auto& e : expect) EXPECT_EQ(Px(p, e.x, e.y), C(kSlice[e.slice])) << e.x << "," << e.y;

    // An odd width: the left corners keep the odd pixel.
    CtlButton* q = MakeButton(RECT{100, 300, 125, 340}, 15);
    Flush(q);
    EXPECT_EQ(Px(q, 12, 0), C(kSlice[0]));
    EXPECT_EQ(Px(q, 13, 0), C(kSlice[2]));
    EXPECT_EQ(Px(q, 12, 20), C(kSlice[3]));  // sides, cut the same way
    EXPECT_EQ(Px(q, 13, 20), C(kSlice[5]));
    EXPECT_EQ(Px(q, 12, 39), C(kSlice[6]));
    EXPECT_EQ(Px(q, 13, 39), C(kSlice[8]));

    // Large enough for every slice.
    CtlButton* r = MakeButton(RECT{200, 300, 260, 350}, 15);
    Flush(r);
    EXPECT_EQ(Px(r, 30, 25), C(kSlice[4]));
    EXPECT_EQ(Px(r, 5, 25), C(kSlice[3]));
    EXPECT_EQ(Px(r, 55, 25), C(kSlice[5]));
  });
}

TEST_F(ButtonTest, PointerGesturesClickAndFeedback) {
  MakeApp();
  CtlButton* p = nullptr;
  TCounter click, press, state;
  POINT c{};
  auto reset = [&] {
    click = press = state = TCounter{};
    plat::ResetDeviceServices();
  };
  Run({[&] {
         MakeFeedbackFiles();
         p = CtlButton::Create(StartView());
         p->MoveTo(RECT{10, 300, 210, 360});
         p->SetClickHandler(click.Delegate());
         p->SetPressHandler(press.Delegate());
         p->SetStateHandler(state.Delegate());
         c = Centre(p);
         reset();
         m_tp->Down(c.x, c.y);  // press, move out, release outside
       },
       [&] {
         EXPECT_EQ(p->CurrentSkin(), ESkinPressed);
         EXPECT_EQ(press.n, 1);
         m_tp->Move(c.x, c.y + 100);
       },
       [&] { m_tp->Up(c.x, c.y + 100); },
       [&] {
         EXPECT_EQ(click.n, 0);
         EXPECT_EQ(Count(kReleaseFeedback), 0);
         EXPECT_EQ(p->CurrentSkin(), ESkinFocused);
         EXPECT_EQ(state.last, ESkinFocused);
         reset();
         m_tp->Down(c.x, c.y);  // four drag steps inside
       },
       [&] { m_tp->Move(c.x, c.y + 2); }, [&] { m_tp->Move(c.x, c.y + 4); }, [&] { m_tp->Move(c.x, c.y + 6); },
       [&] { m_tp->Move(c.x, c.y + 8); }, [&] { m_tp->Up(c.x, c.y + 8); },
       [&] {
         EXPECT_EQ(click.n, 0);
         EXPECT_EQ(Count(kReleaseFeedback), 1);
         reset();
         m_tp->Tap(c.x, c.y);  // a tap
       },
       [&] {
         EXPECT_EQ(click.n, 1);
         EXPECT_EQ(Count(kPressFeedback), 1);
         EXPECT_EQ(Count(kReleaseFeedback), 1);
         // Disabled: nothing, unless active when disabled.
         reset();
         p->SetEnabled(false);
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_EQ(click.n, 0);
         p->SetActiveWhenDisabled(true);
         m_tp->Tap(c.x, c.y);
       },
       [&] {
         EXPECT_EQ(click.n, 1);
         EXPECT_EQ(p->CurrentSkin(), ESkinNormal);
       }});
}

TEST_F(ButtonTest, EnterHeldPressesOnceAndItsReleaseClicks) {
  InApp([&] {
    MakeFeedbackFiles();
    CtlAdvButton* p = CtlAdvButton::Create(StartView());
    p->MoveTo(RECT{10, 300, 210, 360});
    TCounter click, focus, blur;
    p->SetClickHandler(click.Delegate());
    p->SetFocusHandler(focus.Delegate());
    p->SetBlurHandler(blur.Delegate());
    EXPECT_FALSE(p->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0}));  // not focused
    p->SetFocus();
    EXPECT_EQ(focus.n, 1);
    EXPECT_EQ(p->CurrentSkin(), ESkinFocused);
    plat::ResetDeviceServices();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(p->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0}));
    EXPECT_EQ(p->CurrentSkin(), ESkinPressed);
    EXPECT_EQ(Count(kPressFeedback), 1);
    EXPECT_EQ(click.n, 0);
    EXPECT_TRUE(p->OnInput(TInputEvent{0, plat::VK_RETURN, 0, 0}));
    EXPECT_EQ(click.n, 1);
    EXPECT_EQ(p->CurrentSkin(), ESkinFocused);
    EXPECT_FALSE(p->OnInput(TInputEvent{1, plat::VK_LEFT, 0, 0}));
    StartView()->SetFocus();
    EXPECT_EQ(blur.n, 1);
    EXPECT_EQ(p->CurrentSkin(), ESkinNormal);
  });
}

TEST_F(ButtonTest, BrokenInvariantsPanicWithTheirLines) {
  InApp([&] {
    CtlButton* b = CtlButton::Create(StartView());
    CtlAdvButton* a = CtlAdvButton::Create(StartView());
    for (int32_t i = 0; i < 9; ++i) {
      ExpectPanic([&] { b->SetSlice(i, 1); }, u"CtlButton", 155 + 9 * i);
      ExpectPanic([&] { a->SetSlice(i, 1); }, u"CtlAdvButton", 123 + 9 * i);
    }
    ExpectPanic([&] { b->SetSlice0(1); }, u"CtlButton", 155);
    ExpectPanic([&] { b->SetCornerSize(-1, 0); }, u"CtlButton", 236);
    ExpectPanic([&] { a->SetCornerSize(0, -1); }, u"CtlAdvButton", 204);

    // Inner layouts: the finisher checks, building does not.
    TInnerLayoutEdit e = b->EditInnerLayout();
    BuildSquareCornerLayout(e.pNode);  // a corner only
    ExpectPanic([&] { e.finisher.Call(); }, u"CtlButton", 114);
    e = b->EditInnerLayout();
    BuildButtonLayout(e.pNode, false, true, false);
    e.finisher.Call();  // every node exists, collapsed or not
    e = a->EditInnerLayout();
    ExpectPanic([&] { e.finisher.Call(); }, u"CtlAdvButton", 82);
    e = a->EditInnerLayout();
    BuildSquareCornerLayout(e.pNode);
    e.finisher.Call();

    // Attaching: a foreign child panics, -1 does nothing, an id replaces.
    CtlStatic* pForeign = CtlStatic::Create(StartView());
    ExpectPanic([&] { a->AttachChild(pForeign, 5); }, u"CtlAdvButton", 582);
    CtlStatic* s1 = CtlStatic::Create(a);
    CtlStatic* s2 = CtlStatic::Create(a);
    a->AttachChild(s1, -1);
    EXPECT_EQ(a->AttachmentCount(), 0u);
    a->AttachChild(s1, 11);
    a->AttachChild(s2, 11);
    EXPECT_EQ(a->AttachmentCount(), 1u);
    EXPECT_TRUE(s2->IsPaintedByParent());
    // The child layout places the attachment.
    BuildListItemPartLayout(a->GetChildLayout());
    a->MoveTo(RECT{0, 400, 300, 460});
    EXPECT_EQ(a->AttachmentCount(), 1u);
    EXPECT_EQ(s1->LayoutNode(), nullptr);
    EXPECT_EQ(s2->Rect().left, 8);
    EXPECT_EQ(s2->Rect().right, 300 - 8);
    delete s2;  // a child deleted first leaves its attachment
    a->MoveTo(RECT{0, 400, 300, 470});
    EXPECT_EQ(a->AttachmentCount(), 0u);
  });
}

TEST_F(ButtonTest, PresetsFillTheRecordsByTheme) {
  InApp([&] {
    // Expected ids per record: a first id for a range (slices first..first+8),
    // or the all-slices id with a bottom and a centre override (-2: none).
    struct TRec {
      int32_t nRange, nAll, nBottom, nCentre;
    };
    constexpr TRec kUnset{-1, -1, -2, -2};
    auto range = [](int32_t n) { return TRec{n, 0, -2, -2}; };
    auto flat = [](int32_t nBottom, int32_t nCentre) { return TRec{-1, 0, nBottom, nCentre}; };
    struct TCase {
      void (*apply)(CSkinnedButton*);
      bool bAdv;
      TRec rec[3][3];  // theme, record
    } cases[] = {
        {ApplyModeButtonSkinA, false, {{range(171), range(171), range(171)}, {range(171), range(171), range(171)},
                                       {range(171), range(171), range(171)}}},
        {ApplyModeButtonSkinB, false, {{range(162), range(180), range(162)}, {range(162), range(180), range(162)},
                                       {range(162), range(180), range(162)}}},
        {ApplyUserPageButtonSkin, false, {{flat(-2, 212), flat(-2, 212), flat(-2, 214)},
                                          {flat(-2, 213), flat(-2, 212), flat(-2, 215)},
                                          {flat(-2, -2), flat(-2, 212), flat(-2, -2)}}},
        {ApplyEditBarButtonSkin, false, {{range(310), range(310), range(283)}, {range(301), range(310), range(292)},
                                         {kUnset, range(310), kUnset}}},
        {ApplyRowButtonSkin, true, {{range(10), range(19), range(28)}, {range(10), range(19), range(28)},
                                    {range(10), range(19), range(28)}}},
        {ApplyListItemSkin, true, {{flat(274, 237), flat(274, -2), flat(274, 238)},
                                   {flat(274, 240), flat(274, -2), flat(274, 241)},
                                   {flat(274, -2), flat(274, -2), flat(274, -2)}}},
    };
    for (const TCase& c : cases) {
      for (uint32_t theme = 0; theme < 3; ++theme) {
        SetThemeIndex(theme);
        CSkinnedButton* p = c.bAdv ? static_cast<CSkinnedButton*>(CtlAdvButton::Create(StartView()))
                                   : CtlButton::Create(StartView());
        c.apply(p);
        for (int32_t r = 0; r < 3; ++r) {
          const TRec& e = c.rec[theme][r];
          for (int32_t i = 0; i < 9; ++i) {
            int32_t want = e.nRange >= 0 ? e.nRange + i : e.nAll;
            if (i == 7 && e.nBottom != -2) want = e.nBottom;
            if (i == 4 && e.nCentre != -2) want = e.nCentre;
            EXPECT_EQ(p->Skin(r).anSlice[i], want) << "theme " << theme << " record " << r << " slice " << i;
          }
        }
        delete p;
      }
    }
    SetThemeIndex(0);
  });
}

TEST_F(ButtonTest, CaptionPartsFollowTheInnerLayoutAndFocus) {
  InApp([&] {
    RegisterSolid(310, 10, 10, 0xFF0000u);
    RegisterSolid(311, 10, 10, 0x00FF00u);
    CtlButton* p = CtlButton::Create(StartView());
    p->MoveTo(RECT{0, 100, 240, 180});
    p->SetCaption(u"Caption");
    p->SetCaptionAlignment(EAlignLeftSingle);
    p->SetIcon(310, true);
    p->SetFocusedIcon(311);
    int32_t cw = p->CornerSize().cx;
    EXPECT_EQ(cw, 480 / 40);
    // Caption: the upper half of the inner box, right of the square icon.
    int32_t nInner = 80 - 2 * cw;
    EXPECT_TRUE(RectEquals(p->IconStatic()->Rect(), RECT{cw, cw, cw + nInner, cw + nInner}));
    EXPECT_EQ(p->Caption()->Rect().left, cw + nInner + cw);
    EXPECT_EQ(p->Caption()->Rect().bottom - p->Caption()->Rect().top, nInner / 2);
    ASSERT_NE(p->Caption()->Font(), nullptr);  // fitted without a font given
    EXPECT_EQ(p->Caption()->Font()->PixelHeight(), nInner / 2);
    EXPECT_FALSE(p->Caption()->MarqueeFlag());
    Flush(p);
    EXPECT_EQ(Px(p, cw + 5, cw + 5), C(0xFF0000u));
    p->SetFocus();
    EXPECT_TRUE(p->Caption()->MarqueeFlag());
    EXPECT_TRUE(p->SubCaption()->MarqueeFlag());
    Flush(p);
    EXPECT_EQ(Px(p, cw + 5, cw + 5), C(0x00FF00u));
    StartView()->SetFocus();
    EXPECT_FALSE(p->Caption()->MarqueeFlag());
    p->SetForceMarquee(true);
    EXPECT_TRUE(p->Caption()->MarqueeFlag());
  });
}

}  // namespace
