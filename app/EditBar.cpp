#include "app/EditBar.h"

#include <algorithm>

#include "app/QuorelAppUi.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"

namespace {

constexpr int32_t kBarSlice = 216;

void FitCaption(CDelegate*, void* pObject, void* pArgument) {
  auto* pCaption = static_cast<CtlStatic*>(pObject);
  auto* pQuery = static_cast<TAutoFitQuery*>(pArgument);
  if (!pQuery) return;
  const RECT& rc = pCaption->Rect();
  pQuery->nResult = EditBarCaptionFont(rc.bottom - rc.top);
}

void OnBack(CDelegate*, void*, void*) { CQuorelAppUi::BackOrCancelFollowUp(); }

}  // namespace

int32_t EditBarCaptionFont(int32_t nCaptionHeight) { return std::max(1, nCaptionHeight - 6); }

void BuildEditBar(CEditBar& bar, CControl* pParent, int32_t nCaptionId) {
  uint32_t nTheme = GetThemeIndex();
  CtlAdvButton* pBar = bar.binder.CreateClickable(pParent);
  // Inert, but not disabled: a disabled button disables the back and
  // right-hand buttons attached to it. It has no click, no feedback and one
  // look in every state.
  pBar->SetPressFeedback(0);
  pBar->SetReleaseFeedback(0);
  for (auto edit : {&CSkinnedButton::EditFocusedSkin, &CSkinnedButton::EditNormalSkin, &CSkinnedButton::EditPressedSkin}) {
    (pBar->*edit)();
    pBar->SetSlice4(kBarSlice);
  }

  bar.pBack = CImageToggle::Create(pBar);
  if (nTheme == 0)
    bar.pBack->SetImages(219, 219, 218);
  else if (nTheme == 1)
    bar.pBack->SetImages(221, 222, 220);
  bar.pBack->SetToggleClickHandler(CDelegate(nullptr, nullptr, &OnBack));

  bar.pButton = CtlButton::Create(pBar);
  TInnerLayoutEdit edit = bar.pButton->EditInnerLayout();
  BuildEditBarPartLayout(edit.pNode);
  if (edit.bPending) edit.finisher.Call();
  ApplyEditBarButtonSkin(bar.pButton);
  bar.pButton->SetCaptionAlignment(EAlignCenterSingle);
  bar.pButton->SetCaptionMarquee(true);
  bar.pButton->SetCaptionColor(ThemeTextColor(nTheme));
  bar.pBack->SetRightNeighbour(bar.pButton);
  bar.pButton->SetLeftNeighbour(bar.pBack);

  bar.pCaption = CtlStatic::Create(pBar);
  bar.pCaption->SetAlignment(EAlignLeftSingle);
  bar.pCaption->SetTextStyle(EPlaceCenter);
  bar.pCaption->SetTextColor(ThemeTextColor(nTheme), EColorSolid);
  bar.pCaption->SetAutoFitHandler(CDelegate(bar.pCaption, nullptr, &FitCaption));
  if (nCaptionId != 0) bar.pCaption->SetTextId(nCaptionId);

  TInnerLayoutEdit skin = pBar->EditInnerLayout();
  BuildNoCornerLayout(skin.pNode);
  if (skin.bPending) skin.finisher.Call();
  BuildEditBarLayout(pBar->GetChildLayout());
  pBar->GetChildLayout()->SelectVariants(10, 0);
  pBar->AttachChild(bar.pBack, 60);
  pBar->AttachChild(bar.pCaption, 61);
  pBar->AttachChild(bar.pButton, 62);
}

void ShowEditBarButton(CEditBar& bar, bool bShow) {
  CtlAdvButton* pBar = bar.Bar();
  if (!pBar) return;
  // Only the content tree changes: the skin tree keeps the bar's zero
  // corners (the default button layout would inset the whole bar).
  CLayoutNode* pContent = pBar->GetChildLayout();
  pContent->SelectVariants(10, bShow ? 1 : 0);
  const RECT& rc = pBar->Rect();
  if (rc.right > rc.left && rc.bottom > rc.top) pBar->LayoutInto(pContent);
}
