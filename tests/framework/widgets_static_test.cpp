#include <gtest/gtest.h>

#include "framework/CtlStatic.h"
#include "framework/Theme.h"
#include "tests/framework/widgets_test_support.h"

using namespace apptest;
using namespace widgettest;

namespace {

class StaticTest : public WidgetFixture {
 protected:
  CtlStatic* MakeText(RECT rc, plat::WStringView text, int32_t nAlign) {
    CtlStatic* p = CtlStatic::Create(StartView());
    p->MoveTo(rc);
    p->SetFont(TFontDesc{20, false, false, false});
    p->SetAlignment(nAlign);
    p->SetText(text);
    return p;
  }
};

constexpr char16_t kLong[] = u"A marquee text that is much wider than its little box";

TEST_F(StaticTest, MarqueeScrollsOnlyTextWiderThanItsBox) {
  InApp([&] {
    // Narrow: drawn in the whole box and never scrolls.
    CtlStatic* pShort = MakeText(RECT{10, 10, 210, 40}, u"Hi", EAlignLeftSingle);
    Flush(pShort);
    EXPECT_EQ(pShort->TextWidth(), 200);
    Tick(30);
    EXPECT_EQ(pShort->MarqueeOffset(), 0);
    EXPECT_FALSE(pShort->IsSubscribed());

    // Wide: a pause of 10 steps, 7 px a tick at width 480, a wrap after the
    // text and a quarter box of gap, then the pause again.
    CtlStatic* pLong = MakeText(RECT{10, 50, 210, 80}, kLong, EAlignLeftSingle);
    Flush(pLong);
    int32_t w = pLong->TextWidth();
    ASSERT_GT(w, 200);
    EXPECT_EQ(pLong->MarqueeOffset(), -70);
    std::vector<int32_t> offsets;
    for (int i = 0; i < 200; ++i) {
      Tick();
      offsets.push_back(pLong->MarqueeOffset());
    }
    EXPECT_EQ(offsets[9], 0);   // tenth tick: still pausing
    EXPECT_EQ(offsets[10], 7);  // then 7 px a tick
    EXPECT_EQ(offsets[11], 14);
    auto wrap = std::find(offsets.begin() + 11, offsets.end(), -70);
    ASSERT_NE(wrap, offsets.end());
    int32_t nLast = *(wrap - 1);
    EXPECT_LT(nLast, w + 200 / 4);
    EXPECT_GE(nLast + 7, w + 200 / 4);
    EXPECT_EQ(*(wrap + 10), 0);  // pausing again
    EXPECT_EQ(*(wrap + 11), 7);

    // Wider than the inner box but narrower than the control: cut, so it
    // scrolls too.
    CtlStatic* pMid = MakeText(RECT{10, 90, 10 + w + 20, 120}, kLong, EAlignLeftSingle);
    pMid->SetMargins(20, 0);
    Flush(pMid);
    Tick(12);
    EXPECT_GT(pMid->MarqueeOffset(), 0);

    // Aligned modes never subscribe.
    CtlStatic* pWrap = MakeText(RECT{10, 130, 210, 160}, kLong, EAlignLeft);
    Flush(pWrap);
    EXPECT_FALSE(pWrap->IsSubscribed());
  });
}

TEST_F(StaticTest, AutoFitFallsBackKeepsOrCreatesTheFont) {
  InApp([&] {
    CtlStatic* p = CtlStatic::Create(StartView());
    p->MoveTo(RECT{0, 0, 100, 20});
    p->SetMargins(0, 12);  // inner height below 2
    p->SetAutoFit(true);
    p->SetFont(TFontDesc{30, true, false, false});
    ASSERT_NE(p->Font(), nullptr);
    EXPECT_EQ(p->Font()->PixelHeight(), 12);
    EXPECT_TRUE(p->Font()->Desc().bBold);
    p->MoveTo(RECT{0, 0, 100, 25});  // inner height 1: the font stays
    EXPECT_EQ(p->Font()->PixelHeight(), 12);
    p->MoveTo(RECT{0, 0, 100, 40});  // inner height 16: a bold copy
    EXPECT_EQ(p->Font()->PixelHeight(), 16);
    EXPECT_TRUE(p->Font()->Desc().bBold);

    // No font yet: a plain one of the fitted height.
    CtlStatic* q = CtlStatic::Create(StartView());
    q->SetAutoFit(true);
    EXPECT_EQ(q->Font(), nullptr);
    q->MoveTo(RECT{0, 0, 100, 30});
    ASSERT_NE(q->Font(), nullptr);
    EXPECT_EQ(q->Font()->Desc(), (TFontDesc{30, false, false, false}));

    // The handler decides the height from the text and the inner width.
    struct THandler {
      int32_t nWidth = 0;
      void Fit(void* p) {
        auto* pq = static_cast<TAutoFitQuery*>(p);
        nWidth = pq->nWidth;
        pq->nResult = 17;
      }
    } handler;
    q->SetMargins(5, 0);
    q->SetAutoFitHandler(CDelegate::Member<&THandler::Fit>(&handler));
    EXPECT_EQ(handler.nWidth, 90);
    EXPECT_EQ(q->Font()->PixelHeight(), 17);

    // Without auto-fit a height of 0 is a bad argument.
    CtlStatic* r = CtlStatic::Create(StartView());
    try {
      r->SetFont(TFontDesc{0, false, false, false});
      ADD_FAILURE() << "no error";
    } catch (const Env::TSysErrorCode& e) {
      EXPECT_EQ(e.code, Env::ErrBadArgument);
    }
  });
}

TEST_F(StaticTest, PressDragOutAndReleaseRunsOnlyThePressHandler) {
  MakeApp();
  CtlStatic* p = nullptr;
  TCounter click, press;
  Run({[&] {
         p = CtlStatic::Create(StartView());
         p->MoveTo(RECT{10, 200, 110, 240});
         p->SetClickHandler(click.Delegate());
         p->SetPressHandler(press.Delegate());
         RECT rc = p->ScreenRect();
         m_tp->Down(rc.left + 50, rc.top + 20);
       },
       [&] { m_tp->Move(p->ScreenRect().left + 50, p->ScreenRect().top + 80); },
       [&] { m_tp->Up(p->ScreenRect().left + 50, p->ScreenRect().top + 80); },
       [&] {
         EXPECT_EQ(click.n, 0);
         EXPECT_EQ(press.n, 2);  // the press and the release outside
         // A tap inside clicks; the edges count as inside.
         EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 100, 40}));
         EXPECT_TRUE(p->OnInput(TInputEvent{0, KeyPointer, 100, 40}));
         EXPECT_EQ(click.n, 1);
         // Keys are not pointer events.
         EXPECT_FALSE(p->OnInput(TInputEvent{1, 13, 0, 0}));
       }});
}

TEST_F(StaticTest, ImageModesByPixels) {
  InApp([&] {
    RegisterSolid(300, 40, 20, 0xFF0000u);  // 2:1
    uint16_t back = C(0xFF808080u);         // the view
    struct {
      bool bSmooth;
      uint16_t band;
    } cases[] = {{true, back}, {false, C(0xFF0000u)}};
    int32_t y = 200;
    for (auto& c : cases) {
      CtlStatic* p = CtlStatic::Create(StartView());
      p->MoveTo(RECT{10, y, 50, y + 40});
      p->SetImageId(300, true);
      p->SetImageScaling(c.bSmooth);
      Flush(p);
      EXPECT_EQ(Px(p, 20, 3), c.band) << c.bSmooth;
      EXPECT_EQ(Px(p, 20, 36), c.band) << c.bSmooth;
      EXPECT_EQ(Px(p, 20, 20), C(0xFF0000u)) << c.bSmooth;
      EXPECT_EQ(Px(p, 1, 11), C(0xFF0000u)) << c.bSmooth;
      y += 50;
    }
    // A source bitmap instead of an id, unscaled: its own size at the
    // margins.
    CBitmap* pSource = CResources::GetImage(300, EScaleNone, RECT{});
    CtlStatic* p = CtlStatic::Create(StartView());
    p->MoveTo(RECT{100, 200, 200, 260});
    p->SetMargins(3, 4);
    p->SetImage(pSource, false);
    pSource->removeReference();
    Flush(p);
    EXPECT_EQ(Px(p, 3, 4), C(0xFF0000u));
    EXPECT_EQ(Px(p, 42, 23), C(0xFF0000u));
    EXPECT_EQ(Px(p, 44, 23), back);
    EXPECT_TRUE(RectEquals(p->Measure(), RECT{100, 200, 146, 228}));
    p->SetImage(nullptr, true);
    EXPECT_TRUE(RectEquals(p->Measure(), RECT{100, 200, 200, 260}));
  });
}

TEST_F(StaticTest, MeasureTextWrappedAndSingleLine) {
  InApp([&] {
    CtlStatic* p = MakeText(RECT{10, 20, 110, 50}, kLong, EAlignLeftSingle);
    p->SetMargins(4, 2);
    Flush(p);
    int32_t w = p->TextWidth();
    RECT m = p->Measure();  // unbounded: the whole line
    EXPECT_EQ(m.left, 10);
    EXPECT_EQ(m.top, 20);
    EXPECT_EQ(m.right, 10 + w + 4);
    int32_t nLine = m.bottom - 20 - 2;
    EXPECT_GT(nLine, 0);
    p->SetAlignment(EAlignLeft);  // wraps within the control's width
    RECT wrapped = p->Measure();
    EXPECT_LE(wrapped.right, 110 + 4);
    EXPECT_GE(wrapped.bottom - 20 - 2, 2 * nLine);
    CtlStatic* q = CtlStatic::Create(StartView());
    EXPECT_TRUE(RectEquals(q->Measure(), RECT{0, 0, 0, 0}));
  });
}

// ---------------------------------------------------------------------------

TEST_F(StaticTest, AnimationFramesLastPeriodPlusOneTicksAndStopWhenHidden) {
  InApp([&] {
    RegisterSolid(301, 8, 8, 0xFF0000u);
    RegisterSolid(302, 8, 8, 0x00FF00u);
    RegisterSolid(303, 8, 8, 0x0000FFu);
    CtlAnimation* pOne = CtlAnimation::Create(StartView());
    pOne->AddFrame(301);
    CtlAnimation* p = CtlAnimation::Create(StartView());
    p->MoveTo(RECT{300, 10, 308, 18});
    for (int32_t id : {301, 302, 303}) p->AddFrame(id);
    EXPECT_EQ(p->CurrentFrame(), 0);
    std::vector<int32_t> seen;
    for (int i = 0; i < 33; ++i) {
      Tick();
      seen.push_back(p->CurrentFrame());
      EXPECT_EQ(pOne->CurrentFrame(), 0);
    }
    for (int i = 0; i < 33; ++i) EXPECT_EQ(seen[i], ((i + 1) / 11) % 3) << i;
    Flush(p);
    EXPECT_EQ(Px(p, 4, 4), C(0xFF0000u));  // back at frame 0

    p->Show(false);
    EXPECT_FALSE(p->IsSubscribed());
    Tick(30);
    EXPECT_EQ(p->CurrentFrame(), 0);
    p->Show(true);
    EXPECT_TRUE(p->IsSubscribed());
    Tick(11);
    EXPECT_EQ(p->CurrentFrame(), 1);
  });
}

TEST_F(StaticTest, LinkKeysVisibilityAndFocusLook) {
  InApp([&] {
    CtlPanel* pClip = new CtlPanel();
    pClip->Create(StartView());
    pClip->MoveTo(RECT{0, 300, 200, 340});
    CtlLink* p = CtlLink::Create(pClip);
    p->MoveTo(RECT{0, 0, 100, 30});
    p->SetAlignment(EAlignLeftSingle);
    p->SetText(kLong);
    TCounter click;
    p->SetClickHandler(click.Delegate());
    EXPECT_FALSE(p->Font()->Desc().bUnderline);
    EXPECT_FALSE(p->MarqueeFlag());

    // Enter: the press is consumed, the release clicks, only when focused.
    EXPECT_FALSE(p->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0}));
    p->SetFocus();
    ASSERT_TRUE(p->IsFocused());
    EXPECT_TRUE(p->Font()->Desc().bUnderline);
    EXPECT_EQ(p->Font()->PixelHeight(), 12);
    EXPECT_TRUE(p->MarqueeFlag());
    EXPECT_EQ(p->TextColor(), ThemeLinkFocusedColor(GetThemeIndex()));
    EXPECT_TRUE(p->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0}));
    EXPECT_EQ(click.n, 0);
    EXPECT_TRUE(p->OnInput(TInputEvent{0, plat::VK_RETURN, 0, 0}));
    EXPECT_EQ(click.n, 1);
    EXPECT_FALSE(p->OnInput(TInputEvent{1, plat::VK_DOWN, 0, 0}));

    // A tap clicks while some of the link shows inside its ancestors.
    EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 5, 5}));
    EXPECT_TRUE(p->OnInput(TInputEvent{0, KeyPointer, 5, 5}));
    EXPECT_EQ(click.n, 2);
    p->MoveTo(RECT{0, 50, 100, 80});  // below its panel
    EXPECT_TRUE(p->OnInput(TInputEvent{1, KeyPointer, 5, 5}));
    EXPECT_TRUE(p->OnInput(TInputEvent{0, KeyPointer, 5, 5}));
    EXPECT_EQ(click.n, 2);

    StartView()->SetFocus();
    EXPECT_FALSE(p->Font()->Desc().bUnderline);
    EXPECT_FALSE(p->MarqueeFlag());
    EXPECT_EQ(p->TextColor(), ThemeLinkColor(GetThemeIndex()));
    p->SetFont(TFontDesc{16, true, false, false});
    EXPECT_EQ(p->Font()->Desc(), (TFontDesc{16, true, false, false}));
  });
}

}  // namespace
