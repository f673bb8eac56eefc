#include "app/ScreenSupport.h"

#include <algorithm>

#include "framework/AppUi.h"

CtlScrollPanel* CreatePagePanel(CControl* pParent, TColor background, bool bBarImages) {
  CtlScrollPanel* pPanel = CtlScrollPanel::Create(pParent);
  pPanel->SetColor(background);
  if (bBarImages) pPanel->SetScrollBarImages(37, 38, 39, -1, -1, -1);
  pPanel->SetPaintedByParent(true);
  pPanel->GetContentPanel()->SetPaintedByParent(true);
  return pPanel;
}

int32_t MeasureTextHeight(const CControl* pControl, plat::WStringView text, const TFontDesc& font, int32_t nWidth,
                          int32_t nAlign) {
  if (text.empty() || nWidth < 1 || font.nPixelHeight < 1 || !pControl || !pControl->Window()) return 0;
  std::unique_ptr<CWindowGraphics> pGraphics = pControl->CreateGraphics();
  if (!pGraphics) return 0;
  pGraphics->SetFont(font);
  RECT rc = pGraphics->DrawText(text, RECT{0, 0, nWidth, 0x3FFFFFFF}, nAlign);
  return rc.bottom > rc.top ? rc.bottom - rc.top : 0;
}

int32_t StandardHeightNow(int32_t nIndex) {
  CAppUi* pApp = CAppUi::Instance();
  CLayoutNode* pRoot = pApp ? pApp->GetRootLayout() : nullptr;
  CLayoutNode* pNode = pRoot && nIndex >= 0 && nIndex <= 4 ? pRoot->FindNode(34 + nIndex, -1) : nullptr;
  if (!pNode || !pNode->IsLaidOut()) return 0;
  return std::max(1, pApp->GetStandardHeight(nIndex));
}

void RequestMeasuredPass(CtlScrollPanel* pPanel, const CDelegate& handler) {
  pPanel->SetRelayoutHandler(handler);
  pPanel->Relayout();
}

int32_t MainWindowWidth() {
  CAppUi* pApp = CAppUi::Instance();
  return pApp ? pApp->Rect().right - pApp->Rect().left : 0;
}

int32_t MainWindowHeight() {
  CAppUi* pApp = CAppUi::Instance();
  return pApp ? pApp->Rect().bottom - pApp->Rect().top : 0;
}
