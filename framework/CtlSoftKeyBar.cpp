#include "framework/CtlSoftKeyBar.h"

#include "framework/AppUi.h"
#include "framework/Resources.h"
#include "framework/Theme.h"
#include "framework/WidgetLayouts.h"

namespace {
constexpr int32_t kBackgroundImage = 217;
constexpr int32_t kTextNode = 40;
}  // namespace

CtlSoftKeyBar::~CtlSoftKeyBar() {
  if (m_pBackground) m_pBackground->removeReference();
}

CtlSoftKeyBar* CtlSoftKeyBar::Create(CControl* pParent, int32_t nKind) {
  auto* p = NewControl<CtlSoftKeyBar>([&](CtlSoftKeyBar* q) {
    q->Init(pParent);
    q->m_nKind = nKind;
    q->SetAutoFit(true);
    q->SetMarquee(false);
    q->SetTextColor(ThemeTextColor(GetThemeIndex()), EColorSolid);
    q->CtlStatic::SetFont(TFontDesc{0, true, false, false});
    q->SetLineFraction(TFraction(1, 2));
    q->SetClickHandler(CDelegate::Member<&CtlSoftKeyBar::PostKey>(q));
  });
  return p;
}

void CtlSoftKeyBar::SetText(plat::WStringView text) {
  m_bHasText = !text.empty();
  CtlStatic::SetText(text);
}

// The application treats it as the phone's soft key, on a later turn.
void CtlSoftKeyBar::PostKey() {
  CAppUi* pApp = CAppUi::Instance();
  if (!pApp || (m_nKind != ELeft && m_nKind != ERight)) return;
  pApp->PostInput(TInputEvent{0, m_nKind == ELeft ? kKeyLeftSoftKey : kKeyRightSoftKey, 0, 0});
}

void CtlSoftKeyBar::OnLayoutNodeChanged(CLayoutNode* pNode) {
  if (pNode) RunSoftKeyBarLayout(pNode);
}

void CtlSoftKeyBar::OnLayoutChanged(CLayoutNode* pNode) {
  CtlStatic::OnLayoutChanged(pNode);
  if (pNode != LayoutNode() || !pNode->IsLaidOut()) return;
  SetAlignment(Rect().left != 0 ? EAlignRight : EAlignLeft);
  // The text area's offset inside the bar.
  CLayoutNode* pText = pNode->FindNode(kTextNode, -1);
  if (pText && pText->IsLaidOut()) {
    RECT rc = pText->GetRect(CLayoutNode::SpaceStored);
    if (rc.left != m_nMarginH || rc.top != m_nMarginV) SetMargins(rc.left, rc.top);
  }
}

void CtlSoftKeyBar::OnRectChanged(const RECT& rcNew, const RECT& rcOld) {
  if (SizeDiffers(rcNew, rcOld)) {
    CBitmap* pOld = m_pBackground;
    m_pBackground = CResources::GetImage(kBackgroundImage, EScaleStretch, LocalRect());
    if (pOld) pOld->removeReference();
    Invalidate();
  }
  CtlStatic::OnRectChanged(rcNew, rcOld);
}

void CtlSoftKeyBar::Paint(CGraphics& g, const POINT& origin, const RECT&) {
  if (m_pBackground) g.DrawBitmap(m_pBackground, origin.x, origin.y, RECT{});
  PaintContent(g, origin);
}
