#include "app/RowParts.h"

#include <algorithm>

#include "app/ScreenSupport.h"

#include "framework/AppUi.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "platform/ui/Ui.h"
#include "platform/url/Url.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"

namespace {

// Makes one state's record the edited one.
void EditSkin(CSkinnedButton* p, int32_t nSkin) {
  switch (nSkin) {
    case ESkinFocused: p->EditFocusedSkin(); break;
    case ESkinNormal: p->EditNormalSkin(); break;
    default: p->EditPressedSkin(); break;
  }
}

// One state's centre slice.
void SetCentre(CSkinnedButton* p, int32_t nSkin, int32_t nId) {
  EditSkin(p, nSkin);
  p->SetSlice4(nId);
}

// Runs a description on the button's skin tree and finishes it.
template <class F>
void EditSkinTree(CSkinnedButton* p, F&& build) {
  TInnerLayoutEdit edit = p->EditInnerLayout();
  build(edit.pNode);
  if (edit.bPending) edit.finisher.Call();
}

CtlStatic* NewCaption(CControl* pParent, int32_t nAlign, TColor colour) {
  CtlStatic* p = CtlStatic::Create(pParent);
  p->SetAlignment(nAlign);
  p->SetTextStyle(EPlaceCenter);
  p->SetTextColor(colour, EColorSolid);
  return p;
}

// Focused and pressed centre slices of the choice and link rows.
void SetRowFocusSlices(CSkinnedButton* p) {
  uint32_t nTheme = GetThemeIndex();
  if (nTheme > 1) return;
  SetCentre(p, ESkinFocused, nTheme == 0 ? 237 : 240);
  SetCentre(p, ESkinPressed, nTheme == 0 ? 238 : 241);
}

int32_t RowCaptionMargin() { return static_cast<int32_t>(ScreenLargerSide() * 10 * 0.00125); }

// The caption box of a details or choice row spans (nearly) the whole row,
// so fitting the font to the box would draw the text as tall as the row and
// cut it off. The captions take the application's standard text height
// instead, shrunk only where the box (the upper line of a two-line row) is
// lower than that.
void RowCaptionFont(CDelegate*, void* pObject, void* pArgument) {
  auto* pQuery = static_cast<TAutoFitQuery*>(pArgument);
  if (!pQuery) return;
  RECT box = static_cast<const CtlStatic*>(pObject)->InnerBox();
  pQuery->nResult = RowCaptionFontHeight(box.bottom - box.top);
}

void FitRowCaption(CtlStatic* pCaption) {
  pCaption->SetAutoFitHandler(CDelegate(pCaption, nullptr, &RowCaptionFont));
}

void FitDetailsCaption(CtlStatic* pCaption) {
  FitRowCaption(pCaption);
  int32_t nMargin = RowCaptionMargin();
  pCaption->SetMargins(nMargin, nMargin);
}

void RecordCaptionFont(CDelegate*, void* pObject, void* pArgument) {
  if (auto* pQuery = static_cast<TAutoFitQuery*>(pArgument))
    pQuery->nResult = static_cast<CRecordButtonPart*>(pObject)->CaptionFontHeight();
}

// The press and release callbacks of a row button swap the picture of a
// static; the row's stored triple says which.
struct TImageSwap {
  static void Press(CDelegate*, void* pObject, void* pArgument) {
    static_cast<CtlStatic*>(pObject)->SetImageId(static_cast<int32_t>(reinterpret_cast<intptr_t>(pArgument)), true);
  }
};

void BindStateImages(CImageButton* pButton, CtlStatic* pTarget, int32_t (&anImages)[3], int32_t nNormal,
                     int32_t nPressed, int32_t nReleased) {
  anImages[0] = nNormal;
  anImages[1] = nPressed;
  anImages[2] = nReleased;
  if (!pTarget) return;
  pTarget->SetImageId(nNormal, true);
  if (!pButton) return;
  pButton->SetPressCallback(CDelegate(pTarget, reinterpret_cast<void*>(static_cast<intptr_t>(nPressed)), &TImageSwap::Press));
  pButton->SetReleaseCallback(
      CDelegate(pTarget, reinterpret_cast<void*>(static_cast<intptr_t>(nReleased)), &TImageSwap::Press));
}

}  // namespace

int32_t RowCaptionFontHeight(int32_t nInnerHeight) {
  int32_t nStandard = StandardHeightNow(kRowCaptionHeightIndex);
  if (nStandard < 1) nStandard = 12;  // the application's tree is not laid out yet
  return nInnerHeight > 1 ? std::min(nStandard, nInnerHeight) : nStandard;
}

int32_t ScreenLargerSide() {
  return std::max(plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN));
}

int32_t ScreenSmallerSide() {
  return std::min(plat::GetSystemMetrics(plat::SM_CXSCREEN), plat::GetSystemMetrics(plat::SM_CYSCREEN));
}

int32_t MainWindowLargerSide() {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp) return 0;
  RECT rc = pApp->Rect();
  return std::max(rc.right - rc.left, rc.bottom - rc.top);
}

// The bar's thumb covers the played share from the left edge: the bright
// fill is the thumb and the groove the track, as on the recorder's bar.
void SetRowBarImages(CtlScrollBar* pBar) {
  uint32_t nTheme = GetThemeIndex();
  pBar->SetImages(-1, nTheme == 1 ? 44 : 41, -1, -1, 47, -1);
}

// ---------------------------------------------------------------------------

void CRecordButtonPart::Build(CControl* pParent) {
  TColor text = ThemeTextColor(GetThemeIndex());
  pButton = CtlAdvButton::Create(pParent);
  pIcon = CtlStatic::Create(pButton);
  pIcon->SetImageId(160, true);
  pCaption = NewCaption(pButton, EAlignLeft, text);
  pCaption->SetAutoFitHandler(CDelegate(this, nullptr, &RecordCaptionFont));
  pRecordingCaption1 = NewCaption(pButton, EAlignLeft, text);
  pRecordingCaption1->SetAutoFit(true);
  pRecordingCaption1->SetTextId(41);
  pRecordingCaption1->SetVisible(false);
  pRecordingCaption2 = NewCaption(pButton, EAlignLeft, text);
  pRecordingCaption2->SetAutoFit(true);
  pRecordingCaption2->SetTextId(42);
  pRecordingCaption2->SetVisible(false);
  EditSkinTree(pButton, BuildSquareCornerLayout);
  BuildRecorderPartLayoutA(pButton->GetChildLayout());
  pButton->AttachChild(pIcon, 10);
  pButton->AttachChild(pCaption, 8);
  pButton->AttachChild(pRecordingCaption1, 226);
  pButton->AttachChild(pRecordingCaption2, 227);
  m_bRecording = true;
  SetRecording(false);
}

void CRecordButtonPart::SetRecording(bool bRecording) {
  if (!pButton) return;
  m_bRecording = bRecording;
  pRecordingCaption1->SetVisible(bRecording);
  pRecordingCaption2->SetVisible(bRecording);
  pCaption->SetVisible(!bRecording);
  for (int32_t nSkin = 0; nSkin < ESkinCount; ++nSkin) {
    EditSkin(pButton, nSkin);
    pButton->SetSliceRange(bRecording ? 256 : nSkin == ESkinPressed ? 247 : 265);
  }
  pButton->Invalidate();
}

int32_t CRecordButtonPart::CaptionFontHeight() const {
  CLayoutNode* pRoot = pButton ? pButton->GetChildLayout() : nullptr;
  CLayoutNode* pNode = pRoot ? pRoot->FindNode(234, -1) : nullptr;
  if (!pNode || !pNode->IsLaidOut() || pNode->GetHeight() < 1) return 12;
  return pNode->GetHeight();
}

// ---------------------------------------------------------------------------

void CTwoButtonPartA::Build(CControl* pParent) {
  pButton = CtlAdvButton::Create(pParent);
  pCaption = NewCaption(pButton, EAlignLeftSingle, ThemeAccentTextColor(GetThemeIndex()));
  pCaption->SetAutoFit(true);
  int32_t nMargin = RowCaptionMargin();
  pCaption->SetMargins(nMargin, nMargin);
  EditSkinTree(pButton, BuildCapCornerLayout);
  for (int32_t nSkin = 0; nSkin < ESkinCount; ++nSkin) {
    EditSkin(pButton, nSkin);
    int32_t nFirst = nSkin == ESkinPressed ? 231 : 228;
    pButton->SetSlice3(nFirst).SetSlice4(nFirst + 1).SetSlice5(nFirst + 2);
  }
  BuildTwoButtonPartLayoutA(pButton->GetChildLayout());
  pButton->AttachChild(pCaption, 61);
}

void CTwoButtonPartB::Build(CControl* pParent) {
  uint32_t nTheme = GetThemeIndex();
  pButton = CtlAdvButton::Create(pParent);
  pCaption = NewCaption(pButton, EAlignCenterSingle, ThemeBackgroundColor(nTheme));
  nCaptionFont = std::max(1, MainWindowLargerSide() * 36 / 748);
  pCaption->SetFont(TFontDesc{nCaptionFont});
  EditSkinTree(pButton, BuildNoCornerLayout);
  SetCentre(pButton, ESkinNormal, 234);
  SetCentre(pButton, ESkinFocused, 235);
  SetCentre(pButton, ESkinPressed, nTheme == 1 ? 215 : 236);
  BuildTwoButtonPartLayoutB(pButton->GetChildLayout());
  pButton->AttachChild(pCaption, 61);
}

void CChoiceRow::Build(CControl* pParent) {
  pButton = CtlAdvButton::Create(pParent);
  pTick = CtlStatic::Create(pButton);
  pTick->SetImageId(242, true);
  pTick->SetVisible(false);
  pCaption = NewCaption(pButton, EAlignLeftSingle, ThemeTextColor(GetThemeIndex()));
  FitRowCaption(pCaption);
  EditSkinTree(pButton, BuildNoCornerLayout);
  SetCentre(pButton, ESkinNormal, 239);
  SetRowFocusSlices(pButton);
  BuildView8PartLayout(pButton->GetChildLayout());
  pButton->AttachChild(pTick, 60);
  pButton->AttachChild(pCaption, 61);
}

// ---------------------------------------------------------------------------

void CDetailsLinkRow::BuildCommon(CControl* pParent) {
  pButton = CreateImageButton(pParent);
  pIcon = CtlStatic::Create(pButton);
  pCaption = NewCaption(pButton, EAlignLeftSingle, ThemeTextColor(GetThemeIndex()));
  FitDetailsCaption(pCaption);
  EditSkinTree(pButton, BuildThinCornerLayout);
  SetRowFocusSlices(pButton);
}

void CDetailsRowA::Build(CControl* pParent, int32_t nMode) {
  BuildCommon(pParent);
  if (nMode == 1) {
    pCaption2 = NewCaption(pButton, EAlignLeftSingle, ThemePainterColor(GetThemeIndex()));
    FitDetailsCaption(pCaption2);
  }
  pBar = CtlScrollBar::Create(pButton, 0, 100, 0, 0, CtlScrollBar::EHorizontal, 0);
  pBar->SetReadOnly(true);
  SetRowBarImages(pBar);
  pBar->SetVisible(false);
  BuildDetailsPartLayoutA(pButton->GetChildLayout(), nMode);
  pButton->AttachChild(pIcon, 10);
  pButton->AttachChild(pCaption, 11);
  if (pCaption2) pButton->AttachChild(pCaption2, 12);
  pButton->AttachChild(pBar, 13);
}

void CDetailsRowB::Build(CControl* pParent) {
  BuildCommon(pParent);
  BuildDetailsPartLayoutB(pButton->GetChildLayout());
  pButton->AttachChild(pIcon, 10);
  pButton->AttachChild(pCaption, 11);
}

// ---------------------------------------------------------------------------

void CRecordListItem::Build(CControl* pParent) {
  TColor text = ThemeTextColor(GetThemeIndex());
  pButton = CreateImageButton(pParent);
  ApplyListItemSkin(pButton);
  pPlay = CImageToggle::Create(pButton);
  pTitle = NewCaption(pButton, EAlignLeftSingle, text);
  pTitle->SetAutoFit(true);
  pTitle->SetTextId(62);
  pSubtitle = NewCaption(pButton, EAlignLeftSingle, text);
  pSubtitle->SetAutoFit(true);
  if (GetAppSettings())
    if (CHTTPUserModel* pUsers = AppSettings::GetUserModel()) pSubtitle->SetText(pUsers->UserName());
  pBar = CtlScrollBar::Create(pButton, 0, 100, 0, 0, CtlScrollBar::EHorizontal, 0);
  pBar->SetReadOnly(true);
  SetRowBarImages(pBar);
  pButton->AttachChild(pTitle, 18);
  pButton->AttachChild(pSubtitle, 19);
  pButton->AttachChild(pPlay, 20);
  pButton->AttachChild(pBar, 21);
}

// ---------------------------------------------------------------------------

void SetRowHighlight(CDetailsLinkRow& row, bool bOn) {
  if (!row.pButton) return;
  uint32_t nTheme = GetThemeIndex();
  row.pButton->SetEnabled(bOn);
  row.pCaption->SetTextColor(bOn ? ThemeTextColor(nTheme) : ThemeSecondaryTextColor(nTheme), EColorSolid);
  row.pIcon->SetImageId(bOn ? row.nOnImage : row.nOffImage, true);
}

void ShowChild(CChoiceRow& row, bool bShow) {
  if (row.pTick) row.pTick->SetVisible(bShow);
}

void SetButtonStateImages(CRecordListItem& row, int32_t nNormal, int32_t nPressed, int32_t nReleased) {
  BindStateImages(row.pButton, row.pPlay, row.anStateImages, nNormal, nPressed, nReleased);
}

void SetButtonStateImages(CDetailsLinkRow& row, int32_t nNormal, int32_t nPressed, int32_t nReleased) {
  BindStateImages(row.pButton, row.pIcon, row.anStateImages, nNormal, nPressed, nReleased);
}

bool IsHttpUrl(plat::WStringView url) {
  plat::UrlParts parts;
  return plat::CrackUrl(url, parts) && !parts.host.empty() && parts.scheme == plat::INTERNET_SCHEME_HTTP;
}
