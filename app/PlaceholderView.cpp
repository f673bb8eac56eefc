#include "app/PlaceholderView.h"

#include <string>

#include "app/QuorelAppUi.h"
#include "framework/Graphics.h"
#include "framework/Theme.h"
#include "framework/Trace.h"
#include "protocol/AppSettings.h"

void ViewSoftKeyCommands(int32_t nViewId, int32_t& nLeft, int32_t& nRight) {
  nLeft = 0;
  nRight = 0;
  switch (nViewId) {
    case 2:
      nLeft = 16;
      nRight = 14;
      return;
    case 4:
    case 5:
    case 13:
    case 14:
      nRight = 14;
      return;
    case 12:
      nRight = 8;
      return;
    case 16: {
      const bool bMessage = GetAppSettings() && *AppSettings::MessagePending() != 0;
      if (!bMessage) {
        nLeft = 3;
      } else if (*AppSettings::MessageRequired()) {
        nLeft = AppSettings::MessageUrl()->empty() ? 0 : 13;
        nRight = 1;
      } else {
        nLeft = 3;
        nRight = 14;
      }
      return;
    }
    case 19:
      nLeft = 3;
      return;
    default:
      return;
  }
}

CPlaceholderView::CPlaceholderView(int32_t nViewId) : m_nViewId(nViewId) {
  SetColor(ThemeBackgroundColor(GetThemeIndex()));
  SetEnableStateRaw(EnableOn);
}

void CPlaceholderView::OnViewActivated(CLayoutNode* pViewArea) {
  CView::OnViewActivated(pViewArea);
  DebugTrace(u"[QUOREL] View %d is a placeholder: its screen is not built yet\n", m_nViewId);
  int32_t nLeft = 0, nRight = 0;
  ViewSoftKeyCommands(m_nViewId, nLeft, nRight);
  CQuorelAppUi::SetLeftSoftKey(nLeft);
  CQuorelAppUi::SetRightSoftKey(nRight);
}

void CPlaceholderView::Paint(CGraphics& g, const POINT& origin, const RECT& clip) {
  CView::Paint(g, origin, clip);
  const RECT local = LocalRect();
  const RECT rc{origin.x, origin.y, origin.x + local.right, origin.y + local.bottom};
  g.SetFont(TFontDesc{std::max<int32_t>(12, local.bottom / 12), true});
  g.SetFillColor(0, EColorOff);
  g.SetLineColor(ThemeTextColor(GetThemeIndex()), EColorSolid);
  const plat::WString text = u"View " + plat::Widen(std::to_string(m_nViewId));
  g.DrawTextEx(text, rc, EAlignCenter, TFraction(1, 1), EPlaceCenter);
}

bool CPlaceholderView::OnInput(const TInputEvent& event) {
  const bool bTap = event.nKey == KeyPointer && !event.bPressed && IsTap();
  const bool bEnter = event.nKey == plat::VK_RETURN && !event.bPressed;
  if (bTap || bEnter) {
    CQuorelAppUi::BackOrCancelFollowUp();
    return true;
  }
  return event.nKey == KeyPointer || CView::OnInput(event);
}
