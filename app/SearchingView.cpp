#include "app/SearchingView.h"

#include "app/QuorelAppUi.h"
#include "app/RecorderView.h"
#include "framework/AppUi.h"
#include "framework/Theme.h"
#include "layouts/Layouts.h"
#include "protocol/AppSettings.h"

namespace {
constexpr int32_t kCmdBack = 8;
constexpr int32_t kFramePeriod = 4;

}  // namespace

CSearchingView::CSearchingView() { SetEnableStateRaw(EnableOn); }

CSearchingView::~CSearchingView() {
  if (s_pCurrent == this) s_pCurrent = nullptr;
  SetClosing();
  delete m_pOverlay;
}

CView* CSearchingView::NewView() { return new CSearchingView(); }

void CSearchingView::Create(CControl* pParent, plat::WStringView className, plat::WStringView title) {
  CView::Create(pParent, className, title);
  s_pCurrent = this;
  uint32_t nTheme = GetThemeIndex();
  m_pBackground = NewControl<CtlPanel>([&](CtlPanel* p) { p->Create(this); });
  m_pBackground->SetColor(ThemeBackgroundColor(nTheme));
  m_painter.SetImage(149);
  m_pBackground->SetPainter(&m_painter);
  m_pSing = CreateModeButton(m_pBackground, 0);
  m_pGrab = CreateModeButton(m_pBackground, 1);
  ApplyModeLook(m_pSing, m_pGrab, GetAppSettings() ? *AppSettings::SearchMode() : 0, -1);
  // The wait panel draws the screen under its veil through the parents.
  m_pSing->SetPaintedByParent(true);
  m_pGrab->SetPaintedByParent(true);
  m_pPicture = CtlStatic::Create(m_pBackground);
  m_pPicture->SetImageId(274, false);
  BuildEditBar(m_bar, this, 0);

  m_pOverlay = CPanelDialog::New();
  m_pOverlay->SetEnabled(false);  // an animation and a text: no focus stop
  m_pOverlay->SetHideOnTap(false);
  m_pOverlay->SetDrawBackground(true);
  m_pAnimation = CtlAnimation::Create(m_pOverlay);
  for (int32_t nFrame = 122; nFrame <= 138; nFrame += 2) m_pAnimation->AddFrame(nFrame);
  m_pAnimation->SetFrameInterval(kFramePeriod);
  m_pText = CtlStatic::Create(m_pOverlay);
  m_pText->SetTextId(59);
  m_pText->SetTextColor(ThemeSearchingPainterColor(nTheme), EColorSolid);
  m_pText->SetAlignment(EAlignCenterSingle);
  m_pText->SetAutoFit(true);
  m_pOverlay->ShowPanel();
  m_pAnimation->Show(true);

  CQuorelAppUi::SetLeftSoftKey(0);
  CQuorelAppUi::SetRightSoftKey(kCmdBack);
}

void CSearchingView::ApplyLayout(CLayoutNode* pNode) {
  BuildSearchingLayout(pNode);
  BuildSearchingLayout(m_pOverlay->OwnLayout());
  auto bind = [](CLayoutNode* pTree, CControl* p, int32_t nId) { p->SetLayoutNode(pTree->FindNode(nId, -1)); };
  bind(pNode, m_pBackground, 96);
  bind(pNode, m_pSing, 83);
  bind(pNode, m_pGrab, 84);
  bind(pNode, m_pPicture, 85);
  bind(pNode, m_bar.Bar(), 114);
  bind(m_pOverlay->OwnLayout(), m_pAnimation, 99);
  bind(m_pOverlay->OwnLayout(), m_pText, 100);
  // A rebuild with the same size would not lay the panel out on its own.
  m_pOverlay->LayOutOwnTree();
}

void CSearchingView::OnLeave(TViewRecord* pOld, TViewRecord* pNew) {
  CView::OnLeave(pOld, pNew);
  if (GetAppSettings()) *AppSettings::CurrentItem() = -1;
  m_pOverlay->HidePanel();
}
