#include "app/RecorderView.h"

#include "app/QuorelAppUi.h"
#include "framework/AppUi.h"
#include "framework/Theme.h"
#include "framework/Trace.h"
#include "layouts/Layouts.h"
#include "platform/base/Format.h"
#include "platform/ui/Ui.h"
#include "protocol/AppSettings.h"

namespace {

constexpr int32_t kSoftKeyNone = 0;
constexpr int32_t kCmdOptions = 14;
constexpr int32_t kCmdCancelRecording = 15;
constexpr int32_t kCmdGrab = 16;
constexpr int32_t kCmdSing = 17;
constexpr int32_t kSearchingView = 12;

int32_t CurrentMode() { return GetAppSettings() ? *AppSettings::SearchMode() : 0; }

plat::WString MinutesSeconds(int32_t nSeconds) {
  return plat::FormatW(u"%02d:%02d", nSeconds / 60, nSeconds % 60);
}

CSearchRecorder* Recorder() { return CQuorelAppUi::Recorder(); }

void SetBacklight(bool bOn) {
  if (CAppUi* pApp = CAppUi::Instance()) pApp->SetBacklightOn(bOn);
}

CtlStatic* NewLabel(CControl* pParent, int32_t nFont, TColor colour) {
  CtlStatic* p = CtlStatic::Create(pParent);
  p->SetFont(TFontDesc{nFont});
  p->SetTextColor(colour, EColorSolid);
  p->SetAutoFit(true);
  return p;
}

// The instruction under the headline reads at the headline's size and wraps
// in its own (much taller) box; fitted to that box it would be drawn a few
// letters high. The headline is laid out first, so its font is current.
void HeadlineFont(CDelegate*, void* pObject, void* pArgument) {
  auto* pQuery = static_cast<TAutoFitQuery*>(pArgument);
  const CFont* pFont = static_cast<const CtlStatic*>(pObject)->Font();
  if (pQuery && pFont) pQuery->nResult = pFont->PixelHeight();
}

}  // namespace

CtlButton* CreateModeButton(CControl* pParent, int32_t nMode) {
  CtlButton* p = CtlButton::Create(pParent);
  TInnerLayoutEdit edit = p->EditInnerLayout();
  BuildRecordButtonLayout(edit.pNode);
  if (edit.bPending) edit.finisher.Call();
  p->SetCaptionId(nMode == 0 ? 37 : 38);
  p->SetCaptionAlignment(EAlignCenter);
  p->SetEnabled(false);
  return p;
}

void ApplyModeLook(CtlButton* pSing, CtlButton* pGrab, int32_t nMode, int32_t nPressed) {
  uint32_t nTheme = GetThemeIndex();
  bool bGrab = nMode == 1;
  CtlButton* pOn = bGrab ? pGrab : pSing;
  CtlButton* pOff = bGrab ? pSing : pGrab;
  ApplyModeButtonSkinA(pOn);
  pOn->SetCaptionColor(ThemeButtonCaptionColor(nTheme));
  ApplyModeButtonSkinB(pOff);
  pOff->SetCaptionColor(ThemeButtonCaptionDimColor(nTheme));
  bool bThemed = nTheme <= 1;
  if (bGrab) {
    if (bThemed) pGrab->SetIcon(nTheme == 0 ? 154 : 327, false);
    pSing->SetIcon(nPressed == 0 && bThemed ? 159 : 158, false);
  } else {
    if (bThemed) pSing->SetIcon(nTheme == 0 ? 157 : 328, false);
    pGrab->SetIcon(nPressed == 1 && bThemed ? 156 : 155, false);
  }
}

CRecorderView::CRecorderView() { SetEnableStateRaw(EnableOn); }

CRecorderView::~CRecorderView() {
  if (s_pCurrent == this) s_pCurrent = nullptr;
  SetClosing();
}

CView* CRecorderView::NewView() { return new CRecorderView(); }

int32_t CRecorderView::LimitSeconds() { return CurrentMode() == 1 ? MaxSearchLengthSeconds() : 30; }

void CRecorderView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  s_pCurrent = this;
  CQuorelAppUi::StopPreview();
  CQuorelAppUi::StopRecorder();
  uint32_t nTheme = GetThemeIndex();
  BuildEditBar(m_bar, this, 0);

  m_pContent = NewControl<CtlPanel>([&](CtlPanel* p) { p->Create(this); });
  m_painter.SetImage(149);
  m_pContent->SetPainter(&m_painter);
  // The arrows choose the mode here, they do not move the focus.
  m_pContent->DisableArrowKeys();

  for (int32_t nMode = 0; nMode < 2; ++nMode) {
    CtlButton* p = CreateModeButton(m_pContent, nMode);
    p->SetPressFeedback(6);
    p->SetReleaseFeedback(7);
    p->SetActiveWhenDisabled(true);
    p->SetClickHandler(nMode == 0 ? CDelegate::Member<&CRecorderView::OnSingClick>(this)
                                  : CDelegate::Member<&CRecorderView::OnGrabClick>(this));
    void* pWhich = reinterpret_cast<void*>(static_cast<intptr_t>(nMode));
    p->SetPressHandler(CDelegate::Member<&CRecorderView::OnModePress>(this, pWhich));
    p->SetStateHandler(CDelegate::Member<&CRecorderView::OnModeState>(this, pWhich));
    (nMode == 0 ? m_pSing : m_pGrab) = p;
  }

  m_pPictureA = CtlStatic::Create(m_pContent);
  m_pPictureA->SetImageId(274, false);
  m_pHeadline = NewLabel(m_pContent, 24, ThemeTextColor(nTheme));
  m_pSubHeadline = NewLabel(m_pContent, 24, ThemePainterColor(nTheme));
  m_pSubHeadline->SetAutoFitHandler(CDelegate(m_pHeadline, nullptr, &HeadlineFont));
  m_pElapsed = NewLabel(m_pContent, 10, ThemePainterColor(nTheme));
  m_pElapsed->SetVisible(false);
  m_pLimit = NewLabel(m_pContent, 10, ThemePainterColor(nTheme));
  m_pLimit->SetAlignment(EAlignRight);
  m_pLimit->SetText(u"00:00");
  m_pLimit->SetVisible(false);

  m_part.Build(m_pContent);
  m_part.pButton->SetPressFeedback(9);
  m_part.pButton->SetClickHandler(CDelegate::Member<&CRecorderView::OnRecordClick>(this));
  m_part.pButton->SetFocus();
  SetSearchMode(CurrentMode());

  m_pProgress = CtlScrollBar::Create(m_pContent, 0, 100, 0, 0, CtlScrollBar::EHorizontal, 0);
  m_pProgress->SetReadOnly(true);
  if (nTheme == 0)
    m_pProgress->SetImages(40, 41, 42, 46, 47, 48);
  else if (nTheme == 1)
    m_pProgress->SetImages(43, 44, 45, 46, 47, 48);
  m_pProgress->SetVisible(false);
  m_pPictureB = CtlStatic::Create(m_pContent);
  m_pPictureB->SetImageId(282, true);

  CQuorelAppUi::SetRightSoftKey(kCmdOptions);
  m_startListener.Subscribe();
  m_activatedListener.Subscribe();
  m_rotatedListener.Subscribe();
  CQuorelAppUi::ShowNetworkMenuItem(true);
  m_bSquare = plat::GetSystemMetrics(plat::SM_CXSCREEN) == plat::GetSystemMetrics(plat::SM_CYSCREEN);
}

void CRecorderView::ApplyLayout(CLayoutNode* pNode) {
  m_pNode = pNode;
  BuildRecorderLayout(pNode);
  auto bind = [pNode](CControl* p, int32_t nId) { p->SetLayoutNode(pNode->FindNode(nId, -1)); };
  bind(m_pContent, 73);
  bind(m_part.pButton, 75);
  bind(m_pHeadline, 77);
  bind(m_pSubHeadline, 78);
  m_pHeadline->SetAlignment(m_bSquare ? EAlignCenter : EAlignLeft);
  bind(m_pSing, 83);
  bind(m_pGrab, 84);
  bind(m_pPictureA, 85);
  bind(m_bar.Bar(), 114);
  bind(m_pProgress, 86);
  bind(m_pElapsed, 87);
  bind(m_pLimit, 88);
  bind(m_pPictureB, 74);
}

void CRecorderView::OnViewActivated(CLayoutNode* pViewArea) {
  CView::OnViewActivated(pViewArea);
  // Measured on the screen: the main window of a square screen is wider than
  // tall by the menu bar, and a square screen is laid out upright.
  m_bLandscape = plat::GetSystemMetrics(plat::SM_CYSCREEN) < plat::GetSystemMetrics(plat::SM_CXSCREEN);
  // The screen's own selection decides: the rotation index alone (2 at 180
  // degrees, 3 at 90) matches none of its variants.
  if (m_pNode) m_pNode->SelectVariants(0, m_bLandscape ? 1 : 0);
}

void CRecorderView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CView::OnLeave(pOld, pNew);
  CQuorelAppUi::ShowNetworkMenuItem(false);
  m_recorderListener.Unsubscribe();
  m_timerListener.Unsubscribe();
  m_startListener.Unsubscribe();
  m_activatedListener.Unsubscribe();
  m_abortedListener.Unsubscribe();
  m_rotatedListener.Unsubscribe();
  SetBacklight(false);
}

bool CRecorderView::OnInput(const TInputEvent& event) {
  if ((event.nKey == plat::VK_LEFT || event.nKey == plat::VK_RIGHT) && !Recorder() && !m_bRecording) {
    if (!event.bPressed) return false;
    int32_t nWanted = event.nKey == plat::VK_LEFT ? 0 : 1;
    if (CurrentMode() != nWanted) SelectMode(nWanted);
    return true;
  }
  return CView::OnInput(event);
}

// ---------------------------------------------------------------------------
// Modes.

void CRecorderView::SelectMode(int32_t nMode) {
  if (m_pContent) m_pContent->Invalidate();
  if (GetAppSettings()) *AppSettings::SearchMode() = nMode;
  SetSearchMode(nMode);
}

void CRecorderView::SetSearchMode(int32_t nMode) {
  if (!m_part.pButton) return;
  if (GetAppSettings()) *AppSettings::SearchMode() = nMode;
  bool bGrab = nMode == 1;
  DebugTrace(bGrab ? u"[QUOREL] User select Grab mode\n" : u"[QUOREL] User select Sing mode\n");
  uint32_t nTheme = GetThemeIndex();
  m_part.pIcon->SetImageId(bGrab ? 246 : 245, true);
  m_part.pCaption->SetTextId(bGrab ? 34 : 32);
  m_part.pCaption->SetTextColor(bGrab ? ThemeModeTextColorB(nTheme) : ThemeModeTextColorA(nTheme), EColorSolid);
  ApplyModeLook(m_pSing, m_pGrab, nMode, -1);
  m_pHeadline->SetTextId(bGrab ? 24 : 23);
  m_pSubHeadline->SetTextId(bGrab ? 40 : 39);
  if (!m_bRecording) CQuorelAppUi::SetLeftSoftKey(bGrab ? kCmdSing : kCmdGrab);
}

void CRecorderView::OnModePress(void* pArgument) {
  ApplyModeLook(m_pSing, m_pGrab, CurrentMode(), static_cast<int32_t>(reinterpret_cast<intptr_t>(pArgument)));
}

void CRecorderView::OnModeState(void*) { ApplyModeLook(m_pSing, m_pGrab, CurrentMode(), -1); }

// ---------------------------------------------------------------------------
// Recording.

void CRecorderView::OnRecordClick() {
  if (m_bRecording)
    StopRecording();
  else
    StartRecording();
}

void CRecorderView::StartRecording() {
  DebugTrace(u"[QUOREL] User started recorder\n");
  CQuorelAppUi::CancelUpdate();
  m_nTicks = 0;
  PrepareRecording();
  m_part.SetRecording(true);
  m_timerListener.Subscribe();
  m_recorderListener.Subscribe();
  CQuorelAppUi::StartSearch();
  m_abortedListener.Subscribe();
  SetBacklight(true);
}

void CRecorderView::PrepareRecording() {
  m_bRecording = true;
  if (m_bLandscape) m_pPictureB->SetVisible(false);
  m_pElapsed->SetVisible(true);
  m_pLimit->SetVisible(true);
  m_pProgress->SetVisible(true);
  m_pProgress->SetThumbSize(1, 0);
  m_pSing->SetActiveWhenDisabled(false);
  m_pGrab->SetActiveWhenDisabled(false);
  m_pElapsed->SetText(u"00:00");
  m_pLimit->SetText(MinutesSeconds(LimitSeconds()));
  CQuorelAppUi::SetLeftSoftKey(kSoftKeyNone);
  CQuorelAppUi::SetRightSoftKey(kCmdCancelRecording);
}

void CRecorderView::OnTimer() {
  CSearchRecorder* pRecorder = Recorder();
  if (!pRecorder) {
    // The recorder went without a word (the search gave up on it).
    if (m_bRecording) CancelRecording();
    return;
  }
  ++m_nTicks;
  int32_t nLength = pRecorder->GetElapsed();
  int32_t nSeconds = nLength / 100 + (nLength % 100 >= 51 ? 1 : 0);
  int32_t nLimit = LimitSeconds();
  m_pProgress->SetThumbSize(nLimit, std::min(nSeconds, nLimit));
  m_pElapsed->SetText(MinutesSeconds(nSeconds));
}

void CRecorderView::StopRecording() {
  CSearchRecorder* pRecorder = Recorder();
  if (!pRecorder) {
    CancelRecording();
    return;
  }
  if (m_nTicks < 2 || pRecorder->GetElapsed() <= 100) return;
  UnsubscribeRecording();
  DebugTrace(u"[QUOREL] User stoped recorder\n");
  pRecorder->RequestStop();
  CQuorelAppUi::PushHistory(2);
  if (CAppUi* pApp = CAppUi::Instance()) pApp->ActivateView(kSearchingView);
}

void CRecorderView::UnsubscribeRecording() {
  m_timerListener.Unsubscribe();
  m_recorderListener.Unsubscribe();
}

void CRecorderView::CancelRecording() {
  DebugTrace(u"[QUOREL] User cancel recorder\n");
  UnsubscribeRecording();
  CQuorelAppUi::StopRecorder();
  SetBacklight(false);
  ResetIdle();
  m_part.SetRecording(false);
}

void CRecorderView::ResetIdle() {
  m_bRecording = false;
  if (m_bLandscape) m_pPictureB->SetVisible(true);
  m_pElapsed->SetVisible(false);
  m_pLimit->SetVisible(false);
  m_pProgress->SetVisible(false);
  m_pSing->SetActiveWhenDisabled(true);
  m_pGrab->SetActiveWhenDisabled(true);
  CQuorelAppUi::SetRightSoftKey(kCmdOptions);
  SetSearchMode(CurrentMode());
}

// ---------------------------------------------------------------------------
// Events.

void CRecorderView::OnRecorderEvent(const int32_t& nState) {
  if (nState == 1) {
    if (!Recorder()) return;
    DebugTrace(u"[QUOREL] User recorder completed wait for results\n");
    m_nTicks = 3;
    StopRecording();
  } else if (nState == 7 || nState == 8) {
    DebugTrace(u"[QUOREL] User recorder error or cancel event\n");
    CancelRecording();
  }
}

void CRecorderView::OnStartRecordingEvent() { SetSearchMode(CurrentMode()); }

void CRecorderView::OnAppActivated(const uint8_t& bActive) {
  if (!bActive) CancelRecording();
}

void CRecorderView::OnSearchAborted() {
  m_abortedListener.Unsubscribe();
  CancelRecording();
}

void CRecorderView::OnDisplayRotated(const TDisplayRotation& rotation) {
  m_pPictureB->SetVisible(!(rotation.nHeight < rotation.nWidth && m_pElapsed->IsVisible()));
}
