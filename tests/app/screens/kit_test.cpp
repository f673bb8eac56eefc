#include <gtest/gtest.h>

#include "app/EditBar.h"
#include "app/ImageToggle.h"
#include "app/RecorderPanelPainter.h"
#include "app/RowParts.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "tests/app/screens/KitTestSupport.h"

using namespace apptest;
using namespace widgettest;
using namespace kittest;

namespace {

class KitTest : public KitFixture {};

// The node of the button's children tree a control is bound to.
CLayoutNode* ChildNode(CtlAdvButton* pButton, int32_t nId) { return pButton->GetChildLayout()->FindNode(nId, -1); }

TEST_F(KitTest, ImageToggleTapsDragsAndEnter) {
  MakeApp();
  CImageToggle* p = nullptr;
  TCounter click;
  POINT c{};
  Run({[&] {
         RegisterAll();
         MakeFeedbackFiles();
         p = CImageToggle::Create(StartView());
         p->MoveTo(RECT{10, 300, 110, 360});
         p->SetImages(219, 222, 218);
         p->SetToggleClickHandler(click.Delegate());
         c = Centre(p);
         plat::ResetDeviceServices();
         m_tp->Down(c.x, c.y);
       },
       [&] {
         EXPECT_TRUE(p->IsPressed());
         EXPECT_EQ(p->ShownSlot(), 218);
         EXPECT_EQ(Count(kPressFeedback), 1);
         m_tp->Up(c.x, c.y);
       },
       [&] {
         EXPECT_EQ(click.n, 1);
         EXPECT_EQ(Count(kReleaseFeedback), 1);
         EXPECT_FALSE(p->IsPressed());
         m_tp->Down(c.x, c.y);  // a press that becomes a drag
       },
       [&] { m_tp->Move(c.x, c.y + 2); }, [&] { m_tp->Move(c.x, c.y + 4); }, [&] { m_tp->Move(c.x, c.y + 6); },
       [&] { m_tp->Move(c.x, c.y + 8); }, [&] { m_tp->Up(c.x, c.y + 8); },
       [&] {
         EXPECT_EQ(click.n, 1);
         m_tp->Tap(c.x, c.y);  // the drag's count ends at the next press
       },
       [&] {
         EXPECT_EQ(click.n, 2);
         m_tp->Down(c.x, c.y);  // leaving the rectangle restores the resting picture
       },
       [&] { m_tp->Move(c.x, c.y + 200); }, [&] { m_tp->Up(c.x, c.y + 200); },
       [&] {
         EXPECT_FALSE(p->IsPressed());
         EXPECT_EQ(p->ShownSlot(), p->IsFocused() ? 222 : 219);
         EXPECT_EQ(click.n, 2);
         p->SetFocus();
         EXPECT_EQ(p->ShownSlot(), 222);
         EXPECT_TRUE(p->OnInput(TInputEvent{1, plat::VK_RETURN, 0, 0}));
         EXPECT_EQ(p->ShownSlot(), 218);
         EXPECT_TRUE(p->OnInput(TInputEvent{0, plat::VK_RETURN, 0, 0}));
         EXPECT_EQ(click.n, 3);
         EXPECT_EQ(p->ShownSlot(), 222);
       }});
}

TEST_F(KitTest, TitleBarCaptionKeyTenAndFont) {
  InAppSized(240, 400, [&] {
    CEditBar bar;
    BuildEditBar(bar, StartView(), 0);
    CtlAdvButton* pBar = bar.Bar();
    ASSERT_NE(pBar, nullptr);
    EXPECT_TRUE(bar.pBack->IsEnabled());  // the bar does not disable what it carries
    EXPECT_EQ(pBar->Skin(ESkinNormal).anSlice[4], 216);
    pBar->MoveTo(RECT{0, 0, 240, 38});
    EXPECT_TRUE(bar.pCaption->Text().empty());
    EXPECT_EQ(bar.pCaption->LayoutNode(), ChildNode(pBar, 61));
    EXPECT_EQ(bar.pBack->LayoutNode(), ChildNode(pBar, 60));
    EXPECT_EQ(bar.pButton->LayoutNode(), ChildNode(pBar, 62));
    // The caption is a few pixels high at this size: the font stays usable.
    ASSERT_NE(bar.pCaption->Font(), nullptr);
    EXPECT_GE(EditBarCaptionFont(bar.pCaption->Rect().bottom - bar.pCaption->Rect().top), 1);
    EXPECT_EQ(EditBarCaptionFont(3), 1);
    EXPECT_EQ(EditBarCaptionFont(30), 24);
    EXPECT_FALSE(bar.pButton->IsShown());
    ShowEditBarButton(bar, true);
    EXPECT_TRUE(bar.pButton->IsShown());
    EXPECT_GT(bar.pButton->Rect().right - bar.pButton->Rect().left, 0);
    ShowEditBarButton(bar, false);
    EXPECT_FALSE(bar.pButton->IsShown());
    bar.pCaption->SetText(u"Later");
    EXPECT_EQ(bar.pCaption->Text(), u"Later");
  });
}

TEST_F(KitTest, BackButtonImagesFollowTheTheme) {
  InAppSized(480, 800, [&] {
    struct {
      uint32_t nTheme;
      int32_t anImages[3];
    } cases[] = {{0, {219, 219, 218}}, {1, {221, 222, 220}}, {2, {-1, -1, -1}}};
    for (auto& c : cases) {
      SetThemeIndex(c.nTheme);
      CEditBar bar;
      BuildEditBar(bar, StartView(), 0);
      for (int i = 0; i < 3; ++i) EXPECT_EQ(bar.pBack->ImageSlot(i), c.anImages[i]) << c.nTheme;
    }
    SetThemeIndex(0);
  });
}

TEST_F(KitTest, PainterDrawsItsPictureOnlyWhereTheBandIsClipped) {
  InAppSized(480, 800, [&] {
    CtlPanel* pPanel = NewControl<CtlPanel>([&](CtlPanel* p) { p->Create(StartView()); });
    CRecorderPanelPainter painter;
    painter.SetImage(149);
    pPanel->SetPainter(&painter);
    pPanel->MoveTo(RECT{0, 100, 480, 700});
    EXPECT_EQ(painter.BandRect().bottom - painter.BandRect().top, 75);
    EXPECT_EQ(painter.BandRect().top, 100);
    auto g = pPanel->CreateGraphics();
    painter.Paint(*g, RECT{0, 0, 480, 600}, RECT{0, 300, 480, 600});  // below the band
    EXPECT_EQ(painter.DrawCount(), 0);
    painter.Paint(*g, RECT{0, 0, 480, 600}, RECT{0, 70, 480, 80});  // through it
    EXPECT_EQ(painter.DrawCount(), 1);
    pPanel->SetPainter(nullptr);
  });
}

TEST_F(KitTest, RecordButtonLooksAndCaptionFont) {
  InAppSized(480, 800, [&] {
    CRecordButtonPart part;
    part.Build(StartView());
    EXPECT_EQ(part.CaptionFontHeight(), 12);  // not laid out yet
    EXPECT_EQ(part.pButton->Skin(ESkinNormal).anSlice[0], 265);
    EXPECT_EQ(part.pButton->Skin(ESkinFocused).anSlice[8], 273);
    EXPECT_EQ(part.pButton->Skin(ESkinPressed).anSlice[0], 247);
    EXPECT_FALSE(part.pRecordingCaption1->IsVisible());
    part.pButton->MoveTo(RECT{40, 300, 440, 420});
    CLayoutNode* p234 = ChildNode(part.pButton, 234);
    ASSERT_TRUE(p234->IsLaidOut());
    EXPECT_EQ(part.CaptionFontHeight(), p234->GetHeight());
    EXPECT_EQ(part.pIcon->LayoutNode(), ChildNode(part.pButton, 10));
    EXPECT_EQ(part.pCaption->LayoutNode(), ChildNode(part.pButton, 8));
    part.SetRecording(true);
    for (int32_t s = 0; s < ESkinCount; ++s) EXPECT_EQ(part.pButton->Skin(s).anSlice[0], 256);
    EXPECT_TRUE(part.pRecordingCaption1->IsVisible());
    EXPECT_TRUE(part.pRecordingCaption2->IsVisible());
    EXPECT_FALSE(part.pCaption->IsVisible());
    part.SetRecording(false);
    EXPECT_EQ(part.pButton->Skin(ESkinPressed).anSlice[4], 251);
    EXPECT_TRUE(part.pCaption->IsVisible());
  });
}

// Every part at both orientations: built, laid out and bound.
TEST_F(KitTest, PartsBuildAndBindInBothOrientations) {
  for (auto size : {SIZE{480, 800}, SIZE{800, 480}}) {
    InAppSized(size.cx, size.cy, [&] {
      RECT rc{10, 200, size.cx - 10, 300};
      CTwoButtonPartA a;
      a.Build(StartView());
      a.pButton->MoveTo(rc);
      EXPECT_EQ(a.pCaption->LayoutNode(), ChildNode(a.pButton, 61));
      EXPECT_EQ(a.pButton->Skin(ESkinPressed).anSlice[3], 231);
      EXPECT_EQ(a.pButton->Skin(ESkinNormal).anSlice[5], 230);
      EXPECT_EQ(a.pCaption->Margins().x, std::max(size.cx, size.cy) / 80);

      CChoiceRow choice;
      choice.Build(StartView());
      choice.pButton->MoveTo(rc);
      EXPECT_EQ(choice.pTick->LayoutNode(), ChildNode(choice.pButton, 60));
      EXPECT_FALSE(choice.pTick->IsVisible());
      ShowChild(choice, true);
      EXPECT_TRUE(choice.pTick->IsVisible());

      CDetailsRowA rowA0, rowA1;
      rowA0.Build(StartView(), 0);
      rowA1.Build(StartView(), 1);
      rowA0.pButton->MoveTo(rc);
      rowA1.pButton->MoveTo(rc);
      EXPECT_EQ(rowA0.pCaption2, nullptr);
      ASSERT_NE(rowA1.pCaption2, nullptr);
      EXPECT_EQ(rowA1.pCaption2->LayoutNode(), ChildNode(rowA1.pButton, 12));
      EXPECT_EQ(rowA0.pBar->LayoutNode(), ChildNode(rowA0.pButton, 13));
      EXPECT_FALSE(rowA0.pBar->IsVisible());
      EXPECT_TRUE(rowA0.pBar->IsReadOnly());

      CDetailsRowB rowB;
      rowB.Build(StartView());
      rowB.pButton->MoveTo(rc);
      EXPECT_EQ(rowB.pIcon->LayoutNode(), ChildNode(rowB.pButton, 10));
      EXPECT_EQ(rowB.pBar, nullptr);

      CRecordListItem item;
      item.Build(StartView());
      BuildUserListItemLayout(item.pButton->GetChildLayout());
      item.pButton->MoveTo(rc);
      EXPECT_EQ(item.pPlay->LayoutNode(), ChildNode(item.pButton, 20));
      EXPECT_EQ(item.pBar->LayoutNode(), ChildNode(item.pButton, 21));
      EXPECT_EQ(item.pTitle->Text(), CResources::GetString(62));
    });
  }
}

// The font follows the main window, which is the screen less the menu bar.
TEST_F(KitTest, PartBCaptionFontAndPressedImageByTheme) {
  struct {
    int32_t w, h;
    uint32_t nTheme;
    int32_t nFont, nPressed;
  } cases[] = {{480, 800, 0, 35, 236}, {800, 480, 1, 38, 215}, {240, 400, 0, 17, 236}};
  for (auto& c : cases) {
    InAppSized(c.w, c.h, [&] {
      SetThemeIndex(c.nTheme);
      CTwoButtonPartB b;
      b.Build(StartView());
      b.pButton->MoveTo(RECT{0, 100, c.w, 200});
      EXPECT_EQ(b.pButton->Skin(ESkinPressed).anSlice[4], c.nPressed);
      EXPECT_EQ(b.pButton->Skin(ESkinNormal).anSlice[4], 234);
      EXPECT_EQ(b.pButton->Skin(ESkinFocused).anSlice[4], 235);
      ASSERT_NE(b.pCaption->Font(), nullptr);
      EXPECT_EQ(b.pCaption->TextColor(), ThemeBackgroundColor(c.nTheme));
      EXPECT_EQ(b.nCaptionFont, c.nFont);
      SetThemeIndex(0);
    });
  }
}

TEST_F(KitTest, RowHighlightAndStateImages) {
  MakeApp();
  CDetailsRowB row;
  CRecordListItem item;
  POINT c{};
  Run({[&] {
         RegisterAll();
         row.Build(StartView());
         row.SetHighlightImages(197, 199);
         row.pButton->MoveTo(RECT{0, 200, 480, 280});
         SetRowHighlight(row, false);
         EXPECT_FALSE(row.pButton->IsEnabled());
         EXPECT_EQ(row.pCaption->TextColor(), ThemeSecondaryTextColor(0));
         c = Centre(row.pButton);
         m_tp->Tap(c.x, c.y);  // a dim row takes no tap
       },
       [&] {
         EXPECT_NE(row.pButton->CurrentSkin(), ESkinPressed);
         EXPECT_FALSE(row.pButton->IsFocused());
         SetRowHighlight(row, true);
         EXPECT_TRUE(row.pButton->IsEnabled());
         EXPECT_EQ(row.pCaption->TextColor(), ThemeTextColor(0));

         SetButtonStateImages(row, 190, 192, 191);
         EXPECT_EQ(row.anStateImages[1], 192);
         m_tp->Down(c.x, c.y);
       },
       [&] {
         EXPECT_EQ(row.pButton->CurrentSkin(), ESkinPressed);
         m_tp->Up(c.x, c.y);
       },
       [&] {
         item.Build(StartView());
         BuildUserListItemLayout(item.pButton->GetChildLayout());
         item.pButton->MoveTo(RECT{0, 400, 480, 500});
         SetButtonStateImages(item, 193, 194, 195);
         EXPECT_EQ(item.anStateImages[0], 193);
         EXPECT_EQ(item.anStateImages[2], 195);
       }});
}

TEST(KitUrlTest, OnlyHttpWithAHost) {
  struct {
    const char16_t* url;
    bool bHttp;
  } cases[] = {{u"http://h/x", true}, {u"HTTP://h", true}, {u"https://h/x", false}, {u"http://", false},
               {u"", false},          {u"ftp://h", false}, {u"/rel", false}};
  for (auto& c : cases) EXPECT_EQ(IsHttpUrl(c.url), c.bHttp) << plat::ToUtf8(c.url);
}

}  // namespace
