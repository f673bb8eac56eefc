#include "app/TrackPageView.h"

#include <algorithm>

#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "framework/AppUi.h"
#include "framework/Theme.h"
#include "layouts/LayoutEdit.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"

namespace {

constexpr int32_t kProgressTotal = 1000;

CtlStatic* NewText(CControl* pParent, TColor colour, int32_t nAlign) {
  CtlStatic* p = CtlStatic::Create(pParent);
  p->SetTextColor(colour, EColorSolid);
  p->SetAlignment(nAlign);
  p->SetPaintedByParent(true);
  return p;
}

CtlStatic* NewPicture(CControl* pParent, int32_t nSlot, bool bScaling) {
  CtlStatic* p = CtlStatic::Create(pParent);
  if (nSlot != -1) p->SetImageId(nSlot, bScaling);
  p->SetPaintedByParent(true);
  return p;
}

void Bind(CControl* pControl, CLayoutNode* pContent, int32_t nId) {
  if (pControl) pControl->SetLayoutNode(pContent->FindNode(nId, -1));
}

// A link row: lit shows the first picture, dim the third; a press on a lit
// row shows the second.
void BuildLinkRow(CDetailsRowB& row, CControl* pParent, int32_t nCaption, int32_t nOn, int32_t nPressed,
                  int32_t nOff) {
  row.Build(pParent);
  row.pButton->SetPaintedByParent(true);
  row.pCaption->SetTextId(nCaption);
  row.SetHighlightImages(nOn, nOff);
  SetButtonStateImages(row, nOn, nPressed, nOn);
  SetRowHighlight(row, false);
}

// From the screen, not the main window: the menu bar must not shrink the
// notes in landscape.
int32_t FooterFontHeight() { return std::max(1, ScreenSmallerSide() * 16 / 480); }

}  // namespace

void ShowDefaultTrackPicture(CtlStatic* pPicture) {
  uint32_t nTheme = GetThemeIndex();
  if (pPicture && nTheme <= 1) pPicture->SetImageId(nTheme == 0 ? 189 : 326, true);
}

void ShowDeliveredPicture(CtlStatic* pPicture, const TImageLoaded& payload) {
  CBitmap* pBitmap = payload.m_scaled.Get() ? payload.m_scaled.Get() : payload.m_unscaled.Get();
  if (pPicture && pBitmap) pPicture->SetImage(pBitmap, true);
}

void ShowUserPicture(CtlStatic* pPicture, const TImageLoaded& payload) {
  if (payload.m_bSuccess)
    ShowDeliveredPicture(pPicture, payload);
  else if (pPicture)
    pPicture->SetImageId(152, true);
}

bool IdleRowImages(int32_t nRest, int32_t (&an)[3]) {
  uint32_t nTheme = GetThemeIndex();
  if (nTheme > 1) return false;
  an[0] = nRest;
  an[1] = nTheme == 0 ? 192 : 323;
  an[2] = 191;
  return true;
}

bool PlayingRowImages(int32_t (&an)[3]) {
  uint32_t nTheme = GetThemeIndex();
  if (nTheme > 1) return false;
  an[0] = 193;
  an[1] = nTheme == 0 ? 194 : 319;
  an[2] = 193;
  return true;
}

// ---------------------------------------------------------------------------

CTrackPageView::CTrackPageView() = default;

CTrackPageView::~CTrackPageView() {
  SetClosing();
  UnsubscribeTrackListeners();
}

void CTrackPageView::CreateBarAndPanel(plat::WStringView title) {
  SetNoBackground();
  BuildEditBar(m_bar, this, 0);
  if (m_bar.pCaption) m_bar.pCaption->SetText(title);
  m_pScroll = CreatePagePanel(this, ThemeBackgroundColor(GetThemeIndex()), true);
}

void CTrackPageView::CreateTrackTexts() {
  CHTTPUserModel* pUsers = AppSettings::GetUserModel();
  CControl* pContent = m_pScroll->GetContentPanel();
  uint32_t nTheme = GetThemeIndex();
  m_pPicture = NewPicture(pContent, -1, true);
  ShowDefaultTrackPicture(m_pPicture);
  m_pName = NewText(pContent, ThemeCaptionColor(nTheme), EAlignLeftSingle);
  m_pArtist = NewText(pContent, ThemeSecondaryTextColor(nTheme), EAlignLeftSingle);
  m_pAlbum = NewText(pContent, ThemeSecondaryTextColor(nTheme), EAlignLeftSingle);
  m_pName->SetText(pUsers->TrackName());
  m_pArtist->SetText(pUsers->ArtistName());
  m_pAlbum->SetText(pUsers->AlbumName());
  for (CtlStatic* p : {m_pName, m_pArtist, m_pAlbum}) {
    p->SetMarquee(true);
    p->SetAutoFit(true);
  }
}

void CTrackPageView::CreateLinkRows() {
  CControl* pContent = m_pScroll->GetContentPanel();
  const bool bTheme1 = GetThemeIndex() == 1;
  BuildLinkRow(m_video, pContent, 79, 197, bTheme1 ? 324 : 198, 199);
  BuildLinkRow(m_buy, pContent, 80, 200, bTheme1 ? 322 : 201, 202);
  if (bTheme1)
    BuildLinkRow(m_lyrics, pContent, 69, 206, 207, 208);
  else
    BuildLinkRow(m_lyrics, pContent, 69, 203, 204, 205);
  m_video.pButton->SetClickHandler(CDelegate::Member<&CTrackPageView::OpenVideo>(this));
  m_buy.pButton->SetClickHandler(CDelegate::Member<&CTrackPageView::OpenBuy>(this));
  m_lyrics.pButton->SetClickHandler(CDelegate::Member<&CTrackPageView::OpenLyrics>(this));
  for (CDetailsRowB* pRow : {&m_video, &m_buy, &m_lyrics}) pRow->pButton->SetDragHandler(m_pScroll->DragDelegate(), true);
}

void CTrackPageView::CreateFooter() {
  CControl* pContent = m_pScroll->GetContentPanel();
  const bool bAmg = IsAMGEnabled();
  const TColor secondary = ThemeSecondaryTextColor(GetThemeIndex());
  m_pFixedPicture = NewPicture(pContent, 274, false);
  m_pSourcePicture = NewPicture(pContent, bAmg ? 281 : 224, false);
  m_pSourceNote = NewText(pContent, secondary, EAlignLeft);
  m_pSourceNote->SetTextId(bAmg ? 215 : 214);
  m_pSourceNote->SetFont(TFontDesc{FooterFontHeight()});
  if (bAmg) {
    m_pAmgNote = NewText(pContent, secondary, EAlignLeft);
    m_pAmgNote->SetTextId(209);
    m_pAmgNote->SetFont(TFontDesc{FooterFontHeight()});
    m_pAmgPicture = NewPicture(pContent, 280, false);
  }
}

void CTrackPageView::SubscribeTrackListeners() {
  m_trackImageListener.Subscribe();
  m_videosListener.Subscribe();
  m_buyListener.Subscribe();
  m_lyricsListener.Subscribe();
  m_playerListener.Subscribe();
  m_tickListener.Subscribe();
}

void CTrackPageView::UnsubscribeTrackListeners() {
  m_trackImageListener.Unsubscribe();
  m_videosListener.Unsubscribe();
  m_buyListener.Unsubscribe();
  m_lyricsListener.Unsubscribe();
  m_playerListener.Unsubscribe();
  m_tickListener.Unsubscribe();
}

CLayoutNode* CTrackPageView::BuildFrame(CLayoutNode* pNode) {
  BuildFrameLayout(pNode);
  if (CtlAdvButton* pBar = m_bar.Bar()) pBar->SetLayoutNode(pNode->FindNode(114, -1));
  m_pScroll->SetLayoutNode(pNode->FindNode(69, -1));
  return m_pScroll->GetContentLayout();
}

void CTrackPageView::BindTrackNodes(CLayoutNode* pContent) {
  Bind(m_pPicture, pContent, 126);
  Bind(m_pName, pContent, 127);
  Bind(m_pArtist, pContent, 128);
  Bind(m_pAlbum, pContent, 129);
  Bind(m_video.pButton, pContent, 141);
  Bind(m_buy.pButton, pContent, 142);
  Bind(m_lyrics.pButton, pContent, 143);
  Bind(m_pFixedPicture, pContent, 145);
  Bind(m_pSourcePicture, pContent, 146);
  Bind(m_pSourceNote, pContent, 149);
  Bind(m_pAmgNote, pContent, 148);
  Bind(m_pAmgPicture, pContent, 147);
}

void CTrackPageView::SelectBuyKey(CLayoutNode* pContent) { pContent->SelectVariants(14, IsHttpUrl(m_buyUrl) ? 1 : 0); }

uint32_t CTrackPageView::VideoLyricsBits() { return (IsVideoEnabled() ? 2u : 0u) + (IsLyricsEnabled() ? 4u : 0u); }

void CTrackPageView::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  CView::OnRectChanged(rcNew, rcOld);
  const bool bSizeChanged = SizeDiffers(rcNew, rcOld);
  if (bSizeChanged && m_pScroll) InstallContentRelayout();
}

void CTrackPageView::InstallContentRelayout() {
  RequestMeasuredPass(m_pScroll, CDelegate::Member<&CTrackPageView::RunContentRelayout>(this));
}

void CTrackPageView::RelayoutContent() {
  // Once: the relayout asked below must not run this again.
  m_pScroll->SetRelayoutHandler(CDelegate());
  if (m_bLeft) return;
  RECT rc = m_pPicture->LocalRect();
  AppSettings::GetUserModel()->RequestTrackImage(rc);
  const int32_t nLarger = ScreenLargerSide();
  const int32_t nMargins = nLarger * 10 / 320 + nLarger * 6 / 320;
  for (CtlStatic* pNote : {m_pAmgNote, m_pSourceNote}) {
    if (!pNote || !pNote->LayoutNode()) continue;
    CLayoutNode* pNode = pNote->LayoutNode();
    int32_t nText = MeasureTextHeight(pNote, pNote->Text(), TFontDesc{FooterFontHeight()}, pNode->GetWidth(), EAlignLeft);
    SetHeightPx(pNode, nText + nMargins);
  }
  m_pScroll->Relayout();
}

void CTrackPageView::ShowPlayed(CtlScrollBar* pBar) {
  int32_t nTotal = CQuorelAppUi::GetPreviewLength();
  if (nTotal <= 0) nTotal = kProgressTotal;
  int32_t nPlayed = std::min(CQuorelAppUi::GetPreviewPlayedSeconds(), nTotal);
  pBar->SetThumbSize(nTotal, nPlayed);
}

void CTrackPageView::ResetBar(CtlScrollBar* pBar) {
  pBar->SetVisible(false);
  pBar->SetThumbSize(kProgressTotal, 0);
}

// ---------------------------------------------------------------------------

void CTrackPageView::HandleTrackImage(const TImageLoaded& payload) {
  if (payload.m_bSuccess)
    ShowDeliveredPicture(m_pPicture, payload);
  else
    ShowDefaultTrackPicture(m_pPicture);
}

void CTrackPageView::HandleVideos(const TTextLoaded& payload) {
  if (!payload.m_bSuccess) return;
  m_videoUrl = payload.m_text;
  if (IsHttpUrl(m_videoUrl)) SetRowHighlight(m_video, true);
}

void CTrackPageView::HandleBuyLinks(const TBuyLinkLoaded& payload) {
  if (!payload.m_bSuccess) return;
  m_buyUrl = payload.m_url;
  if (!IsHttpUrl(m_buyUrl)) return;
  SetRowHighlight(m_buy, true);
  Content()->SelectVariants(14, 1);
  m_pScroll->Relayout();
}

void CTrackPageView::HandleLyrics(const TTextLoaded& payload) {
  if (!payload.m_bSuccess) return;
  m_lyricsUrl = payload.m_text;
  if (IsHttpUrl(m_lyricsUrl)) SetRowHighlight(m_lyrics, true);
}

void CTrackPageView::OpenVideo() { CQuorelAppUi::OpenUrl(m_videoUrl); }
void CTrackPageView::OpenBuy() { CQuorelAppUi::OpenUrl(m_buyUrl); }
void CTrackPageView::OpenLyrics() { CQuorelAppUi::OpenUrl(m_lyricsUrl); }
