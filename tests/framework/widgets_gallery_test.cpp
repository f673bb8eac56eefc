// Draws every widget in its states on the generated art, one 480 x 800
// picture per theme, into docs/widgets/ for review.
#include <gtest/gtest.h>

#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "tests/framework/widget_scene.h"
#include "tests/framework/widgets_test_support.h"

using namespace apptest;
using namespace widgettest;

namespace {

class GalleryTest : public WidgetFixture {
 protected:
  plat::ModuleHandle m_hPack = nullptr;
};

// Shows record `n` of the button's skin as its normal look, so that all
// three states can stand side by side.
void ShowState(CSkinnedButton* p, int32_t n) {
  TSkinRecord r = p->Skin(n);
  p->EditNormalSkin();
  for (int32_t i = 0; i < 9; ++i) p->SetSlice(i, r.anSlice[i]);
}

CtlScrollPanel* BuildGallery(CView* pView) {
  RECT rc = pView->LocalRect();
  int32_t w = rc.right;
  // Title bar.
  CtlButton* pTitle = CtlButton::Create(pView);
  ApplyModeButtonSkinA(pTitle);
  pTitle->MoveTo(RECT{0, 0, w, 70});
  pTitle->SetCaption(u"Widget gallery");
  pTitle->SetIcon(157, true);

  // Every preset in its three states.
  using TPreset = void (*)(CSkinnedButton*);
  const TPreset presets[] = {ApplyModeButtonSkinA, ApplyModeButtonSkinB, ApplyUserPageButtonSkin,
                             ApplyEditBarButtonSkin, ApplyRowButtonSkin, ApplyListItemSkin};
  const char16_t* names[3] = {u"Focused", u"Normal", u"Pressed"};
  int32_t y = 76;
  for (size_t k = 0; k < std::size(presets); ++k, y += 58) {
    for (int32_t n = 0; n < 3; ++n) {
      RECT cell{4 + n * (w / 3), y, (n + 1) * (w / 3) - 4, y + 54};
      if (k < 4) {
        CtlButton* p = CtlButton::Create(pView);
        presets[k](p);
        ShowState(p, n);
        p->MoveTo(cell);
        p->SetCaption(names[n]);
        p->SetCaptionAlignment(EAlignCenterSingle);
      } else {
        CtlAdvButton* p = CtlAdvButton::Create(pView);
        presets[k](p);
        ShowState(p, n);
        CtlStatic* pText = CtlStatic::Create(p);
        pText->SetAutoFit(true);
        pText->SetAlignment(EAlignCenterSingle);
        pText->SetText(names[n]);
        BuildListItemPartLayout(p->GetChildLayout());
        p->AttachChild(pText, 11);
        p->MoveTo(cell);
      }
    }
  }
  // Statics: plain, scrolled marquee, picture, links, animation, bars.
  CtlStatic* pText = CtlStatic::Create(pView);
  pText->MoveTo(RECT{4, y, w / 2 - 4, y + 30});
  pText->SetFont(TFontDesc{22, false, false, false});
  pText->SetText(u"A plain text");
  CtlStatic* pMarquee = CtlStatic::Create(pView);
  pMarquee->MoveTo(RECT{w / 2 + 4, y, w - 4, y + 30});
  pMarquee->SetFont(TFontDesc{22, true, false, false});
  pMarquee->SetAlignment(EAlignLeftSingle);
  pMarquee->SetText(u"A marquee text wider than its box, caught mid-scroll");
  y += 36;
  CtlLink* pLink = CtlLink::Create(pView);
  pLink->MoveTo(RECT{4, y, w / 2 - 4, y + 30});
  pLink->SetFont(TFontDesc{22, false, false, false});
  pLink->SetText(u"A link");
  CtlLink* pFocusedLink = CtlLink::Create(pView);
  pFocusedLink->MoveTo(RECT{w / 2 + 4, y, w - 4, y + 30});
  pFocusedLink->SetFont(TFontDesc{22, false, false, false});
  pFocusedLink->SetText(u"A focused link");
  pFocusedLink->SetFocus();
  y += 36;
  CtlStatic* pPicture = CtlStatic::Create(pView);
  pPicture->MoveTo(RECT{4, y, 64, y + 60});
  pPicture->SetImageId(160, true);
  CtlAnimation* pBusy = CtlAnimation::Create(pView);
  pBusy->MoveTo(RECT{72, y, 132, y + 60});
  for (int32_t id : {157, 158, 159}) pBusy->AddFrame(id);
  CtlScrollBar* pProgress = CtlScrollBar::Create(pView, 0, 100, 40, 60, CtlScrollBar::EHorizontal, 0);
  pProgress->SetReadOnly(true);
  pProgress->SetImages(-1, 38, -1, -1, 38, -1);
  pProgress->MoveTo(RECT{140, y + 25, w - 40, y + 35});
  CtlScrollBar* pBar = CtlScrollBar::Create(pView, 0, 100, 30, 30, CtlScrollBar::EVertical, 0);
  pBar->SetImages(37, 38, 39, -1, -1, -1);
  pBar->MoveTo(RECT{w - 24, y, w - 8, y + 60});
  y += 66;
  // A scroll panel of list rows with its bar shown by a drag, and the soft
  // keys below.
  CtlScrollPanel* pPanel = CtlScrollPanel::Create(pView);
  pPanel->SetScrollBarImages(37, 38, 39, -1, -1, -1);
  std::vector<TLayoutOp> ops;
  using namespace LayoutOps;
  for (int32_t i = 0; i < 6; ++i)
    for (TLayoutOp op : {Node(200, i), H(0, P, 0), H(1, P, 1), V(0, P, 0, px(i * widgetscene::kRowHeight)),
                         Height(px(widgetscene::kRowHeight)), End})
      ops.push_back(op);
  RunLayoutTable(pPanel->GetContentLayout(), ops, "gallery rows");
  for (int32_t i = 0; i < 6; ++i) {
    CtlAdvButton* pRow = CtlAdvButton::Create(pPanel->GetContentPanel());
    ApplyListItemSkin(pRow);
    widgetscene::BuildRowChildren(pRow->GetChildLayout());
    CtlStatic* pIcon = CtlStatic::Create(pRow);
    pIcon->SetImageId(160, true);
    pRow->AttachChild(pIcon, 1);
    CtlStatic* pTitleText = CtlStatic::Create(pRow);
    pTitleText->SetAutoFit(true);
    pTitleText->SetText(u"A list row");
    pRow->AttachChild(pTitleText, 2);
    pRow->SetLayoutNode(pPanel->GetContentLayout()->FindNode(200, i));
  }
  pPanel->MoveTo(RECT{0, y, w, rc.bottom - widgetscene::kSoftKeyHeight});
  return pPanel;
}

TEST_F(GalleryTest, WritesOnePicturePerTheme) {
  for (uint32_t theme = 0; theme < 3; ++theme) {
    MakePlatform({});
    MakeApp();
    bool bArt = false;
    Run({[&] {
      gfx::PinTestFont();
      SetThemeIndex(theme);
      m_hPack = widgetscene::RegisterArt(m_tp->DeviceRoot(), QUOREL_MAIN_PACK);
      if (!m_hPack) return;
      bArt = true;
      StartView()->m_pA->SetVisible(false);
      StartView()->m_pB->SetVisible(false);
      StartView()->SetColor(ThemeBackgroundColor(theme));
      CtlScrollPanel* pPanel = BuildGallery(StartView());
      CtlSoftKeyBar* pLeft = CtlSoftKeyBar::Create(StartView(), CtlSoftKeyBar::ELeft);
      CtlSoftKeyBar* pRight = CtlSoftKeyBar::Create(StartView(), CtlSoftKeyBar::ERight);
      RECT rc = StartView()->LocalRect();
      pLeft->MoveTo(RECT{0, rc.bottom - widgetscene::kSoftKeyHeight, rc.right / 2, rc.bottom});
      pRight->MoveTo(RECT{rc.right / 2, rc.bottom - widgetscene::kSoftKeyHeight, rc.right, rc.bottom});
      pLeft->SetMargins(20, 20);
      pRight->SetMargins(20, 20);
      pRight->SetAlignment(EAlignRight);
      pLeft->SetText(u"Options");
      pRight->SetText(u"Back");
      StartView()->Invalidate();
      StartView()->FlushPaint();
      Tick(20);  // the marquee under way
      pPanel->OnDrag(40);  // the panel's bar shows
      EXPECT_TRUE(pPanel->ScrollBar()->IsVisible());
      StartView()->Invalidate();
      StartView()->FlushPaint();
      std::filesystem::create_directories(QUOREL_DOCS_DIR "/widgets");
      std::string name = std::string(QUOREL_DOCS_DIR) + "/widgets/theme" + std::to_string(theme) + ".png";
      EXPECT_TRUE(m_tp->SnapshotPng(name));
    }});
    m_app.reset();
    if (m_hPack) plat::FreeLibrary(m_hPack);
    m_hPack = nullptr;
    if (!bArt) GTEST_SKIP() << "no main pack at " << QUOREL_MAIN_PACK;
  }
  SetThemeIndex(0);
}

}  // namespace
