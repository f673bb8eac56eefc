#include "app/SettingsView.h"

#include <algorithm>

#include "app/QuorelAppUi.h"
#include "app/ScreenSupport.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"

namespace {
constexpr TColor kSeparatorColor = 0xFF282828;

int32_t OneLineWidth(CGraphics& g, const plat::WString& text, int32_t nHeight) {
  g.SetFont(TFontDesc{nHeight});
  constexpr int32_t kUnbounded = 0x3FFFFFFF;
  const RECT rc = g.DrawText(text, RECT{0, 0, kUnbounded, kUnbounded}, EAlignLeftSingle);
  return rc.right - rc.left;
}

// A section text stays on one line: in the landscape half a text fitted to
// the box's height wraps, and every line, as tall as the box, is cut. The
// font is the largest, up to the box's height, at which the text fits the
// box's width.
void FitOneLine(CDelegate*, void* pObject, void* pArgument) {
  auto* pQuery = static_cast<TAutoFitQuery*>(pArgument);
  if (!pQuery) return;
  const auto* pText = static_cast<const CtlStatic*>(pObject);
  const RECT box = pText->InnerBox();
  const int32_t nMax = box.bottom - box.top;
  pQuery->nResult = nMax;
  if (nMax <= 1 || pQuery->nWidth < 1 || !pQuery->pText || pQuery->pText->empty() || !pText->Window()) return;
  std::unique_ptr<CWindowGraphics> g = pText->CreateGraphics();
  if (!g || OneLineWidth(*g, *pQuery->pText, nMax) <= pQuery->nWidth) return;
  // Wider with every step up in height: the largest that fits, else the
  // smallest font.
  int32_t nLow = 1, nHigh = nMax;
  while (nHigh - nLow > 1) {
    const int32_t nMid = (nLow + nHigh) / 2;
    (OneLineWidth(*g, *pQuery->pText, nMid) <= pQuery->nWidth ? nLow : nHigh) = nMid;
  }
  pQuery->nResult = std::max(nLow, 2);
}

}  // namespace

int32_t CSettingsView::TextMargin(int32_t nWidth, int32_t nHeight) {
  return static_cast<int32_t>(std::max(nWidth, nHeight) * 15 * 0.00125);
}

CtlStatic* CSettingsView::CreateSectionText(int32_t nTextId) {
  CtlStatic* pText = CtlStatic::Create(m_pContent);
  pText->SetTextId(nTextId);
  pText->SetAlignment(EAlignLeft);
  pText->SetTextStyle(EPlaceCenter);
  pText->SetTextColor(ThemeTextColor(GetThemeIndex()), EColorSolid);
  pText->SetAutoFitHandler(CDelegate(pText, nullptr, &FitOneLine));
  const int32_t nMargin = TextMargin(MainWindowWidth(), MainWindowHeight());
  pText->SetMargins(nMargin, nMargin);
  return pText;
}

CtlStatic* CSettingsView::CreateSeparator() {
  CtlStatic* pSeparator = CtlStatic::Create(m_pContent);
  pSeparator->SetBackColor(kSeparatorColor, EColorSolid);
  return pSeparator;
}

void CSettingsView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  BuildEditBar(m_bar, this, 45);
  m_pContent = new CtlPanel();
  m_pContent->Create(this);
  m_pContent->SetColor(ThemeBackgroundColor(GetThemeIndex()));

  m_pUpdateText = CreateSectionText(14);
  m_update.Build(m_pContent);
  m_update.pCaption->SetTextId(46);
  m_update.pButton->SetClickHandler(CDelegate::Member<&CSettingsView::OnUpdateTap>(this));
  m_pSeparator1 = CreateSeparator();

  m_pLanguageText = CreateSectionText(210);
  m_language.Build(m_pContent);
  // The caption stays empty when the current language is not loaded (the
  // ordinal is then the number of loaded languages).
  const std::vector<plat::WString>& names = *AppSettings::UiLanguages();
  const int32_t nOrdinal = LoadedLanguageOrdinal();
  if (nOrdinal >= 0 && static_cast<size_t>(nOrdinal) < names.size())
    m_language.pCaption->SetText(names[static_cast<size_t>(nOrdinal)]);
  m_language.pButton->SetClickHandler(CDelegate::Member<&CSettingsView::OnLanguageTap>(this));
  m_pSeparator2 = CreateSeparator();

  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(14);
  m_update.pButton->SetFocus();
}

void CSettingsView::ApplyLayout(CLayoutNode* pNode) {
  m_bLandscape = MainWindowWidth() >= MainWindowHeight();
  if (m_bLandscape)
    BuildTwoButtonLandscapeLayout(pNode);
  else
    BuildTwoButtonPortraitLayout(pNode);
  const std::pair<int32_t, CControl*> bindings[] = {
      {101, m_pContent},         {106, m_pSeparator1}, {107, m_pSeparator2},     {102, m_pUpdateText},
      {103, m_update.pButton}, {104, m_pLanguageText}, {105, m_language.pButton}, {114, m_bar.Bar()},
  };
  for (const auto& [nId, pControl] : bindings) pControl->SetLayoutNode(pNode->FindNode(nId, -1));
}

void CSettingsView::OnUpdateTap() { CQuorelAppUi::CheckForUpdate(1); }

void CSettingsView::OnLanguageTap() {
  CQuorelAppUi::PushHistory(5);
  if (CAppUi* pApp = CAppUi::Instance()) pApp->ActivateView(21);
}
